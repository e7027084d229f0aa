// The sample service against the lookup functions: every sample it lists
// must lead down the path it claims, over real loopback HTTP.
#include "blocking_fetch.h"
#include "device_lookup.h"
#include "page_fetch.h"
#include "service_contract.h"
#include "sim_lookup.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace mizong;
using mizong::testing::fetchPageBlocking;

namespace {

struct DeviceSample
{
    const char* tag;
    QStringView id;
    device::Screening screening;
    bool anyBox; // at least one box filled: the watchdog is disarmed
    device::Verdict verdict;
    bool listed;
};

const DeviceSample kDeviceSamples[] = {
    {"not re-activated", u"358805052512340", device::Screening::Clean, true,
     device::Verdict::NotReactivated, true},
    {"re-activated", u"013429008765436", device::Screening::Clean, true,
     device::Verdict::Reactivated, true},
    {"same day", u"358820050011229", device::Screening::Clean, true,
     device::Verdict::NotReactivated, true},
    {"some fields", u"F2LKQ0XYDTWF", device::Screening::Clean, true, device::Verdict::None, true},
    {"LF only", u"013977001357916", device::Screening::Clean, true, device::Verdict::None, true},
    {"replaced product", u"F17JX0QPDTC0", device::Screening::ReplacedProduct, false,
     device::Verdict::None, true},
    {"invalid serial", u"DX3K9ABCDEFG", device::Screening::InvalidSerial, false,
     device::Verdict::None, true},
    {"unknown to the service", u"990000862471853", device::Screening::Clean, false,
     device::Verdict::None, true},
    {"not a sample", u"123456789012345", device::Screening::Clean, false, device::Verdict::None,
     false},
    {"sample in other case", u"f2lkq0xydtwf", device::Screening::Clean, false,
     device::Verdict::None, false},
};

struct SimSample
{
    const char* tag;
    QStringView id;
    bool rejected;
    int filled; // boxes with a non-empty value
    bool listed;
};

const SimSample kSimSamples[] = {
    {"plain home area", u"89860114831001234567", false, 4, true},
    {"area-code home area", u"89860078601234567890", false, 4, true},
    {"only the phone number", u"89860313005556667778", false, 1, true},
    {"invalid ICCID", u"8986001234", true, 0, true},
    {"unknown to the service", u"89860000000000000000", false, 0, true},
    {"not a sample", u"8986", false, 0, false},
};

// Starts the service on a free port; the base address comes from its first line.
QString startService(QProcess& process, const QStringList& arguments = {u"--port"_s, u"0"_s})
{
    process.setProgram(QStringLiteral(MIZONG_SAMPLE_SERVICE));
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted(10000))
        return {};
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000))
            return {};
    }
    const QString line = QString::fromUtf8(process.readLine()).trimmed();
    const qsizetype at = line.indexOf(u"http://");
    return at < 0 ? QString() : line.sliced(at);
}

template <std::size_t N> int filledBoxes(const FieldSlots<N>& values)
{
    int count = 0;
    for (const auto& value : values)
        count += value && !value->isEmpty();
    return count;
}

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void samplesListed();
    void deviceSamples_data();
    void deviceSamples();
    void simSamples_data();
    void simSamples();
    void queryDecoding_data();
    void queryDecoding();
    void sitePages_data();
    void sitePages();
    void stopsOnSignal_data();
    void stopsOnSignal();
    void refusesTakenPort();

private:
    QString fetch(const QString& url) const
    {
        return fetchPageBlocking(url, service::kPageCharset, {std::chrono::seconds(10)}).page;
    }

    QProcess m_service;
    QString m_base;
};

void TestService::initTestCase()
{
    m_base = startService(m_service);
    QVERIFY2(!m_base.isEmpty(), "the sample service did not start");
}

void TestService::cleanupTestCase()
{
    m_service.terminate();
    QVERIFY(m_service.waitForFinished(10000));
    QCOMPARE(m_service.exitCode(), 0);
}

void TestService::samplesListed()
{
    QSet<QString> expected;
    for (const DeviceSample& sample : kDeviceSamples) {
        if (sample.listed)
            expected.insert(u"device "_s + sample.id.toString());
    }
    for (const SimSample& sample : kSimSamples) {
        if (sample.listed)
            expected.insert(u"sim "_s + sample.id.toString());
    }

    const QJsonDocument json = QJsonDocument::fromJson(fetch(m_base + u"/samples.json"_s).toUtf8());
    QVERIFY(json.isArray());
    const QString announcement = fetch(m_base + site::kAnnouncementPath.toString());
    QSet<QString> listed;
    for (const QJsonValue& entry : json.array()) {
        const QJsonObject sample = entry.toObject();
        const QString id = sample.value(u"id"_s).toString();
        listed.insert(sample.value(u"kind"_s).toString() + u' ' + id);
        QVERIFY2(!sample.value(u"shows"_s).toString().isEmpty(), qUtf8Printable(id));
        QVERIFY2(announcement.contains(u"<td>"_s + id + u"</td>"_s), qUtf8Printable(id));
    }
    QCOMPARE(listed, expected);
}

void TestService::deviceSamples_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<device::Screening>("screening");
    QTest::addColumn<bool>("anyBox");
    QTest::addColumn<device::Verdict>("verdict");

    for (const DeviceSample& sample : kDeviceSamples) {
        QTest::newRow(sample.tag) << sample.id.toString() << sample.screening << sample.anyBox
                                  << sample.verdict;
    }
}

void TestService::deviceSamples()
{
    QFETCH(QString, input);
    QFETCH(device::Screening, screening);
    QFETCH(bool, anyBox);
    QFETCH(device::Verdict, verdict);

    const std::optional<QString> identifier = device::identifierFrom(input);
    QVERIFY2(identifier, "a sample must pass the length rule");
    const device::Reading reading =
        device::readPage(fetch(device::requestUrl(m_base, *identifier)), QLocale::c());
    QCOMPARE(reading.screening, screening);
    QCOMPARE(filledBoxes(reading.values) > 0, anyBox);
    QCOMPARE(reading.verdict, verdict);
}

void TestService::simSamples_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("rejected");
    QTest::addColumn<int>("filled");

    for (const SimSample& sample : kSimSamples)
        QTest::newRow(sample.tag) << sample.id.toString() << sample.rejected << sample.filled;
}

void TestService::simSamples()
{
    QFETCH(QString, input);
    QFETCH(bool, rejected);
    QFETCH(int, filled);

    const std::optional<QString> iccid = sim::iccidFrom(input);
    QVERIFY(iccid);
    const sim::Reading reading = sim::readPage(fetch(sim::requestUrl(m_base, *iccid)));
    QCOMPARE(reading.rejected, rejected);
    QCOMPARE(filledBoxes(reading.values), filled);
}

void TestService::queryDecoding_data()
{
    QTest::addColumn<QString>("pathAndQuery");
    QTest::addColumn<bool>("known");

    QTest::newRow("plain") << u"/result/?postsn=358805052512340"_s << true;
    QTest::newRow("every digit escaped")
        << u"/result/?postsn=%33%35%38%38%30%35%30%35%32%35%31%32%33%34%30"_s << true;
    QTest::newRow("other parameters around")
        << u"/result/?a=1&postsn=358805052512340&b=2"_s << true;
    // '+' is a blank to a form decoder, so this is no longer the sample.
    QTest::newRow("plus is a blank") << u"/result/?postsn=35880505+2512340"_s << false;
    QTest::newRow("escaped plus stays a plus") << u"/result/?postsn=35880505%2B2512340"_s << false;
    QTest::newRow("longer key") << u"/result/?xpostsn=358805052512340"_s << false;
    QTest::newRow("no query") << u"/result/"_s << false;
}

void TestService::queryDecoding()
{
    QFETCH(QString, pathAndQuery);
    QFETCH(bool, known);
    const device::Slots values = device::extractFields(fetch(m_base + pathAndQuery));
    QCOMPARE(values[device::slot(device::Field::SerialNumber)].has_value(), known);
}

void TestService::sitePages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");

    QTest::newRow("announcement") << site::kAnnouncementPath.toString() << u"觅踪助理公告"_s;
    QTest::newRow("shop") << site::kShopPath.toString() << u"觅踪助理小店"_s;
    QTest::newRow("help, not re-activated")
        << site::kHelpNotReactivatedPath.toString() << u"如何催促对方刷机？"_s;
    QTest::newRow("help, re-activated")
        << site::kHelpReactivatedPath.toString() << u"如何判断小偷已经刷机？"_s;
    QTest::newRow("unknown path") << u"/201302/999.html"_s << u"页面不存在"_s;
}

void TestService::sitePages()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    const QString page = fetch(m_base + path);
    QVERIFY2(page.contains(u"<title>"_s + title + u"</title>\r\n"_s), qUtf8Printable(page));
    // A browser, and the page view, look for the declaration only in the
    // first 1024 bytes.
    const qsizetype declared = page.toUtf8().indexOf("<meta charset=\"utf-8\">");
    QVERIFY2(declared > 0 && declared < 1024, qUtf8Printable(page));
}

void TestService::stopsOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestService::stopsOnSignal()
{
    QFETCH(int, signal);
    QProcess process;
    const QString base = startService(process);
    QVERIFY(!base.isEmpty());
    QVERIFY(fetch(base + site::kShopPath.toString()).contains(u"觅踪助理小店"));

    QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void TestService::refusesTakenPort()
{
    const QString port = m_base.sliced(m_base.lastIndexOf(u':') + 1);
    QProcess second;
    QVERIFY(startService(second, {u"--port"_s, port}).isEmpty());
    if (second.state() != QProcess::NotRunning)
        QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
