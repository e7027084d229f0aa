#include "sim_lookup.h"

#include "pattern_extract.h"
#include "service_contract.h"

namespace mizong::sim {

namespace {

constexpr QStringView kValueOpen = u"<div class=\"STYLE14\"><span class=\"STYLE15\">";

// The label line, the end of the label cell, the value cell's opening on two
// lines; the value line follows.
QString labelledRow(QStringView label)
{
    return joinPieces({label, u"(.*?)", kCrLf, u"(.*?)</div></th>", kCrLf,
                       u"(.*?)<td width=\"74%\">", kCrLf, u"(.*?)", kValueOpen, kCrLf});
}

QString carrierPattern()
{
    return joinPieces({u"运营商</div>", kCrLf, u"(.*?)</div></th>", kCrLf,
                       u"(.*?)<td width=\"74%\">", kValueOpen, kCrLf, u"(.*?)</span></div></td>"});
}

QString phonePattern()
{
    return joinPieces({labelledRow(u"手机号"), u"(.*?)</span>"});
}

QString cardAgePattern()
{
    return joinPieces({labelledRow(u"卡年代"), u"(.*?)年", kCrLf, u"(.*?)</span>"});
}

QString plainAreaPattern()
{
    return joinPieces({labelledRow(u"归属地"), u"(.*?)</span></div></td>"});
}

// Group 4 is the first value line, group 5 the line break with the second
// value line, group 6 that line alone.
QString areaCodePattern()
{
    return joinPieces(
        {labelledRow(u"归属地"), u"(.*?)(", kCrLf, u"(.*?))", kCrLf, u"(.*?)</span>"});
}

QString areaValue(QStringView line)
{
    return trimBlanks(removeBlanks(line));
}

} // namespace

std::optional<QString> iccidFrom(QStringView input)
{
    QString iccid = trimBlanks(withoutInvisibles(input));
    if (iccid.isEmpty())
        return std::nullopt;
    return iccid;
}

QString requestUrl(QStringView serviceBase, QStringView iccid)
{
    return service::simPageUrl(serviceBase, iccid);
}

Slots extractFields(QStringView page)
{
    Slots values;
    if (auto carrier = extractGroup(page, carrierPattern(), 2))
        values[slot(Field::Carrier)] = trimBlanks(*carrier);
    if (auto phone = extractGroup(page, phonePattern(), 4))
        values[slot(Field::PhoneNumber)] = trimBlanks(*phone);
    if (auto age = extractGroup(page, cardAgePattern(), 4))
        values[slot(Field::CardAge)] = joinPieces({trimBlanks(*age), u"年"});

    // The box is a single line: the two lines of the area-code form are joined
    // without the line break.
    if (page.contains(kAreaCodeLabel)) {
        if (auto lines = extractGroups(page, areaCodePattern(), {4, 6}))
            values[slot(Field::HomeArea)] = areaValue(lines->at(0)) + areaValue(lines->at(1));
    } else if (auto area = extractGroup(page, plainAreaPattern(), 4)) {
        values[slot(Field::HomeArea)] = areaValue(*area);
    }
    return values;
}

Reading readPage(QStringView page)
{
    Reading reading;
    reading.rejected = page.contains(service::kInvalidIccidPhrase);
    if (!reading.rejected)
        reading.values = extractFields(page);
    return reading;
}

QStringList fieldPatterns()
{
    return {carrierPattern(), phonePattern(), cardAgePattern(), plainAreaPattern(),
            areaCodePattern()};
}

} // namespace mizong::sim
