#include "device_lookup.h"
#include "service_contract.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>

namespace mizong::device {

namespace {

// Where day, month and year stand among a numeric date's three numbers.
struct FieldOrder
{
    int day = 0;
    int month = 1;
    int year = 2;
};

constexpr FieldOrder kYearMonthDay{2, 1, 0};
constexpr FieldOrder kMonthDayYear{1, 0, 2};

FieldOrder orderOf(const QString& format)
{
    qsizetype day = -1, month = -1, year = -1;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == u'd' && day < 0 && format.mid(i, 3) != u"ddd")
            day = i;
        else if (c == u'M' && month < 0)
            month = i;
        else if (c == u'y' && year < 0)
            year = i;
    }
    if (day < 0 || month < 0 || year < 0)
        return {};
    const auto rank = [&](qsizetype at) {
        return int(at > day) + int(at > month) + int(at > year);
    };
    return {rank(day), rank(month), rank(year)};
}

// Two-digit years as the platform reads them by default (its two-digit-year
// maximum is 2049): 00-49 are 20xx, 50-99 are 19xx.
std::optional<int> yearOf(QStringView digits)
{
    const int value = digits.toInt();
    if (digits.size() == 4)
        return value;
    if (digits.size() == 2)
        return value < 50 ? 2000 + value : 1900 + value;
    return std::nullopt;
}

std::optional<QDate> validDay(std::optional<int> year, int month, int day)
{
    if (!year)
        return std::nullopt;
    const QDate date(*year, month, day);
    return date.isValid() ? std::optional(date) : std::nullopt;
}

using DateNumbers = std::array<QStringView, 3>;

std::optional<QDate> dayInOrder(const DateNumbers& numbers, FieldOrder order)
{
    const QStringView day = numbers[order.day];
    const QStringView month = numbers[order.month];
    if (day.size() > 2 || month.size() > 2)
        return std::nullopt;
    return validDay(yearOf(numbers[order.year]), month.toInt(), day.toInt());
}

bool isDigits(QStringView token)
{
    return !token.isEmpty() &&
           std::all_of(token.begin(), token.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// A name as a date text may write it: any case, with or without an
// abbreviation's dot.
bool sameName(QStringView token, QString name)
{
    if (token.endsWith(u'.'))
        token.chop(1);
    if (name.endsWith(u'.'))
        name.chop(1);
    return !name.isEmpty() && token.compare(name, Qt::CaseInsensitive) == 0;
}

// Extraction trims only U+0020, yet a tab or an ideographic space is a blank
// to whoever wrote the page: both become U+0020, and blanks around go.
QString withPlainBlanks(QStringView text)
{
    QString plain = text.toString();
    plain.replace(u'\t', u' ').replace(QChar(0x3000), u' ');
    qsizetype from = 0, to = plain.size();
    while (from < to && plain.at(from) == u' ')
        ++from;
    while (to > from && plain.at(to - 1) == u' ')
        --to;
    return plain.mid(from, to - from);
}

// Reads the texts a user's regional settings write dates in, as the
// platform's lenient conversion does for full dates: numeric dates in the
// locale's own order, with its month and weekday names, and the year-first
// forms always; then an optional time of day, which is checked but plays no
// part. Where the platform would invent a day (no year, no day of the month,
// a weekday that is not the date's), the reader gives none.
class DateReader
{
public:
    explicit DateReader(const QLocale& locale)
        : m_locale(locale), m_order(orderOf(locale.dateFormat(QLocale::ShortFormat))),
          m_split(QRegularExpression::anchoredPattern(
              QStringLiteral("(?<date>.+?)(?:(?:T|,[ ]*|[ ]+|(?<=日))%1)?")
                  .arg(timePattern(locale))))
    {}

    // The day of a text, or, failing the reader's own forms, whatever else
    // the locale's exact formats write (a zone name, a weekday elsewhere).
    std::optional<QDate> readDay(QStringView text) const
    {
        const QString plain = withPlainBlanks(text);
        if (std::optional<QDate> day = read(plain))
            return day;
        if (std::optional<QDate> day = readBesideWeekday(plain))
            return day;
        for (QLocale::FormatType format : {QLocale::ShortFormat, QLocale::LongFormat}) {
            const QDate day = m_locale.toDate(plain, format);
            if (day.isValid())
                return day;
            const QDateTime moment = m_locale.toDateTime(plain, format);
            if (moment.isValid())
                return moment.date();
        }
        return std::nullopt;
    }

private:
    std::optional<QDate> read(const QString& text) const
    {
        const QRegularExpressionMatch m = m_split.match(text);
        if (!m.hasMatch())
            return std::nullopt;
        if (m.hasCaptured(u"hour") && !validTime(m))
            return std::nullopt;
        return readDate(m.capturedView(u"date"));
    }

    // The locale's weekday name before the date (a comma may follow it) or
    // after the date or date-time; it must be the date's own.
    std::optional<QDate> readBesideWeekday(const QString& text) const
    {
        static const QRegularExpression before(
            QRegularExpression::anchoredPattern(u"([^ ,]+)(?:[ ]*,[ ]*|[ ]+)(.+)"));
        static const QRegularExpression after(
            QRegularExpression::anchoredPattern(u"(.+)[ ]+([^ ]+)"));
        for (const auto& [pattern, name, rest] :
             {std::tuple(&before, 1, 2), std::tuple(&after, 2, 1)}) {
            const QRegularExpressionMatch m = pattern->match(text);
            const std::optional<int> weekday =
                m.hasMatch() ? weekdayNamed(m.capturedView(name)) : std::nullopt;
            if (!weekday)
                continue;
            const std::optional<QDate> day = read(m.captured(rest));
            return day && day->dayOfWeek() == *weekday ? day : std::nullopt;
        }
        return std::nullopt;
    }

    // Fractions of a second, "Z", "UTC" and an offset are read past. The hour
    // stands alone only beside a designator ("3 PM", "下午3").
    static QString timePattern(const QLocale& locale)
    {
        QStringList designators{QStringLiteral("AM"), QStringLiteral("PM")};
        for (const QString& text : {locale.amText(), locale.pmText()}) {
            if (!text.isEmpty())
                designators.append(QRegularExpression::escape(text));
        }
        const QString designator = QStringLiteral("(?i:%1)").arg(designators.join(u'|'));
        return QStringLiteral("(?:(?<before>%1)[ ]*)?(?<hour>[0-9]{1,2})"
                              "(?::(?<minute>[0-9]{1,2})(?::(?<second>[0-9]{1,2})(?:[.,][0-9]+)?)?"
                              "|(?(<before>)|(?=[ ]*(?:%1))))"
                              "(?:[ ]*(?<after>%1))?"
                              "(?:[ ]*(?:Z|(?:UTC|GMT)?[+-][0-9]{2}(?::?[0-9]{2})?|UTC|GMT))?")
            .arg(designator);
    }

    // A designator does not bound the hour: careless formatters write
    // "0:30 AM" and "13:00 PM", and the day is not in doubt.
    static bool validTime(const QRegularExpressionMatch& m)
    {
        if (m.hasCaptured(u"before") && m.hasCaptured(u"after"))
            return false;
        const auto number = [&](QStringView name) { return m.capturedView(name).toInt(); };
        return number(u"hour") < 24 && number(u"minute") < 60 && number(u"second") < 60;
    }

    std::optional<QDate> readDate(QStringView text) const
    {
        static const QRegularExpression chinese(
            QRegularExpression::anchoredPattern(u"([0-9]{4})年([0-9]{1,2})月([0-9]{1,2})日(.*)"));
        static const QRegularExpression numeric(QRegularExpression::anchoredPattern(
            u"([0-9]{1,4})([-/. ])([0-9]{1,2})\\2([0-9]{1,4})"));
        const QString owned = text.toString();
        if (const QRegularExpressionMatch m = chinese.match(owned); m.hasMatch()) {
            const std::optional<QDate> day = validDay(
                m.capturedView(1).toInt(), m.capturedView(2).toInt(), m.capturedView(3).toInt());
            return day && weekdayFits(m.capturedView(4), *day) ? day : std::nullopt;
        }
        if (const QRegularExpressionMatch m = numeric.match(owned); m.hasMatch()) {
            return numericDate({m.capturedView(1), m.capturedView(3), m.capturedView(4)},
                               m.capturedView(2).front());
        }
        return namedMonthDate(text);
    }

    std::optional<QDate> numericDate(const DateNumbers& numbers, QChar separator) const
    {
        FieldOrder expected = m_order;
        if (numbers[0].size() == 4) {
            // Four digits first is year, month, day.
            expected = kYearMonthDay;
            if (std::optional<QDate> day =
                    validDay(numbers[0].toInt(), numbers[1].toInt(), numbers[2].toInt()))
                return day;
        } else {
            // A year-first locale's platform reads a four-digit year last as
            // the American order, except in dotted dates.
            if (m_order.year == 0 && numbers[2].size() == 4 && separator != u'.')
                expected = kMonthDayYear;
            if (std::optional<QDate> day = dayInOrder(numbers, expected))
                return day;
        }
        // Day and month the other way round is then the only date the text can
        // be. The year stays put: moving it would read a day as a two-digit
        // year ("25-31-12").
        std::swap(expected.day, expected.month);
        return dayInOrder(numbers, expected);
    }

    // A weekday written after the 年月日 form must be the date's own.
    bool weekdayFits(QStringView rest, QDate day) const
    {
        rest = rest.trimmed();
        return rest.isEmpty() || sameName(rest, m_locale.dayName(day.dayOfWeek())) ||
               sameName(rest, m_locale.dayName(day.dayOfWeek(), QLocale::ShortFormat));
    }

    using NameOf = QString (QLocale::*)(int, QLocale::FormatType) const;

    // The number (from 1) whose name, long or short, in running text or
    // standing alone, the token is.
    std::optional<int> named(QStringView token, int count, NameOf name, NameOf standalone) const
    {
        for (int i = 1; i <= count; ++i) {
            for (QLocale::FormatType format : {QLocale::LongFormat, QLocale::ShortFormat}) {
                if (sameName(token, (m_locale.*name)(i, format)) ||
                    sameName(token, (m_locale.*standalone)(i, format)))
                    return i;
            }
        }
        return std::nullopt;
    }

    std::optional<int> monthNamed(QStringView token) const
    {
        return named(token, 12, &QLocale::monthName, &QLocale::standaloneMonthName);
    }

    std::optional<int> weekdayNamed(QStringView token) const
    {
        return named(token, 7, &QLocale::dayName, &QLocale::standaloneDayName);
    }

    // "1 Feb 2013", "Feb 1, 2013", "1. Februar 2013", with an optional
    // weekday that must be the date's own.
    std::optional<QDate> namedMonthDate(QStringView text) const
    {
        static const QRegularExpression separators(QStringLiteral("[ \\t,./-]+"));
        std::optional<int> month, weekday;
        QList<QStringView> numbers;
        const QString owned = text.toString();
        for (QStringView token : QStringView(owned).split(separators, Qt::SkipEmptyParts)) {
            if (isDigits(token)) {
                numbers.append(token);
            } else if (std::optional<int> named = monthNamed(token); named && !month) {
                month = named;
            } else if (std::optional<int> day = weekdayNamed(token); day && !weekday) {
                weekday = day;
            } else {
                return std::nullopt;
            }
        }
        if (!month || numbers.size() != 2)
            return std::nullopt;
        // A four-digit number is the year wherever it stands; otherwise the
        // locale's order of day and year decides.
        const bool yearFirst =
            numbers[0].size() == 4 || (numbers[1].size() != 4 && m_order.year < m_order.day);
        const QStringView dayText = numbers[yearFirst ? 1 : 0];
        if (dayText.size() > 2)
            return std::nullopt;
        const std::optional<QDate> day =
            validDay(yearOf(numbers[yearFirst ? 0 : 1]), *month, dayText.toInt());
        if (day && weekday && day->dayOfWeek() != *weekday)
            return std::nullopt;
        return day;
    }

    QLocale m_locale;
    FieldOrder m_order;
    QRegularExpression m_split;
};

} // namespace

std::optional<QDate> activationDay(QStringView text, const QLocale& locale)
{
    return DateReader(locale).readDay(text);
}

Verdict decideVerdict(const std::optional<QString>& first, const std::optional<QString>& latest,
                      const QLocale& locale)
{
    if (!first || first->isEmpty() || !latest || latest->isEmpty())
        return Verdict::None;
    // One reader for both: its patterns are made for the locale once.
    const DateReader reader(locale);
    const std::optional<QDate> firstDay = reader.readDay(*first);
    const std::optional<QDate> latestDay = reader.readDay(*latest);
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
