#include "device_lookup.h"
#include "page_fetch.h"
#include "service_contract.h"
#include "sim_lookup.h"
#include "test_data.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QTest>

#include <utility>

using namespace Qt::StringLiterals;
using namespace mizong;

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)
Q_DECLARE_METATYPE(mizong::device::Slots)
Q_DECLARE_METATYPE(mizong::sim::Slots)

namespace {

// The page as the lookups get it: through the fetch's decoder, under the
// service's charset.
QString fixture(const QString& name)
{
    const std::optional<QString> page =
        BytesToBstr(mizong::testing::dataFile(name), service::kPageCharset);
    return page.value_or(QString());
}

QString described(const OptionalText& value)
{
    return value ? u"\""_s + *value + u"\""_s : u"<no value>"_s;
}

// One line per field, so a failure names the field and shows both texts.
template <std::size_t N>
QStringList described(const FieldSlots<N>& values, const QStringList& fields)
{
    QStringList lines;
    for (std::size_t i = 0; i < N; ++i)
        lines.append(fields.at(qsizetype(i)) + u": "_s + described(values[i]));
    return lines;
}

const QStringList kDeviceFields = {
    u"first activation"_s, u"latest activation"_s, u"carrier"_s,     u"model"_s,
    u"serial number"_s,    u"manufacture date"_s,  u"iOS version"_s, u"purchase date"_s,
    u"warranty expiry"_s,  u"remaining warranty"_s};
const QStringList kSimFields = {u"carrier"_s, u"phone number"_s, u"card age"_s, u"home area"_s};

device::Slots deviceSlots(std::initializer_list<std::pair<device::Field, QString>> values)
{
    device::Slots slotValues;
    for (const auto& [field, text] : values)
        slotValues[device::slot(field)] = text;
    return slotValues;
}

sim::Slots simSlots(OptionalText carrier, OptionalText phone, OptionalText age, OptionalText area)
{
    return {std::move(carrier), std::move(phone), std::move(age), std::move(area)};
}

// All ten boxes with a value: the pages of the service's full layout.
device::Slots fullDevice(const QStringList& texts)
{
    device::Slots slotValues;
    for (std::size_t i = 0; i < device::kFieldCount; ++i)
        slotValues[i] = texts.at(qsizetype(i));
    return slotValues;
}

} // namespace

class TestLookup : public QObject
{
    Q_OBJECT

private slots:
    void identifierRule_data();
    void identifierRule();
    void screening_data();
    void screening();
    void deviceExtraction_data();
    void deviceExtraction();
    // The calendar day read under each locale's regional settings.
    void activationDayC_data();
    void activationDayC() { checkActivationDay(QLocale::c()); }
    void activationDayEnUs_data();
    void activationDayEnUs()
    {
        checkActivationDay(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void activationDayDeDe_data();
    void activationDayDeDe() { checkActivationDay(QLocale(QLocale::German, QLocale::Germany)); }
    void activationDayZhCn_data();
    void activationDayZhCn() { checkActivationDay(QLocale(QLocale::Chinese, QLocale::China)); }
    void activationDayJaJp_data();
    void activationDayJaJp() { checkActivationDay(QLocale(QLocale::Japanese, QLocale::Japan)); }
    void activationDayEnGb_data();
    void activationDayEnGb()
    {
        checkActivationDay(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }
    void verdict_data();
    void verdict();
    void captions_data();
    void captions();
    void helpPathForOtherCaptions_data();
    void helpPathForOtherCaptions();
    void iccidRule_data();
    void iccidRule();
    void simRejected_data();
    void simRejected();
    void simExtraction_data();
    void simExtraction();

private:
    static void checkActivationDay(const QLocale& locale);
};

void TestLookup::identifierRule_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<OptionalText>("expected");

    const auto ok = [](const QString& text) { return OptionalText(text); };
    QTest::newRow("IMEI") << u"358805052512340"_s << ok(u"358805052512340"_s);
    QTest::newRow("serial") << u"F2LK70QCDTWD"_s << ok(u"F2LK70QCDTWD"_s);
    QTest::newRow("blanks around are not counted")
        << u"   358805052512340  "_s << ok(u"358805052512340"_s);
    QTest::newRow("blanks inside count") << u"358 805 052 512"_s << ok(u"358 805 052 512"_s);
    QTest::newRow("11") << u"F2LK70QCDTW"_s << OptionalText();
    QTest::newRow("13") << u"3588050525123"_s << OptionalText();
    QTest::newRow("14") << u"35880505251234"_s << OptionalText();
    QTest::newRow("16") << u"3588050525123401"_s << OptionalText();
    QTest::newRow("empty") << QString() << OptionalText();
    QTest::newRow("fifteen blanks") << QString(15, u' ') << OptionalText();
    QTest::newRow("twelve Chinese characters")
        << u"苹果手机序列号测试一二三"_s << ok(u"苹果手机序列号测试一二三"_s);
    QTest::newRow("punctuation") << u"#&%+= ?!@$^*"_s << ok(u"#&%+= ?!@$^*"_s);
    QTest::newRow("tab is not trimmed") << u"\t35880505251234"_s << ok(u"\t35880505251234"_s);
    QTest::newRow("tab counts") << u"\t358805052512340"_s << OptionalText();
    QTest::newRow("ideographic space is not trimmed")
        << u"35880505251234\u3000"_s << ok(u"35880505251234\u3000"_s);
    // Eleven characters, twelve UTF-16 units.
    QTest::newRow("surrogate pair counts twice")
        << u"F2LK70QCDT\U0001F600"_s << ok(u"F2LK70QCDT\U0001F600"_s);

    // Pasted invisibles are dropped wherever they stand, before trimming and
    // before the length rule.
    const QString imei = u"358805052512340"_s;
    QTest::newRow("zero-width space around") << u"\u200B"_s + imei + u"\u200B"_s << ok(imei);
    QTest::newRow("bidi marks and isolates")
        << u"\u202A\u200E"_s + imei + u"\u2069\u202C"_s << ok(imei);
    QTest::newRow("every invisible, inside too")
        << u"\u00AD\u200B\u200C\u200D\u200E\u200F\u202A\u202B\u202C\u202D\u202E358805"
           u"\u2060\u2061\u2062\u2063\u2064\u2066\u2067\u2068\u2069\uFEFF052512340"_s
        << ok(imei);
    QTest::newRow("byte order mark before blanks")
        << u"\uFEFF  "_s + imei + u" \u200B "_s << ok(imei);
    QTest::newRow("invisibles do not count") << u"\u200B35880505251234\u200B"_s << OptionalText();
    QTest::newRow("neighbours kept")
        << u"\u200A\u2065\u2070\u202F35880505251"_s << ok(u"\u200A\u2065\u2070\u202F35880505251"_s);
    QTest::newRow("only invisibles") << QString(15, QChar(0x200B)) << OptionalText();
}

void TestLookup::identifierRule()
{
    QFETCH(QString, input);
    QFETCH(OptionalText, expected);
    QCOMPARE(described(device::identifierFrom(input)), described(expected));
}

void TestLookup::screening_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<device::Screening>("expected");
    QTest::addColumn<QString>("message");

    using device::Screening;
    const QString replaced = device::kReplacedProductMessage.toString();
    const QString invalid = device::kInvalidSerialMessage.toString();
    QTest::newRow("empty page") << QString() << Screening::Clean << QString();
    QTest::newRow("full page") << fixture(u"device-reactivated.html"_s) << Screening::Clean
                               << QString();
    QTest::newRow("other layout") << fixture(u"other-layout.html"_s) << Screening::Clean
                                  << QString();
    QTest::newRow("replaced product")
        << fixture(u"device-replaced.html"_s) << Screening::ReplacedProduct << replaced;
    QTest::newRow("invalid serial")
        << fixture(u"device-invalid.html"_s) << Screening::InvalidSerial << invalid;
    // The invalid phrase comes first in that page; precedence is by phrase.
    QTest::newRow("both phrases") << fixture(u"device-both-phrases.html"_s)
                                  << Screening::ReplacedProduct << replaced;
    QTest::newRow("phrase inside a word")
        << u"abc这是已更换产品的序列号号码xyz"_s << Screening::ReplacedProduct << replaced;
    QTest::newRow("phrase broken by a line")
        << u"此序列号\r\n无效"_s << Screening::Clean << QString();
    QTest::newRow("near miss") << u"此序列号有效"_s << Screening::Clean << QString();
}

void TestLookup::screening()
{
    QFETCH(QString, page);
    QFETCH(device::Screening, expected);
    QFETCH(QString, message);
    const device::Reading reading = device::readPage(page, QLocale::c());
    QCOMPARE(reading.screening, expected);
    QCOMPARE(reading.refused(), expected != device::Screening::Clean);
    QCOMPARE(reading.refusal(), message);
    // A refused page is not read any further.
    if (reading.refused()) {
        QCOMPARE(described(reading.values, kDeviceFields),
                 described(device::Slots(), kDeviceFields));
        QCOMPARE(reading.verdict, device::Verdict::None);
    }
}

void TestLookup::deviceExtraction_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<device::Slots>("expected");
    QTest::addColumn<device::Verdict>("verdict");

    using device::Field;
    using device::Verdict;
    QTest::newRow("not re-activated")
        << u"device-not-reactivated.html"_s
        << fullDevice({u"2013-01-15 10:21:33"_s, u"2013-01-15 10:21:33"_s, u"中国联通"_s,
                       u"iPhone 5 (A1429)"_s, u"F2LK70QCDTWD"_s, u"2012-10-08"_s, u"6.1.2"_s,
                       u"2013-01-15"_s, u"2014-01-14"_s, u"还剩 287 天"_s})
        << Verdict::NotReactivated;
    QTest::newRow("re-activated") << u"device-reactivated.html"_s
                                  << fullDevice({u"2012-11-03 14:05:27"_s, u"2013-02-18 09:12:40"_s,
                                                 u"中国移动"_s, u"iPhone 4S (A1387)"_s,
                                                 u"DX4HG2KJDTC1"_s, u"2012-09-21"_s, u"6.1"_s,
                                                 u"2012-11-03"_s, u"2013-11-02"_s,
                                                 u"还剩 257 天"_s})
                                  << Verdict::Reactivated;
    QTest::newRow("same day, different times")
        << u"device-same-day.html"_s
        << fullDevice({u"2013年3月2日 08:15:00"_s, u"2013年3月2日 21:40:12"_s, u"中国电信"_s,
                       u"iPhone 5 (A1428)"_s, u"C8QJR1ZXDTTN"_s, u"2013-01-27"_s, u"6.1.2"_s,
                       u"2013-03-02"_s, u"2014-03-01"_s, u"还剩 352 天"_s})
        << Verdict::NotReactivated;
    QTest::newRow("some fields") << u"device-partial.html"_s
                                 << deviceSlots(
                                        {{Field::Model, u"iPad mini (A1432)"_s},
                                         {Field::SerialNumber, u"F2LKQ0XYDTWF"_s},
                                         {Field::ManufactureDate, u"2012-12-03"_s},
                                         {Field::RemainingWarranty, u"设备尚未激活，保修未开始"_s}})
                                 << Verdict::None;
    // Only the three patterns without a line break can match.
    QTest::newRow("LF only") << u"device-lf-only.html"_s
                             << deviceSlots({{Field::LatestActivation, u"2012-06-30 19:45:02"_s},
                                             {Field::Model, u"iPhone 4 (A1332)"_s},
                                             {Field::SerialNumber, u"88025ZKXA4S"_s}})
                             << Verdict::None;
    // Model cell closed by </td>: the serial box shows the model too. Tabs
    // stay, U+3000 stays, a blank-only value is the empty text, an LF-only
    // label line and upper-case markup miss, a repeated label uses the first.
    QTest::newRow("edge cases") << u"device-edge-cases.html"_s
                                << deviceSlots(
                                       {{Field::FirstActivation, u"2013-03-02 08:15:00"_s},
                                        {Field::LatestActivation, u""_s},
                                        {Field::Carrier, u"\t中国电信"_s},
                                        {Field::Model, u"iPhone 4S"_s},
                                        {Field::SerialNumber, u"iPhone 4S"_s},
                                        {Field::ManufactureDate, u"\t\t 2012-12-20"_s},
                                        {Field::PurchaseDate, u"2013-01-05"_s},
                                        {Field::RemainingWarranty, u"\u3000还剩 300 天\u3000"_s}})
                                << Verdict::None;
    QTest::newRow("other layout") << u"other-layout.html"_s << device::Slots() << Verdict::None;
    QTest::newRow("empty page") << QString() << device::Slots() << Verdict::None;
}

void TestLookup::deviceExtraction()
{
    QFETCH(QString, file);
    QFETCH(device::Slots, expected);
    QFETCH(device::Verdict, verdict);

    const QString page = file.isEmpty() ? QString() : fixture(file);
    const device::Reading reading = device::readPage(page, QLocale::c());
    QVERIFY(!reading.refused());
    QCOMPARE(described(reading.values, kDeviceFields), described(expected, kDeviceFields));
    QCOMPARE(reading.verdict, verdict);
}

namespace {

const QDate kFeb1(2013, 2, 1);
const QDate kJan2(2013, 1, 2);
const QDate kJan13(2013, 1, 13);
const QDate kNone; // not a date

void addDayColumns()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("expected");
}

// The year-first forms, read whatever the locale.
void addYearFirstRows()
{
    QTest::newRow("ISO") << u"2013-02-01"_s << kFeb1;
    QTest::newRow("ISO, one digit") << u"2013-2-1"_s << kFeb1;
    QTest::newRow("slashes") << u"2013/02/01"_s << kFeb1;
    QTest::newRow("dots, one digit") << u"2013.2.1"_s << kFeb1;
    QTest::newRow("blanks") << u"2013 2 1"_s << kFeb1;
    QTest::newRow("年月日") << u"2013年02月01日"_s << kFeb1;
    QTest::newRow("年月日, one digit") << u"2013年2月1日"_s << kFeb1;
    QTest::newRow("time H:MM") << u"2013-02-01 10:21"_s << kFeb1;
    QTest::newRow("time H:MM:SS") << u"2013-02-01 10:21:33"_s << kFeb1;
    QTest::newRow("milliseconds") << u"2013-02-01 10:00:00.000"_s << kFeb1;
    QTest::newRow("two blanks before the time") << u"2013-02-01  10:00:00"_s << kFeb1;
    QTest::newRow("ISO with T and Z") << u"2013-02-01T10:00:00Z"_s << kFeb1;
    QTest::newRow("offset: the day as written") << u"2013-02-01T23:30:00-05:00"_s << kFeb1;
    QTest::newRow("offset without colon") << u"2013-02-01 00:10:00 +0800"_s << kFeb1;
    QTest::newRow("one-digit hour") << u"2013/2/1 8:05"_s << kFeb1;
    QTest::newRow("12-hour, AM/PM") << u"2013-02-01 3:04:05 PM"_s << kFeb1;
    QTest::newRow("12-hour, lower case") << u"2013-02-01 12:30 am"_s << kFeb1;
    QTest::newRow("年月日, time directly") << u"2013年2月1日8:05"_s << kFeb1;
    QTest::newRow("年月日, time after blank") << u"2013年2月1日 08:05:09"_s << kFeb1;
    QTest::newRow("leap day") << u"2012-02-29"_s << QDate(2012, 2, 29);
    QTest::newRow("Feb 30") << u"2013-02-30"_s << kNone;
    QTest::newRow("Feb 29 of a common year") << u"2013年2月29日"_s << kNone;
    QTest::newRow("month 13") << u"2013-13-01"_s << kJan13;
    QTest::newRow("month and day 13") << u"2013-13-13"_s << kNone;
    QTest::newRow("hour 24") << u"2013-02-01 24:00"_s << kNone;
    QTest::newRow("minute 60") << u"2013-02-01 10:60"_s << kNone;
    QTest::newRow("second 60") << u"2013-02-01 10:00:60"_s << kNone;
    QTest::newRow("13 PM") << u"2013-02-01 13:00 PM"_s << kFeb1;
    QTest::newRow("0 AM") << u"2013-02-01 0:30 AM"_s << kFeb1;
    QTest::newRow("00:00 PM") << u"2013-02-01 00:00 PM"_s << kFeb1;
    QTest::newRow("24 PM") << u"2013-02-01 24:00 PM"_s << kNone;
    QTest::newRow("two designators") << u"2013-02-01 PM 3:04 PM"_s << kNone;
    QTest::newRow("one-digit minute") << u"2013-02-01 10:5"_s << kFeb1;
    QTest::newRow("one-digit minute and second") << u"2013-2-1 8:5:3"_s << kFeb1;
    QTest::newRow("hour alone, PM") << u"2013-02-01 3 PM"_s << kFeb1;
    QTest::newRow("hour alone, PM without blank") << u"2013-02-01 3PM"_s << kFeb1;
    QTest::newRow("hour alone without designator") << u"2013-02-01 15"_s << kNone;
    QTest::newRow("comma before the time") << u"2013-02-01, 15:04:05"_s << kFeb1;
    QTest::newRow("tab inside the date") << u"2013\t2\t1"_s << kFeb1;
    QTest::newRow("tabs around") << u"\t2013-02-01 10:21\t"_s << kFeb1;
    QTest::newRow("ideographic space before the time") << u"2013-02-01\u300010:21:33"_s << kFeb1;
    QTest::newRow("ideographic spaces around") << u"\u30002013/2/1\u3000"_s << kFeb1;
    QTest::newRow("bare time") << u"15:04:05"_s << kNone;
    QTest::newRow("bare hour with designator") << u"3 PM"_s << kNone;
    QTest::newRow("year and month") << u"2013-02"_s << kNone;
    QTest::newRow("mixed separators") << u"2013-02/01"_s << kNone;
    QTest::newRow("time without separator") << u"2013-02-0110:21"_s << kNone;
    QTest::newRow("trailing text") << u"2013-02-01 later"_s << kNone;
    QTest::newRow("trailing line feed") << u"2013-02-01\n"_s << kNone;
    QTest::newRow("full-width digits") << u"２０１３-02-01"_s << kNone;
    QTest::newRow("word") << u"未激活"_s << kNone;
    QTest::newRow("fallback text") << kFallbackText.toString() << kNone;
    QTest::newRow("three-digit year") << u"013-02-01"_s << kNone;
}

} // namespace

void TestLookup::activationDayC_data()
{
    addDayColumns();
    addYearFirstRows();
    // Day, month, year, as the C locale's "d MMM yyyy" orders them.
    QTest::newRow("numeric") << u"1/2/2013"_s << kFeb1;
    QTest::newRow("numeric, two-digit year") << u"13-01-15"_s << QDate(2015, 1, 13);
    QTest::newRow("short date") << u"1 Feb 2013"_s << kFeb1;
    QTest::newRow("long date") << u"Friday, 1 February 2013"_s << kFeb1;
    QTest::newRow("long date, wrong weekday") << u"Thursday, 1 February 2013"_s << kNone;
    QTest::newRow("short date-time") << u"1 Feb 2013 08:05:03"_s << kFeb1;
    QTest::newRow("Chinese designator") << u"2013/2/1 下午 3:04:05"_s << kNone;
    QTest::newRow("zh long date") << u"2013年2月1日星期五"_s << kNone;
    QTest::newRow("only month first is a date") << u"1/13/2013"_s << kJan13;
    QTest::newRow("weekday before ISO") << u"Fri 2013-02-01"_s << kFeb1;
    QTest::newRow("Chinese weekday") << u"2013-02-01 星期五"_s << kNone;
}

void TestLookup::activationDayEnUs_data()
{
    addDayColumns();
    addYearFirstRows();
    QTest::newRow("M/d/yyyy h:mm:ss AP") << u"2/1/2013 3:04:05 PM"_s << kFeb1;
    QTest::newRow("M/d/yy") << u"2/1/13"_s << kFeb1;
    QTest::newRow("MM/dd/yyyy HH:mm") << u"02/01/2013 15:04"_s << kFeb1;
    QTest::newRow("dashes") << u"2-1-2013"_s << kFeb1;
    QTest::newRow("year 29 is 2029") << u"1/2/29"_s << QDate(2029, 1, 2);
    QTest::newRow("year 30 is 2030") << u"1/2/30"_s << QDate(2030, 1, 2);
    QTest::newRow("year 49 is 2049") << u"1/2/49"_s << QDate(2049, 1, 2);
    QTest::newRow("year 50 is 1950") << u"1/2/50"_s << QDate(1950, 1, 2);
    QTest::newRow("month first: 13 is no month") << u"13/1/2013"_s << kJan13;
    QTest::newRow("13 as month either way") << u"13/13/2013"_s << kNone;
    QTest::newRow("only day first, two-digit year") << u"25/12/13"_s << QDate(2013, 12, 25);
    QTest::newRow("hour alone after M/d/yyyy") << u"2/1/2013 3 PM"_s << kFeb1;
    QTest::newRow("weekday before ISO") << u"Fri 2013-02-01"_s << kFeb1;
    QTest::newRow("long weekday and comma before ISO") << u"Friday, 2013-02-01"_s << kFeb1;
    QTest::newRow("weekday after the date-time") << u"2013-02-01 15:04:05 Fri"_s << kFeb1;
    QTest::newRow("weekday before M/d/yyyy") << u"Fri 2/1/2013"_s << kFeb1;
    QTest::newRow("wrong weekday before ISO") << u"Thu 2013-02-01"_s << kNone;
    QTest::newRow("wrong weekday after the date-time") << u"2013-02-01 15:04:05 Thu"_s << kNone;
    QTest::newRow("Chinese weekday") << u"2013-02-01 星期五"_s << kNone;
    QTest::newRow("no year") << u"Feb 1"_s << kNone;
    QTest::newRow("no day") << u"Feb 2013"_s << kNone;
    QTest::newRow("three-digit year last") << u"2/1/013"_s << kNone;
    QTest::newRow("short month name") << u"Feb 1, 2013"_s << kFeb1;
    QTest::newRow("long month name, time") << u"February 1, 2013 3:04 PM"_s << kFeb1;
    QTest::newRow("long date") << u"Friday, February 1, 2013"_s << kFeb1;
    QTest::newRow("long date-time with zone")
        << u"Friday, February 1, 2013 3:04:05 PM UTC"_s << kFeb1;
    QTest::newRow("wrong weekday") << u"Thursday, February 1, 2013"_s << kNone;
    QTest::newRow("two month names") << u"Feb February 1 2013"_s << kNone;
    QTest::newRow("German month") << u"1. Februar 2013"_s << kNone;
    QTest::newRow("Chinese designator") << u"2013/2/1 下午 3:04:05"_s << kNone;
}

void TestLookup::activationDayDeDe_data()
{
    addDayColumns();
    addYearFirstRows();
    QTest::newRow("dd.MM.yyyy HH:mm:ss") << u"01.02.2013 15:04:05"_s << kFeb1;
    QTest::newRow("d.M.yy") << u"1.2.13"_s << kFeb1;
    QTest::newRow("slashes, day first") << u"01/02/2013"_s << kFeb1;
    QTest::newRow("blanks, day first") << u"01 02 2013"_s << kFeb1;
    QTest::newRow("day 31 of February") << u"31.02.2013"_s << kNone;
    QTest::newRow("long date") << u"1. Februar 2013"_s << kFeb1;
    QTest::newRow("long date with weekday") << u"Freitag, 1. Februar 2013"_s << kFeb1;
    QTest::newRow("short month name") << u"1. Feb. 2013 10:00"_s << kFeb1;
    QTest::newRow("month name, any case") << u"1 FEBRUAR 2013"_s << kFeb1;
    QTest::newRow("English month") << u"1 February 2013"_s << kNone;
    QTest::newRow("only month first is a date") << u"1/13/2013"_s << kJan13;
    QTest::newRow("dotted, only month first") << u"01.13.2013"_s << kJan13;
    QTest::newRow("comma before the time") << u"01.02.2013, 15:04"_s << kFeb1;
    QTest::newRow("short weekday with dot before ISO") << u"Fr. 2013-02-01"_s << kFeb1;
    QTest::newRow("weekday after ISO") << u"2013-02-01 Freitag"_s << kFeb1;
    QTest::newRow("wrong weekday before ISO") << u"Do. 2013-02-01"_s << kNone;
}

void TestLookup::activationDayZhCn_data()
{
    addDayColumns();
    addYearFirstRows();
    QTest::newRow("yyyy/M/d 下午") << u"2013/2/1 下午 3:04:05"_s << kFeb1;
    QTest::newRow("yyyy/M/d 上午, no blank") << u"2013/2/1 上午10:00"_s << kFeb1;
    QTest::newRow("下午 12 is noon") << u"2013/2/1 下午12:30"_s << kFeb1;
    QTest::newRow("年月日 下午") << u"2013年2月1日 下午3:04"_s << kFeb1;
    QTest::newRow("yy/M/d: year first") << u"13/2/1"_s << kFeb1;
    QTest::newRow("M/d/yyyy: month first") << u"1/2/2013"_s << kJan2;
    QTest::newRow("M/d/yyyy h:mm:ss AP") << u"2/1/2013 3:04:05 PM"_s << kFeb1;
    QTest::newRow("MM-dd-yyyy") << u"01-02-2013"_s << kJan2;
    QTest::newRow("blanks, year last") << u"01 02 2013"_s << kJan2;
    QTest::newRow("year last, 13 can only be the day") << u"13/1/2013"_s << kJan13;
    QTest::newRow("dots, year last: day or month") << u"01.02.2013"_s << kNone;
    QTest::newRow("two-digit year last") << u"1/2/13"_s << kNone;
    QTest::newRow("hour alone after 下午") << u"2013/2/1 下午3"_s << kFeb1;
    QTest::newRow("ideographic space before 下午") << u"2013/2/1\u3000下午3:04"_s << kFeb1;
    QTest::newRow("weekday after ISO") << u"2013-02-01 星期五"_s << kFeb1;
    QTest::newRow("weekday after slashes") << u"2013/2/1 星期五"_s << kFeb1;
    QTest::newRow("weekday before ISO") << u"星期五 2013-02-01"_s << kFeb1;
    QTest::newRow("short weekday after the date-time") << u"2013/2/1 下午 3:04:05 周五"_s << kFeb1;
    QTest::newRow("wrong weekday after ISO") << u"2013-02-01 星期四"_s << kNone;
    QTest::newRow("English weekday") << u"Fri 2013-02-01"_s << kNone;
    QTest::newRow("long date") << u"2013年2月1日星期五"_s << kFeb1;
    QTest::newRow("long date, wrong weekday") << u"2013年2月1日星期四"_s << kNone;
    QTest::newRow("long date-time") << u"2013年2月1日星期五 UTC 08:05:03"_s << kFeb1;
    QTest::newRow("English month") << u"1 Feb 2013"_s << kNone;
}

void TestLookup::activationDayJaJp_data()
{
    addDayColumns();
    addYearFirstRows();
    QTest::newRow("yyyy/MM/dd H:mm") << u"2013/02/01 15:04"_s << kFeb1;
    QTest::newRow("午後") << u"2013/02/01 午後3:04:05"_s << kFeb1;
    QTest::newRow("yy/MM/dd: year first") << u"13/02/01"_s << kFeb1;
    QTest::newRow("M/d/yyyy: month first") << u"2/1/2013"_s << kFeb1;
    QTest::newRow("MM-dd-yyyy") << u"01-02-2013"_s << kJan2;
    QTest::newRow("dots, year last: day or month") << u"01.02.2013"_s << kNone;
    QTest::newRow("two-digit year last") << u"1/2/13"_s << kNone;
    QTest::newRow("long date") << u"2013年2月1日金曜日"_s << kFeb1;
    QTest::newRow("long date, wrong weekday") << u"2013年2月1日木曜日"_s << kNone;
    QTest::newRow("long date-time") << u"2013年2月1日金曜日 15時04分05秒 UTC"_s << kFeb1;
    QTest::newRow("weekday after slashes") << u"2013/02/01 金曜日"_s << kFeb1;
    QTest::newRow("short weekday before slashes") << u"金 2013/02/01"_s << kFeb1;
    QTest::newRow("short weekday after the date-time") << u"2013/02/01 15:04:05 金"_s << kFeb1;
    QTest::newRow("wrong weekday") << u"2013/02/01 木曜日"_s << kNone;
    QTest::newRow("English weekday") << u"Fri 2013-02-01"_s << kNone;
}

void TestLookup::activationDayEnGb_data()
{
    addDayColumns();
    addYearFirstRows();
    QTest::newRow("dd/MM/yyyy HH:mm") << u"01/02/2013 15:04"_s << kFeb1;
    QTest::newRow("d/M/yy") << u"1/2/13"_s << kFeb1;
    QTest::newRow("lower-case pm") << u"01/02/2013 3:04 pm"_s << kFeb1;
    QTest::newRow("year 49 is 2049") << u"1/2/49"_s << QDate(2049, 2, 1);
    QTest::newRow("year 50 is 1950") << u"1/2/50"_s << QDate(1950, 2, 1);
    QTest::newRow("day first: 13 is the day") << u"13/1/2013"_s << kJan13;
    QTest::newRow("only month first is a date") << u"1/13/2013"_s << kJan13;
    QTest::newRow("13 as month either way") << u"13/13/2013"_s << kNone;
    QTest::newRow("long date") << u"Friday, 1 February 2013"_s << kFeb1;
    QTest::newRow("weekday before ISO") << u"Fri 2013-02-01"_s << kFeb1;
    QTest::newRow("weekday after the date-time") << u"2013-02-01 15:04:05 Fri"_s << kFeb1;
    QTest::newRow("wrong weekday before ISO") << u"Sat 2013-02-01"_s << kNone;
    QTest::newRow("no year") << u"1 Feb"_s << kNone;
    QTest::newRow("no day") << u"Feb 2013"_s << kNone;
}

void TestLookup::checkActivationDay(const QLocale& locale)
{
    QFETCH(QString, text);
    QFETCH(QDate, expected);
    QCOMPARE(device::activationDay(text, locale).value_or(QDate()), expected);
}

void TestLookup::verdict_data()
{
    QTest::addColumn<OptionalText>("first");
    QTest::addColumn<OptionalText>("latest");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<device::Verdict>("expected");

    using device::Verdict;
    const QLocale c = QLocale::c();
    const auto t = [](const QString& text) { return OptionalText(text); };
    QTest::newRow("same day, different times")
        << t(u"2013-03-02 08:15:00"_s) << t(u"2013-03-02 21:40:12"_s) << c
        << Verdict::NotReactivated;
    QTest::newRow("late, then early next day")
        << t(u"2013-03-02 23:59:59"_s) << t(u"2013-03-03 00:00:01"_s) << c << Verdict::Reactivated;
    QTest::newRow("latest earlier than first")
        << t(u"2013-03-05"_s) << t(u"2013-03-01"_s) << c << Verdict::Reactivated;
    QTest::newRow("equal texts") << t(u"2013/3/2 8:15"_s) << t(u"2013/3/2 8:15"_s) << c
                                 << Verdict::NotReactivated;
    QTest::newRow("same day in two forms")
        << t(u"2013年3月2日 08:15"_s) << t(u"2013.3.2T21:40"_s) << c << Verdict::NotReactivated;
    QTest::newRow("same day of another month")
        << t(u"2013-01-02"_s) << t(u"2013-02-02"_s) << c << Verdict::Reactivated;
    QTest::newRow("same day of another year")
        << t(u"2012-03-02"_s) << t(u"2013-03-02"_s) << c << Verdict::Reactivated;
    QTest::newRow("first missing") << OptionalText() << t(u"2013-03-02"_s) << c << Verdict::None;
    QTest::newRow("latest missing") << t(u"2013-03-02"_s) << OptionalText() << c << Verdict::None;
    QTest::newRow("both missing") << OptionalText() << OptionalText() << c << Verdict::None;
    QTest::newRow("first empty") << t(QString()) << t(u"2013-03-02"_s) << c << Verdict::None;
    QTest::newRow("latest empty") << t(u"2013-03-02"_s) << t(QString()) << c << Verdict::None;
    QTest::newRow("first unreadable") << t(u"未激活"_s) << t(u"2013-03-02"_s) << c << Verdict::None;
    QTest::newRow("latest unreadable")
        << t(u"2013-03-02"_s) << t(u"无相关信息"_s) << c << Verdict::None;
    QTest::newRow("impossible date")
        << t(u"2013-02-30"_s) << t(u"2013-03-02"_s) << c << Verdict::None;
    QTest::newRow("locale long form")
        << t(u"2013年1月15日星期二"_s) << t(u"2013-01-15 18:00"_s)
        << QLocale(QLocale::Chinese, QLocale::China) << Verdict::NotReactivated;
    QTest::newRow("year last and weekday, same day")
        << t(u"2/1/2013 3:04:05 PM"_s) << t(u"2013-02-01 星期五"_s)
        << QLocale(QLocale::Chinese, QLocale::China) << Verdict::NotReactivated;
    QTest::newRow("year last is month first")
        << t(u"1/2/2013"_s) << t(u"2013-02-01"_s) << QLocale(QLocale::Chinese, QLocale::China)
        << Verdict::Reactivated;
    QTest::newRow("ideographic space and tab")
        << t(u"\u30002013-03-02 08:15:00"_s) << t(u"2013-03-02\t21:40:12\u3000"_s) << c
        << Verdict::NotReactivated;
}

void TestLookup::verdict()
{
    QFETCH(OptionalText, first);
    QFETCH(OptionalText, latest);
    QFETCH(QLocale, locale);
    QFETCH(device::Verdict, expected);
    QCOMPARE(device::decideVerdict(first, latest, locale), expected);
}

void TestLookup::captions_data()
{
    QTest::addColumn<device::Verdict>("verdict");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("cursor");
    QTest::addColumn<QString>("helpPath");

    QTest::newRow("none") << device::Verdict::None << QString() << QString() << false << QString();
    QTest::newRow("not re-activated")
        << device::Verdict::NotReactivated << u"手机还未刷机，请耐心等待!"_s
        << u"如何催促对方刷机？点击查看！"_s << true << u"/201302/287.html"_s;
    QTest::newRow("re-activated") << device::Verdict::Reactivated
                                  << u"手机已经被刷机！请及时复查刷机信息！"_s
                                  << u"如何判断小偷已经刷机？点击查看！"_s << true
                                  << u"/201302/285.html"_s;
}

void TestLookup::captions()
{
    QFETCH(device::Verdict, verdict);
    QFETCH(QString, caption);
    QFETCH(QString, link);
    QFETCH(bool, cursor);
    QFETCH(QString, helpPath);

    const device::VerdictCaptions captions = device::captionsFor(verdict);
    QCOMPARE(captions.verdict, caption);
    QCOMPARE(captions.link, link);
    QCOMPARE(captions.linkCursor, cursor);
    QCOMPARE(device::helpPathForLink(captions.link).value_or(QStringView()).toString(), helpPath);
}

void TestLookup::helpPathForOtherCaptions_data()
{
    QTest::addColumn<QString>("caption");

    QTest::newRow("verdict caption") << u"手机已经被刷机！请及时复查刷机信息！"_s;
    QTest::newRow("trailing blank") << u"如何催促对方刷机？点击查看！ "_s;
    QTest::newRow("ASCII punctuation") << u"如何判断小偷已经刷机?点击查看!"_s;
    QTest::newRow("fallback text") << kFallbackText.toString();
}

void TestLookup::helpPathForOtherCaptions()
{
    QFETCH(QString, caption);
    QVERIFY(!device::helpPathForLink(caption));
}

void TestLookup::iccidRule_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<OptionalText>("expected");

    QTest::newRow("ICCID") << u"89860114831001234567"_s << OptionalText(u"89860114831001234567"_s);
    QTest::newRow("any length") << u"8"_s << OptionalText(u"8"_s);
    QTest::newRow("blanks around and inside") << u"  8986 0114  "_s << OptionalText(u"8986 0114"_s);
    QTest::newRow("tab only is not empty") << u"\t"_s << OptionalText(u"\t"_s);
    QTest::newRow("empty") << QString() << OptionalText();
    QTest::newRow("blanks only") << u"    "_s << OptionalText();
    QTest::newRow("invisibles dropped, then trimmed")
        << u"\u202D \u200B8986 0114\uFEFF \u2068"_s << OptionalText(u"8986 0114"_s);
    QTest::newRow("invisibles only") << u"\u200B\u2060\uFEFF"_s << OptionalText();
    QTest::newRow("tab and line break kept")
        << u"\u200B\t89\n\u200B"_s << OptionalText(u"\t89\n"_s);
}

void TestLookup::iccidRule()
{
    QFETCH(QString, input);
    QFETCH(OptionalText, expected);
    QCOMPARE(described(sim::iccidFrom(input)), described(expected));
}

void TestLookup::simRejected_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("rejected");

    QTest::newRow("invalid page") << fixture(u"sim-invalid.html"_s) << true;
    QTest::newRow("full page") << fixture(u"sim-plain.html"_s) << false;
    // The phrase wins even over a page that also carries every row.
    QTest::newRow("phrase beside rows")
        << fixture(u"sim-plain.html"_s) + u"<p>你输入的不是一个有效的ICCID码吗</p>"_s << true;
    QTest::newRow("message text, not the phrase") << u"你输入的不是一个有效的ICC码"_s << false;
    QTest::newRow("empty page") << QString() << false;
}

void TestLookup::simRejected()
{
    QFETCH(QString, page);
    QFETCH(bool, rejected);
    const sim::Reading reading = sim::readPage(page);
    QCOMPARE(reading.rejected, rejected);
    // A rejected page is not read any further.
    if (rejected)
        QCOMPARE(described(reading.values, kSimFields), described(sim::Slots(), kSimFields));
}

void TestLookup::simExtraction_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<sim::Slots>("expected");

    const OptionalText none;
    QTest::newRow("plain home area")
        << u"sim-plain.html"_s
        << simSlots(u"中国联通"_s, u"18601234567"_s, u"2011年"_s, u"广东深圳"_s);
    // The two value lines, blanks removed, without the line break.
    QTest::newRow("area-code home area")
        << u"sim-area-code.html"_s
        << simSlots(u"中国移动"_s, u"13912345678"_s, u"2009年"_s, u"江苏南京025"_s);
    QTest::newRow("only the phone number")
        << u"sim-phone-only.html"_s << simSlots(none, u"15012345678"_s, none, none);
    // The first carrier label lacks the row's lines and is passed over.
    QTest::newRow("two carrier rows")
        << u"sim-two-carriers.html"_s << simSlots(u"中国 电信"_s, u"18912345678"_s, none, none);
    // "年" alone still counts; the area-code label elsewhere on the page
    // selects the two-line form, which the one-line row does not have.
    QTest::newRow("edge cases") << u"sim-edge-cases.html"_s
                                << simSlots(u"中国\t联通"_s, u"17712345678"_s, u"年"_s, none);
    QTest::newRow("LF only") << u"sim-lf-only.html"_s << sim::Slots();
    QTest::newRow("other layout") << u"other-layout.html"_s << sim::Slots();
}

void TestLookup::simExtraction()
{
    QFETCH(QString, file);
    QFETCH(sim::Slots, expected);

    const sim::Reading reading = sim::readPage(fixture(file));
    QVERIFY(!reading.rejected);
    QCOMPARE(described(reading.values, kSimFields), described(expected, kSimFields));
}

QTEST_APPLESS_MAIN(TestLookup)
#include "tst_lookup.moc"
