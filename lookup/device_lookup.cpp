#include "device_lookup.h"

#include "pattern_extract.h"
#include "service_contract.h"

namespace mizong::device {

namespace {

// The opening markup of a value cell; fields 6 to 10 capture it with the value.
constexpr QStringView kCellMarkup =
    u"<td width=\"70%\" scope=\"col\" abbr=\"Starter\"><span class=\"STYLE2 STYLE1 STYLE11 "
    u"biaoti\"><strong>";

QList<FieldRule> makeFieldRules()
{
    return {
        {Field::Carrier,
         joinPieces(
             {u"激活卡所属运营商(.*?)", kCrLf,
              u"(.*?)<td width=\"70%\"><span class=\"STYLE2 STYLE1 STYLE11 biaoti\"><strong> ",
              kCrLf, u"(.*?)</strong></span></td>"}),
         2, false},
        {Field::FirstActivation,
         joinPieces(
             {u"首次激活时间</span></th>", kCrLf,
              u"(.*?)<td width=\"70%\" scope=\"col\" abbr=\"Starter\"><span class=\"STYLE2 STYLE1 "
              u"STYLE11 biaoti\"><span class=\"biaoti\">(.*?)</span></span></td>"}),
         1, false},
        {Field::LatestActivation, joinPieces({u"<span class=\"biaoti STYLE8\">(.*?)</span>"}), 0,
         false},
        {Field::Model, joinPieces({kCellMarkup, u"(.*?)</strong></span>"}), 0, false},
        {Field::SerialNumber, joinPieces({kCellMarkup, u"(.*?)</strong></span></td>"}), 0, false},
        {Field::ManufactureDate,
         joinPieces({u"出厂日期(.*?)", kCrLf, u"(.*?)</strong></span></td>"}), 1, true},
        {Field::IosVersion,
         joinPieces({u"iOS版本</span></th>", kCrLf, u"(.*?)</strong></span></td>"}), 0, true},
        {Field::PurchaseDate, joinPieces({u"购买时间(.*?)", kCrLf, u"(.*?)</strong></span></td>"}),
         1, true},
        {Field::WarrantyExpiry,
         joinPieces({u"过保时间(.*?)", kCrLf, u"(.*?)</strong></span></td>"}), 1, true},
        {Field::RemainingWarranty,
         joinPieces({u"剩余保修时间(.*?)", kCrLf, u"(.*?)</strong></span></td>"}), 1, true},
    };
}

Screening screen(QStringView page)
{
    if (page.contains(service::kReplacedProductPhrase))
        return Screening::ReplacedProduct;
    if (page.contains(service::kInvalidSerialPhrase))
        return Screening::InvalidSerial;
    return Screening::Clean;
}

} // namespace

std::optional<QString> identifierFrom(QStringView input)
{
    QString identifier = trimBlanks(withoutInvisibles(input));
    if (identifier.size() != 15 && identifier.size() != 12)
        return std::nullopt;
    return identifier;
}

QString requestUrl(QStringView serviceBase, QStringView identifier)
{
    return service::deviceResultUrl(serviceBase, identifier);
}

const QList<FieldRule>& fieldRules()
{
    static const QList<FieldRule> rules = makeFieldRules();
    return rules;
}

QString finishValue(const FieldRule& rule, QStringView matched)
{
    if (rule.stripCellMarkup)
        return trimBlanks(removeAll(matched, kCellMarkup));
    return trimBlanks(matched);
}

Slots extractFields(QStringView page)
{
    Slots values;
    for (const FieldRule& rule : fieldRules()) {
        if (const std::optional<QString> value = extractGroup(page, rule.pattern, rule.group))
            values[slot(rule.field)] = finishValue(rule, *value);
    }
    return values;
}

QString Reading::refusal() const
{
    switch (screening) {
    case Screening::ReplacedProduct:
        return kReplacedProductMessage.toString();
    case Screening::InvalidSerial:
        return kInvalidSerialMessage.toString();
    case Screening::Clean:
        break;
    }
    return {};
}

Reading readPage(QStringView page, const QLocale& locale)
{
    Reading reading;
    reading.screening = screen(page);
    if (reading.refused())
        return reading;
    reading.values = extractFields(page);
    reading.verdict = decideVerdict(reading.values[slot(Field::FirstActivation)],
                                    reading.values[slot(Field::LatestActivation)], locale);
    return reading;
}

} // namespace mizong::device
