#include "device_lookup.h"
#include "service_contract.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

namespace mizong::device {

namespace {

std::optional<QDate> numericDay(QStringView text)
{
    // Year, month and day with one separator used twice, or the 年月日 form
    // (whose time may also follow directly); the time of day is read only to
    // reject impossible ones. The empty group keeps the numbering of both alike.
    static const QRegularExpression separated(
        QRegularExpression::anchoredPattern(u"([0-9]{4})([-/.])([0-9]{1,2})\\2([0-9]{1,2})"
                                            u"(?:[ T]([0-9]{1,2}):([0-9]{2})(?::([0-9]{2}))?)?"));
    static const QRegularExpression chinese(
        QRegularExpression::anchoredPattern(u"([0-9]{4})()年([0-9]{1,2})月([0-9]{1,2})日"
                                            u"(?:[ T]?([0-9]{1,2}):([0-9]{2})(?::([0-9]{2}))?)?"));

    for (const QRegularExpression* re : {&separated, &chinese}) {
        // A date is short: matching a copy keeps to the API every Qt 6 has.
        const QRegularExpressionMatch m = re->match(text.toString());
        if (!m.hasMatch())
            continue;
        const QDate day(m.capturedView(1).toInt(), m.capturedView(3).toInt(),
                        m.capturedView(4).toInt());
        if (!day.isValid())
            return std::nullopt;
        if (m.hasCaptured(5)) {
            const QTime time(m.capturedView(5).toInt(), m.capturedView(6).toInt(),
                             m.hasCaptured(7) ? m.capturedView(7).toInt() : 0);
            if (!time.isValid())
                return std::nullopt;
        }
        return day;
    }
    return std::nullopt;
}

} // namespace

std::optional<QDate> activationDay(QStringView text, const QLocale& locale)
{
    if (auto day = numericDay(text))
        return day;
    const QString owned = text.toString();
    for (QLocale::FormatType format : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QDate day = locale.toDate(owned, format);
        if (day.isValid())
            return day;
        const QDateTime moment = locale.toDateTime(owned, format);
        if (moment.isValid())
            return moment.date();
    }
    return std::nullopt;
}

Verdict decideVerdict(const std::optional<QString>& first, const std::optional<QString>& latest,
                      const QLocale& locale)
{
    if (!first || first->isEmpty() || !latest || latest->isEmpty())
        return Verdict::None;
    const std::optional<QDate> firstDay = activationDay(*first, locale);
    const std::optional<QDate> latestDay = activationDay(*latest, locale);
    // A text that reads as no date gives no verdict rather than a guess.
    if (!firstDay || !latestDay)
        return Verdict::None;
    const qint64 days = firstDay->toJulianDay() - latestDay->toJulianDay();
    return days == 0 ? Verdict::NotReactivated : Verdict::Reactivated;
}

VerdictCaptions captionsFor(Verdict verdict)
{
    switch (verdict) {
    case Verdict::NotReactivated:
        return {kNotReactivatedCaption.toString(), kNotReactivatedLink.toString(), true};
    case Verdict::Reactivated:
        return {kReactivatedCaption.toString(), kReactivatedLink.toString(), true};
    case Verdict::None:
        break;
    }
    return {};
}

std::optional<QStringView> helpPathForLink(QStringView caption)
{
    if (caption == kNotReactivatedLink)
        return site::kHelpNotReactivatedPath;
    if (caption == kReactivatedLink)
        return site::kHelpReactivatedPath;
    return std::nullopt;
}

} // namespace mizong::device
