#include "blocking_fetch.h"
#include "mizong_config.h"
#include "page_fetch.h"
#include "page_server.h"
#include "pattern_extract.h"
#include "service_contract.h"
#include "test_data.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

#ifdef Q_OS_WIN
#include <QtEndian>

#include <windows.h>
#endif

using namespace mizong;
using mizong::testing::Answer;
using mizong::testing::fetchPageBlocking;
using mizong::testing::PageResult;
using mizong::testing::PageServer;
using mizong::testing::refusedPort;
using mizong::testing::Request;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(mizong::FetchOutcome)

namespace mizong {
char* toString(FetchOutcome outcome)
{
    switch (outcome) {
    case FetchOutcome::Decoded:
        return qstrdup("Decoded");
    case FetchOutcome::Undecoded:
        return qstrdup("Undecoded");
    case FetchOutcome::Failed:
        return qstrdup("Failed");
    case FetchOutcome::Received:
        return qstrdup("Received");
    }
    return qstrdup("?");
}
} // namespace mizong

namespace {

// Generous upper bound for waiting on a fetch; never a pass/fail timing.
constexpr int kWaitMs = 15000;
// The longest any fetch may take, whatever the service does.
constexpr int kLivenessMs = 30000;

QByteArray response(QByteArrayView status, QByteArrayView body, QByteArrayView extraHeaders = {})
{
    QByteArray bytes = "HTTP/1.1 " + status.toByteArray() + "\r\n";
    bytes += "Content-Type: text/html; charset=utf-8\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    bytes += extraHeaders.toByteArray();
    bytes += "\r\n";
    bytes += body.toByteArray();
    return bytes;
}

// An answer with the given Content-Type, or none when it is empty.
QByteArray typedResponse(QByteArrayView status, QByteArrayView contentType, QByteArrayView body)
{
    QByteArray bytes = "HTTP/1.1 " + status.toByteArray() + "\r\n";
    if (!contentType.isEmpty())
        bytes += "Content-Type: " + contentType.toByteArray() + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    return bytes + body.toByteArray();
}

QByteArray chunked(QByteArrayView body)
{
    QByteArray bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (qsizetype at = 0; at < body.size(); at += 300) {
        const QByteArrayView piece = body.sliced(at, std::min<qsizetype>(300, body.size() - at));
        bytes += QByteArray::number(piece.size(), 16) + "\r\n" + piece.toByteArray() + "\r\n";
    }
    return bytes + "0\r\n\r\n";
}

// The body delimited by the end of the connection (no length, not chunked).
QByteArray untilClose(QByteArrayView body)
{
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body.toByteArray();
}

QByteArray deflated(const QByteArray& body)
{
    const QByteArray zlib = qCompress(body).mid(4); // drop qCompress's length prefix
    return response("200 OK", zlib, "Content-Encoding: deflate\r\n");
}

// Waits for a fetch that was just started; false when it did not finish
// within kWaitMs.
bool waitFinished(PageFetch* fetch)
{
    QSignalSpy spy(fetch, &PageFetch::finished);
    return spy.wait(kWaitMs);
}

PageResult fetchResourceBlocking(const QString& url)
{
    const std::unique_ptr<PageFetch> fetch(FetchResource(url, nullptr));
    return waitFinished(fetch.get()) ? fetch->result() : PageResult{};
}

// A PNG's signature and header: NULs, a CR LF pair, bytes over 0x7F.
QByteArray picture()
{
    return QByteArray::fromHex(
        "89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c489");
}

// The proxy variables libcurl reads, emptied for a test and put back after it.
class NoProxyVariables
{
public:
    NoProxyVariables()
    {
        for (const char* name : kNames) {
            m_saved.append(qgetenv(name));
            qunsetenv(name);
        }
    }
    ~NoProxyVariables()
    {
        for (qsizetype i = 0; i < m_saved.size(); ++i)
            if (!m_saved[i].isEmpty())
                qputenv(kNames[i], m_saved[i]);
    }
    Q_DISABLE_COPY_MOVE(NoProxyVariables)

private:
    static constexpr const char* kNames[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                             "HTTPS_PROXY", "all_proxy",  "ALL_PROXY",
                                             "no_proxy",    "NO_PROXY"};
    QList<QByteArray> m_saved;
};

#ifdef Q_OS_WIN
// The proxy of Internet Options' LAN settings, as the Connections dialog
// stores it (HKCU, DefaultConnectionSettings); the user's own value is put
// back afterwards.
class InternetOptions
{
public:
    InternetOptions()
    {
        m_ok = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                               nullptr, &m_key, nullptr) == ERROR_SUCCESS;
        DWORD type = 0, size = 0;
        if (m_ok &&
            RegQueryValueExW(m_key, kValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            m_saved.resize(size);
            m_hadValue =
                RegQueryValueExW(m_key, kValue, nullptr, &type,
                                 reinterpret_cast<BYTE*>(m_saved.data()), &size) == ERROR_SUCCESS;
        }
    }
    ~InternetOptions()
    {
        if (!m_ok)
            return;
        if (m_hadValue)
            write(m_saved);
        else
            RegDeleteValueW(m_key, kValue);
        RegCloseKey(m_key);
    }
    Q_DISABLE_COPY_MOVE(InternetOptions)

    // "Use a proxy server" with `proxy` ("host:port") and the exceptions in
    // `bypass`; an empty proxy is a direct connection. Never auto-detection.
    bool set(const QByteArray& proxy, const QByteArray& bypass)
    {
        enum : quint32
        {
            Direct = 1,
            Proxy = 2
        };
        QByteArray value;
        const auto word = [&value](quint32 number) {
            char bytes[4];
            qToLittleEndian(number, bytes);
            value.append(bytes, 4);
        };
        word(0x46);        // the settings' version
        word(++m_counter); // counts the changes
        word(proxy.isEmpty() ? Direct : Direct | Proxy);
        word(quint32(proxy.size()));
        value += proxy;
        word(quint32(bypass.size()));
        value += bypass;
        word(0);                       // no configuration script
        value += QByteArray(32, '\0'); // the dialog's later fields
        return m_ok && write(value);
    }

private:
    static constexpr const wchar_t* kKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const wchar_t* kValue = L"DefaultConnectionSettings";

    bool write(const QByteArray& value)
    {
        return RegSetValueExW(m_key, kValue, 0, REG_BINARY,
                              reinterpret_cast<const BYTE*>(value.constData()),
                              DWORD(value.size())) == ERROR_SUCCESS;
    }

    HKEY m_key = nullptr;
    bool m_ok = false;
    bool m_hadValue = false;
    QByteArray m_saved;
    quint32 m_counter = 100;
};
#endif

} // namespace

class TestFetch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    // First: the network libraries are not loaded yet.
    void fetchWhilePreparing();

    void defaultBodyBound_data();
    void defaultBodyBound();
    void bytesToBstr_data();
    void bytesToBstr();
    void serviceUrls_data();
    void serviceUrls();

    void fetch_data();
    void fetch();
    void resource_data();
    void resource();
    void redirectLimit_data();
    void redirectLimit();
    void failedAddress_data();
    void failedAddress();
    void identifierArrivesIntact_data();
    void identifierArrivesIntact();
    void requestHeaders_data();
    void requestHeaders();

    void consecutiveFetchesShareNothing_data();
    void consecutiveFetchesShareNothing();
    void separateConnectionsAndCookies();
    void connectionClosedWhenFinished();

    void finishedOnlyFromEventLoop_data();
    void finishedOnlyFromEventLoop();
    void deleteDuringFetch_data();
    void deleteDuringFetch();
    void deleteInFinishedSlot_data();
    void deleteInFinishedSlot();
    void transferThreadsStay();

    void tls_data();
    void tls();
    void proxy_data();
    void proxy();
    void systemProxy_data();
    void systemProxy();

private:
    PageServer m_server;
    QTemporaryDir m_madeCertificates;
    QString m_certificates; // the directory; empty without certificates
    // Where TLS servers cannot run in the test (Wine's Schannel is no
    // server), the runner's TLS fronts (tests/support/tls-fronts): the port
    // of each certificate's, all passing on to m_tlsBack.
    QHash<QString, quint16> m_tlsFronts;
    PageServer m_tlsBack;
};

void TestFetch::initTestCase()
{
    QVERIFY(!m_server.start().isEmpty());
    // Made for this run by openssl: beforehand by the test's runner where no
    // shell can run it (Windows), else here; the https tests skip without them.
    if (const QString made = qEnvironmentVariable("MIZONG_TEST_CERTIFICATES"); !made.isEmpty()) {
        QVERIFY2(QFile::exists(made + u"/ca.pem"_s), qPrintable(made));
        m_certificates = made;
    } else if (m_madeCertificates.isValid() &&
               QProcess::execute(u"sh"_s, {QStringLiteral(MIZONG_TEST_DATA_DIR
                                                          "/../support/make-test-certificates"),
                                           m_madeCertificates.path()}) == 0) {
        m_certificates = m_madeCertificates.path();
    }
    if (QFile fronts(m_certificates + u"/fronts"_s); fronts.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : fronts.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() == 2)
                m_tlsFronts.insert(QString::fromLatin1(fields[0]), fields[1].toUShort());
        }
        QVERIFY(!m_tlsBack.startOn(m_tlsFronts.value(u"back"_s)).isEmpty());
    }
    const QByteArray page = u"<html><body>苹果\r\n</body></html>"_s.toUtf8();
    using Then = Answer::Then;
    m_server.route("/ok", {response("200 OK", page)});
    m_server.route("/missing", {response("404 Not Found", "<p>不存在</p>")});
    m_server.route("/broken", {response("500 Internal Server Error", "<p>error</p>")});
    m_server.route("/unavailable", {response("503 Service Unavailable", "<p>later</p>")});
    m_server.route("/bad-request", {response("400 Bad Request", "<p>400</p>")});
    m_server.route("/unauthorized", {response("401 Unauthorized", "<p>401</p>",
                                              "WWW-Authenticate: Basic realm=\"x\"\r\n")});
    m_server.route("/forbidden", {response("403 Forbidden", "<p>403</p>")});
    m_server.route("/teapot", {response("418 I'm a teapot", "<p>418</p>")});
    m_server.route("/bad-gateway", {response("502 Bad Gateway", "<p>502</p>")});
    m_server.route("/empty", {response("200 OK", "")});
    m_server.route("/until-close", {untilClose(page), Then::Close});
    m_server.route("/chunked", {chunked(page)});
    m_server.route("/deflate", {deflated(page)});
    m_server.route("/invalid-utf8", {response("200 OK", "ab\xff\xfe"
                                                        "cd\xc3(")});
    m_server.route("/cut-sequence", {response("200 OK", "ab\xe8\x8b")});
    m_server.route("/bom", {response("200 OK", "\xef\xbb\xbf<p>x</p>")});
    m_server.route("/inner-bom", {response("200 OK", "\xef\xbb\xbf"
                                                     "a\xef\xbb\xbf"
                                                     "b")});
    m_server.route("/bytes", {response("200 OK", QByteArray("\xe8\x8b\xb9\x00z", 5))});
    m_server.route("/at-bound", {chunked(QByteArray(1000, 'a'))});
    m_server.route("/over-bound", {chunked(QByteArray(1001, 'a'))});
    m_server.route("/far-over-bound", {untilClose(QByteArray(1024 * 1024, 'a')), Then::Close});
    m_server.route("/length-at-bound", {response("200 OK", QByteArray(1000, 'a'))});
    m_server.route("/length-over-bound", {response("200 OK", QByteArray(1001, 'a'))});
    // Announces a huge body and sends none of it: only the early check ends
    // this before the (default, long) deadline.
    m_server.route("/announced-huge", {"HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n"});
    m_server.route("/inflates-over-bound", {deflated(QByteArray(256 * 1024, 'a'))});
    m_server.route("/cut-body",
                   {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten.", Then::Close});
    m_server.route("/cut-404", {"HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\nten bytes.",
                                Then::Close});
    m_server.route("/hang-up", {"", Then::Close});
    m_server.route("/not-http", {"SSH-2.0-OpenSSH\r\n\r\n", Then::Close});
    m_server.route("/corrupt-deflate",
                   {response("200 OK", "not deflated", "Content-Encoding: deflate\r\n")});
    m_server.route("/stall", {""});
    m_server.route("/stall-in-body", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nsome"});
    m_server.route("/drip", {"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", Then::Drip, "x"});
    m_server.route("/redirect", {response("302 Found", "", "Location: /ok\r\n")});
    m_server.route("/redirect-absolute",
                   {response("301 Moved Permanently", "",
                             "Location: " + m_server.url("/missing").toLatin1() + "\r\n")});
    m_server.route("/redirect-to-chunked", {response("302 Found", "", "Location: /chunked\r\n")});
    m_server.route("/redirect-loop", {response("302 Found", "", "Location: /redirect-loop\r\n")});
    m_server.route("/cookie", {response("200 OK", "set", "Set-Cookie: session=1; Path=/\r\n")});
    m_server.route("/result/", {response("200 OK", "device")});
    m_server.route("/iccid/", {response("200 OK", "sim")});
    m_server.route("/picture", {typedResponse("200 OK", "image/png", picture())});
    m_server.route("/to-picture", {response("302 Found", "", "Location: /picture\r\n")});
    m_server.route("/gbk-page",
                   {typedResponse("200 OK", "text/html;Charset=\"GBK\"", "<p>\xd6\xd0</p>")});
    m_server.route("/untyped", {typedResponse("200 OK", "", "plain")});
    m_server.route("/found-nowhere", {typedResponse("302 Found", "text/plain", "nowhere")});

    // Faults of a broken or hostile service.
    const QByteArray chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    m_server.route("/endless-headers", {ok, Then::Flood, "X-Filler: 0123456789abcdef\r\n"});
    m_server.route("/endless-header-line", {ok + "X-Filler: ", Then::Flood, "a"});
    m_server.route("/endless-status-line", {"HTTP/1.1 200 ", Then::Flood, "O"});
    m_server.route("/endless-continue", {"", Then::Flood, "HTTP/1.1 100 Continue\r\n\r\n"});
    m_server.route("/endless-chunk-extension", {chunkedHead + "5;x=", Then::Flood, "a"});
    m_server.route("/endless-trailers",
                   {chunkedHead + "5\r\nhello\r\n0\r\n", Then::Flood, "X-Trailer: a\r\n"});
    m_server.route("/endless-chunks",
                   {chunkedHead, Then::Flood, "400\r\n" + QByteArray(0x400, 'a') + "\r\n"});
    m_server.route("/endless-body", {ok + "\r\n", Then::Flood, "a"});
    m_server.route("/headers-then-hang", {chunkedHead});

    // 1 GiB of zeros, about 1 MiB on the wire.
    const QByteArray mib(1024 * 1024, '\0');
    using Wrapping = PageServer::Wrapping;
    const auto bomb = [&](Wrapping wrapping, QByteArrayView encoding) {
        return Answer{response("200 OK", PageServer::deflate(mib, 1024, wrapping),
                               "Content-Encoding: " + encoding.toByteArray() + "\r\n")};
    };
    m_server.route("/gzip-bomb", bomb(Wrapping::Gzip, "gzip"));
    m_server.route("/zlib-bomb", bomb(Wrapping::Zlib, "deflate"));
    m_server.route("/raw-deflate-bomb", bomb(Wrapping::Raw, "deflate"));
    m_server.route("/zstd-bomb", {response("200 OK", PageServer::zstdRun('\0', 1LL << 30),
                                           "Content-Encoding: zstd\r\n")});
    m_server.route("/zstd-at-bound",
                   {response("200 OK", PageServer::zstdRun('a', FetchLimits{}.maxBodyBytes),
                             "Content-Encoding: zstd\r\n")});

    m_server.route("/chunked-cut-in-data", {chunkedHead + "a\r\n01234", Then::Close});
    m_server.route("/chunked-cut-at-boundary", {chunkedHead + "5\r\n01234\r\n", Then::Close});
    m_server.route("/chunked-cut-in-size-line", {chunkedHead + "5\r\n01234\r\n1", Then::Close});
    m_server.route("/chunk-size-not-hex", {chunkedHead + "zz\r\nhello\r\n0\r\n\r\n"});
    m_server.route("/chunk-size-overflows",
                   {chunkedHead + "fffffffffffffffffffffff\r\nhello\r\n0\r\n\r\n"});
    m_server.route("/chunk-size-negative", {chunkedHead + "-5\r\nhello\r\n0\r\n\r\n"});
    m_server.route("/reset-mid-body",
                   {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nsome", Then::Reset});
    m_server.route("/redirect-to-file",
                   {response("302 Found", "", "Location: file:///etc/hostname\r\n")});
    m_server.route("/redirect-to-data",
                   {response("302 Found", "", "Location: data:text/html,hello\r\n")});
    m_server.route("/nul", {response("200 OK", QByteArray("a\0b", 3))});
    m_server.route("/cr-only", {response("200 OK", "a\rb\r")});
    m_server.route("/invalid-status-line", {"HTTP/1.1 abc OK\r\nContent-Length: 2\r\n\r\nhi"});
    m_server.route("/http-0.9", {"<html>hi</html>", Then::Close});

    // The real bound, in every framing, on one line without a break.
    const QByteArray full(FetchLimits{}.maxBodyBytes, 'a');
    const QByteArray over = full + 'a';
    m_server.route("/length-8mib", {response("200 OK", full)});
    m_server.route("/length-8mib-over", {response("200 OK", over)});
    m_server.route("/chunked-8mib", {chunked(full)});
    m_server.route("/chunked-8mib-over", {chunked(over)});
    m_server.route("/close-8mib", {untilClose(full), Then::Close});
    m_server.route("/close-8mib-over", {untilClose(over), Then::Close});
    const auto gzipped = [](const QByteArray& body) {
        return Answer{response("200 OK", PageServer::deflate(body, 1, PageServer::Wrapping::Gzip),
                               "Content-Encoding: gzip\r\n")};
    };
    m_server.route("/gzip-8mib", gzipped(full));
    m_server.route("/gzip-8mib-over", gzipped(over));
}

void TestFetch::init()
{
    m_server.reset();
}

void TestFetch::defaultBodyBound_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<FetchOutcome>("outcome");
    QTest::addColumn<qsizetype>("size");

    QTest::newRow("8 MiB") << QByteArray("/length-8mib") << FetchOutcome::Decoded
                           << qsizetype(8 * 1024 * 1024);
    QTest::newRow("8 MiB and a byte")
        << QByteArray("/length-8mib-over") << FetchOutcome::Failed << qsizetype(0);
}

// Without limits of the caller's own: a page of 8 MiB whole, nothing of a
// larger one.
void TestFetch::defaultBodyBound()
{
    QFETCH(QByteArray, path);
    QFETCH(FetchOutcome, outcome);
    QFETCH(qsizetype, size);

    const std::unique_ptr<PageFetch> fetch(FetchPage(m_server.url(path), u"UTF-8", nullptr));
    QSignalSpy finished(fetch.get(), &PageFetch::finished);
    QVERIFY(finished.wait(kLivenessMs));
    QCOMPARE(fetch->outcome(), outcome);
    QCOMPARE(fetch->page().size(), size);
}

void TestFetch::bytesToBstr_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("charset");
    QTest::addColumn<bool>("decodes");
    QTest::addColumn<QString>("text");

    const QString utf8 = u"UTF-8"_s;
    QTest::newRow("chinese") << u"运营商：中国联通"_s.toUtf8() << utf8 << true
                             << u"运营商：中国联通"_s;
    QTest::newRow("crlf kept") << QByteArray("a\r\nb") << utf8 << true << u"a\r\nb"_s;
    QTest::newRow("empty") << QByteArray() << utf8 << true << QString();
    QTest::newRow("bom dropped") << QByteArray("\xef\xbb\xbfx") << utf8 << true << u"x"_s;
    QTest::newRow("bom only") << QByteArray("\xef\xbb\xbf") << utf8 << true << QString();
    QTest::newRow("later bom kept")
        << QByteArray("x\xef\xbb\xbfy") << utf8 << true << u"x\uFEFFy"_s;
    QTest::newRow("invalid bytes") << QByteArray("a\xff"
                                                 "b")
                                   << utf8 << true << u"a\uFFFDb"_s;
    QTest::newRow("overlong encoding")
        << QByteArray("\xc0\xaf") << utf8 << true << u"\uFFFD\uFFFD"_s;
    // A stateful decoder would keep these bytes pending and drop them; one
    // U+FFFD stands for the whole cut sequence, as in browsers.
    QTest::newRow("sequence cut at end")
        << QByteArray("ab\xe8\x8b") << utf8 << true << u"ab\uFFFD"_s;
    QTest::newRow("nul kept") << QByteArray("a\0b", 3) << utf8 << true
                              << QStringView(u"a\0b", 3).toString();
    QTest::newRow("name in lower case") << QByteArray("\xc3\xa9") << u"utf-8"_s << true << u"é"_s;
    QTest::newRow("latin-1") << QByteArray("\xe9") << u"ISO-8859-1"_s << true << u"é"_s;
    // The standard's labels, and no others, on every platform.
    QTest::newRow("latin1 is windows-1252") << QByteArray("\x80") << u"latin1"_s << true << u"€"_s;
    QTest::newRow("utf-16 is little-endian")
        << QByteArray("a\0", 2) << u"UTF-16"_s << true << u"a"_s;
    QTest::newRow("label in blanks") << QByteArray("x") << u" utf8\t"_s << true << u"x"_s;
    QTest::newRow("utf-32") << QByteArray("x") << u"UTF-32"_s << false << QString();
    QTest::newRow("cp936") << QByteArray("x") << u"cp936"_s << false << QString();
    QTest::newRow("non-ascii name") << QByteArray("x") << u"utf\u20118"_s << false << QString();
    QTest::newRow("unknown charset")
        << QByteArray("x") << u"x-no-such-charset"_s << false << QString();
    QTest::newRow("empty charset") << QByteArray("x") << QString() << false << QString();
    QTest::newRow("nul in charset")
        << QByteArray("x") << QStringView(u"UTF-8\0x", 7).toString() << false << QString();
}

void TestFetch::bytesToBstr()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, charset);
    QFETCH(bool, decodes);
    QFETCH(QString, text);

    const std::optional<QString> result = BytesToBstr(bytes, charset);
    QCOMPARE(result.has_value(), decodes);
    if (decodes)
        QCOMPARE(*result, text);
}

void TestFetch::serviceUrls_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("deviceUrl");
    QTest::addColumn<QString>("simUrl");

    QTest::newRow("imei") << u"356789012345678"_s << u"http://h:1/result/?postsn=356789012345678"_s
                          << u"http://h:1/iccid/?s=356789012345678"_s;
    QTest::newRow("unreserved stay") << u"aZ09-._~"_s << u"http://h:1/result/?postsn=aZ09-._~"_s
                                     << u"http://h:1/iccid/?s=aZ09-._~"_s;
    QTest::newRow("delimiters escaped")
        << u"a+b c#d&e=f%g/h?"_s << u"http://h:1/result/?postsn=a%2Bb%20c%23d%26e%3Df%25g%2Fh%3F"_s
        << u"http://h:1/iccid/?s=a%2Bb%20c%23d%26e%3Df%25g%2Fh%3F"_s;
    QTest::newRow("chinese as utf-8")
        << u"苹果"_s << u"http://h:1/result/?postsn=%E8%8B%B9%E6%9E%9C"_s
        << u"http://h:1/iccid/?s=%E8%8B%B9%E6%9E%9C"_s;
    QTest::newRow("empty") << QString() << u"http://h:1/result/?postsn="_s
                           << u"http://h:1/iccid/?s="_s;
}

void TestFetch::serviceUrls()
{
    QFETCH(QString, identifier);
    QFETCH(QString, deviceUrl);
    QFETCH(QString, simUrl);

    QCOMPARE(service::deviceResultUrl(u"http://h:1", identifier), deviceUrl);
    QCOMPARE(service::simPageUrl(u"http://h:1", identifier), simUrl);
}

void TestFetch::fetch_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("charset");
    QTest::addColumn<qint64>("maxBodyBytes");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<FetchOutcome>("outcome");
    QTest::addColumn<QString>("page");

    const QString utf8 = u"UTF-8"_s;
    const qint64 big = FetchLimits{}.maxBodyBytes;
    const int slow = 30000; // default deadline: only reached when something is wrong
    const QString page = u"<html><body>苹果\r\n</body></html>"_s;
    const auto row = [&](const char* name, const char* path) -> QTestData& {
        return QTest::newRow(name) << QByteArray(path) << utf8;
    };
    using enum FetchOutcome;

    // Status codes are never looked at.
    row("200 page", "/ok") << big << slow << Decoded << page;
    row("404 page", "/missing") << big << slow << Decoded << u"<p>不存在</p>"_s;
    row("500 page", "/broken") << big << slow << Decoded << u"<p>error</p>"_s;
    row("503 page", "/unavailable") << big << slow << Decoded << u"<p>later</p>"_s;
    row("400 page", "/bad-request") << big << slow << Decoded << u"<p>400</p>"_s;
    row("401 page", "/unauthorized") << big << slow << Decoded << u"<p>401</p>"_s;
    row("403 page", "/forbidden") << big << slow << Decoded << u"<p>403</p>"_s;
    row("418 page", "/teapot") << big << slow << Decoded << u"<p>418</p>"_s;
    row("502 page", "/bad-gateway") << big << slow << Decoded << u"<p>502</p>"_s;
    row("empty body", "/empty") << big << slow << Decoded << QString();
    row("body until close", "/until-close") << big << slow << Decoded << page;
    row("chunked body", "/chunked") << big << slow << Decoded << page;
    row("deflated body", "/deflate") << big << slow << Decoded << page;

    // Decoding of the whole body.
    row("invalid utf-8", "/invalid-utf8") << big << slow << Decoded << u"ab\uFFFD\uFFFDcd\uFFFD("_s;
    // One U+FFFD for the whole cut sequence.
    row("sequence cut at end", "/cut-sequence") << big << slow << Decoded << u"ab\uFFFD"_s;
    row("bom dropped", "/bom") << big << slow << Decoded << u"<p>x</p>"_s;
    row("only the first bom dropped", "/inner-bom") << big << slow << Decoded << u"a\uFEFFb"_s;
    QTest::newRow("unknown charset: bytes as latin-1")
        << QByteArray("/bytes") << u"x-no-such-charset"_s << big << slow << Undecoded
        << QString::fromLatin1("\xe8\x8b\xb9\x00z", 5);

    // Size bound, also for what Qt inflates on the fly.
    row("body at the bound", "/at-bound") << 1000LL << slow << Decoded << QString(1000, u'a');
    row("body one over the bound", "/over-bound") << 1000LL << slow << Failed << QString();
    row("body far over the bound", "/far-over-bound") << 1000LL << slow << Failed << QString();
    row("announced length at the bound", "/length-at-bound")
        << 1000LL << slow << Decoded << QString(1000, u'a');
    row("announced length over the bound", "/length-over-bound")
        << 1000LL << slow << Failed << QString();
    row("announced length refused early", "/announced-huge") << big << slow << Failed << QString();
    row("inflated body over the bound", "/inflates-over-bound")
        << 16LL * 1024 << slow << Failed << QString();

    // No complete answer.
    row("closed mid-body", "/cut-body") << big << slow << Failed << QString();
    row("closed mid-body of a 404", "/cut-404") << big << slow << Failed << QString();
    row("closed before answering", "/hang-up") << big << slow << Failed << QString();
    row("not an http answer", "/not-http") << big << slow << Failed << QString();
    row("corrupt deflated body", "/corrupt-deflate") << big << slow << Failed << QString();
    row("stalled answer", "/stall") << big << 300 << Failed << QString();
    row("stalled mid-body", "/stall-in-body") << big << 300 << Failed << QString();
    // Never idle, so only a deadline for the whole fetch ends it.
    row("dripping answer", "/drip") << big << 500 << Failed << QString();

    // Redirects, as Qt follows them by default.
    row("redirect followed", "/redirect") << big << slow << Decoded << page;
    row("absolute redirect to a 404", "/redirect-absolute")
        << big << slow << Decoded << u"<p>不存在</p>"_s;
    // Qt keeps the redirect's "Content-Length: 0" among the final headers.
    row("redirect to a chunked page", "/redirect-to-chunked") << big << slow << Decoded << page;
    row("redirect loop", "/redirect-loop") << big << slow << Failed << QString();
    row("redirect to file:", "/redirect-to-file") << big << slow << Failed << QString();
    row("redirect to data:", "/redirect-to-data") << big << slow << Failed << QString();

    // Floods: nothing ever completes, and the fetch's own deadline ends them.
    const int shortDeadline = 1000;
    for (const char* path : {"/endless-headers", "/endless-header-line", "/endless-status-line",
                             "/endless-continue", "/endless-chunk-extension", "/headers-then-hang"})
        row(path + 1, path) << big << shortDeadline << Failed << QString();
    // The body is whole, but the answer never ends.
    row("endless trailers", "/endless-trailers") << big << shortDeadline << Failed << QString();
    // Floods of body bytes end at the size bound.
    row("endless chunks", "/endless-chunks") << big << slow << Failed << QString();
    row("endless body until close", "/endless-body") << big << slow << Failed << QString();

    // Compression bombs must end by the size bound, long before a deadline that
    // lies beyond the liveness limit.
    const int never = 2 * kLivenessMs;
    row("gzip bomb", "/gzip-bomb") << big << never << Failed << QString();
    row("zlib bomb", "/zlib-bomb") << big << never << Failed << QString();
    row("raw deflate bomb", "/raw-deflate-bomb") << big << never << Failed << QString();
    row("zstd bomb", "/zstd-bomb") << big << never << Failed << QString();

    // A page only when the whole body arrived as the server framed it.
    row("chunked cut inside data", "/chunked-cut-in-data") << big << slow << Failed << QString();
    row("chunked cut at a chunk boundary", "/chunked-cut-at-boundary")
        << big << slow << Failed << QString();
    row("chunked cut in a size line", "/chunked-cut-in-size-line")
        << big << slow << Failed << QString();
    row("chunk size not hex", "/chunk-size-not-hex") << big << slow << Failed << QString();
    row("chunk size overflows", "/chunk-size-overflows") << big << slow << Failed << QString();
    row("chunk size negative", "/chunk-size-negative") << big << slow << Failed << QString();
    row("reset mid-body", "/reset-mid-body") << big << slow << Failed << QString();
    row("invalid status line", "/invalid-status-line") << big << slow << Failed << QString();
    row("http/0.9 answer", "/http-0.9") << big << slow << Failed << QString();
    row("nul kept", "/nul") << big << slow << Decoded << QStringView(u"a\0b", 3).toString();
    row("cr-only line ends kept", "/cr-only") << big << slow << Decoded << u"a\rb\r"_s;

    const QString full(FetchLimits{}.maxBodyBytes, u'a');
    row("8 MiB line, length", "/length-8mib") << big << slow << Decoded << full;
    row("8 MiB + 1, length", "/length-8mib-over") << big << slow << Failed << QString();
    row("8 MiB line, chunked", "/chunked-8mib") << big << slow << Decoded << full;
    row("8 MiB + 1, chunked", "/chunked-8mib-over") << big << slow << Failed << QString();
    row("8 MiB line, until close", "/close-8mib") << big << slow << Decoded << full;
    row("8 MiB + 1, until close", "/close-8mib-over") << big << slow << Failed << QString();
    row("8 MiB line, gzip", "/gzip-8mib") << big << slow << Decoded << full;
    row("8 MiB + 1, gzip", "/gzip-8mib-over") << big << slow << Failed << QString();
    row("8 MiB line, zstd", "/zstd-at-bound") << big << slow << Decoded << full;
}

// Every row: its sound outcome, an end within the liveness limit, and no
// connection left open (nothing goes on reading) once the fetch has ended.
void TestFetch::fetch()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, charset);
    QFETCH(qint64, maxBodyBytes);
    QFETCH(int, deadlineMs);
    QFETCH(FetchOutcome, outcome);
    QFETCH(QString, page);

    const FetchLimits limits{std::chrono::milliseconds(deadlineMs), maxBodyBytes};
    const std::unique_ptr<PageFetch> fetch(FetchPage(m_server.url(path), charset, nullptr, limits));
    QSignalSpy finished(fetch.get(), &PageFetch::finished);
    QVERIFY(finished.wait(kLivenessMs));
    QCOMPARE(fetch->outcome(), outcome);
    QCOMPARE(fetch->page().size(), page.size());
    QVERIFY(fetch->page() == page); // not QCOMPARE: pages up to 8 MiB
    if (outcome == FetchOutcome::Undecoded)
        QCOMPARE(fetch->page().size(), 5); // one character per byte
    QTRY_COMPARE_WITH_TIMEOUT(m_server.openConnections(), 0, kWaitMs);
}

void TestFetch::resource_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<qint64>("maxBodyBytes");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<int>("status"); // 0: Failed
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("finalPath");

    const qint64 big = FetchLimits{}.maxBodyBytes;
    const int slow = 30000;
    const QByteArray html = "text/html; charset=utf-8";
    const QByteArray page = u"<html><body>苹果\r\n</body></html>"_s.toUtf8();
    const auto row = [&](const char* name, const char* path) -> QTestData& {
        return QTest::newRow(name) << QByteArray(path);
    };
    const auto failed = [&](const char* name, const char* path, qint64 maxBodyBytes,
                            int deadlineMs) {
        row(name, path) << maxBodyBytes << deadlineMs << 0 << QByteArray() << QByteArray()
                        << QByteArray();
    };

    row("picture bytes as sent", "/picture")
        << big << slow << 200 << QByteArray("image/png") << picture() << QByteArray("/picture");
    row("content type as sent", "/gbk-page")
        << big << slow << 200 << QByteArray("text/html;Charset=\"GBK\"")
        << QByteArray("<p>\xd6\xd0</p>") << QByteArray("/gbk-page");
    row("no content type", "/untyped")
        << big << slow << 200 << QByteArray() << QByteArray("plain") << QByteArray("/untyped");
    row("404 with its body", "/missing")
        << big << slow << 404 << html << u"<p>不存在</p>"_s.toUtf8() << QByteArray("/missing");
    row("inflated body", "/deflate")
        << big << slow << 200 << html << page << QByteArray("/deflate");
    row("relative redirect", "/redirect")
        << big << slow << 200 << html << page << QByteArray("/ok");
    row("absolute redirect to a 404", "/redirect-absolute")
        << big << slow << 404 << html << u"<p>不存在</p>"_s.toUtf8() << QByteArray("/missing");
    row("redirect to a picture: its type", "/to-picture")
        << big << slow << 200 << QByteArray("image/png") << picture() << QByteArray("/picture");
    row("redirect without a location", "/found-nowhere")
        << big << slow << 302 << QByteArray("text/plain") << QByteArray("nowhere")
        << QByteArray("/found-nowhere");
    row("body at the bound", "/at-bound") << 1000LL << slow << 200 << QByteArray()
                                          << QByteArray(1000, 'a') << QByteArray("/at-bound");

    failed("body over the bound", "/over-bound", 1000, slow);
    failed("announced length over the bound", "/length-over-bound", 1000, slow);
    failed("stalled answer", "/stall", big, 300);
    failed("dripping answer", "/drip", big, 500);
    failed("closed mid-body", "/cut-body", big, slow);
    failed("redirect loop", "/redirect-loop", big, slow);
    failed("redirect to file:", "/redirect-to-file", big, slow);
}

// The whole last answer as it came, or nothing at all.
void TestFetch::resource()
{
    QFETCH(QByteArray, path);
    QFETCH(qint64, maxBodyBytes);
    QFETCH(int, deadlineMs);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, finalPath);

    const FetchLimits limits{std::chrono::milliseconds(deadlineMs), maxBodyBytes};
    const std::unique_ptr<PageFetch> fetch(FetchResource(m_server.url(path), nullptr, limits));
    QSignalSpy finished(fetch.get(), &PageFetch::finished);
    QVERIFY(finished.wait(kLivenessMs));
    const PageResult& result = fetch->result();
    QCOMPARE(result.outcome, status != 0 ? FetchOutcome::Received : FetchOutcome::Failed);
    QCOMPARE(result.status, status);
    QCOMPARE(result.contentType, contentType);
    QCOMPARE(result.body, body);
    QCOMPARE(result.finalUrl, finalPath.isEmpty() ? QString() : m_server.url(finalPath));
    QCOMPARE(result.page, QString());
    QCOMPARE(finished.first().first().value<PageResult>().body, body);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.openConnections(), 0, kWaitMs);
}

void TestFetch::redirectLimit_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("maxRedirects");
    QTest::addColumn<bool>("received");
    QTest::addColumn<int>("redirects");

    QTest::newRow("none to follow") << QByteArray("/ok") << 0 << true << 0;
    QTest::newRow("one within a limit of one") << QByteArray("/redirect") << 1 << true << 1;
    QTest::newRow("one over a limit of none") << QByteArray("/redirect") << 0 << false << 0;
    QTest::newRow("a loop, three allowed") << QByteArray("/redirect-loop") << 3 << false << 3;
}

// A fetch follows no more redirects than it is allowed, and says how many it
// followed: a page's pictures share a budget of them.
void TestFetch::redirectLimit()
{
    QFETCH(QByteArray, path);
    QFETCH(int, maxRedirects);
    QFETCH(bool, received);
    QFETCH(int, redirects);

    FetchLimits limits;
    limits.maxRedirects = maxRedirects;
    const qsizetype before = m_server.log().size();
    const std::unique_ptr<PageFetch> fetch(FetchResource(m_server.url(path), nullptr, limits));
    QSignalSpy finished(fetch.get(), &PageFetch::finished);
    QVERIFY(finished.wait(kLivenessMs));
    QCOMPARE(fetch->outcome(), received ? FetchOutcome::Received : FetchOutcome::Failed);
    QCOMPARE(fetch->result().redirects, redirects);
    QCOMPARE(m_server.log().size() - before, redirects + 1);
}

void TestFetch::failedAddress_data()
{
    QTest::addColumn<QString>("url");

    const quint16 port = refusedPort();
    QVERIFY(port != 0);
    QTest::newRow("refused port") << u"http://127.0.0.1:%1/ok"_s.arg(port);
    QTest::newRow("not an address") << u"not an address"_s;
    QTest::newRow("no host") << u"http:///ok"_s;
    QTest::newRow("empty") << QString();
    QTest::newRow("unencoded blank") << m_server.url("/ok?s=a b");
    QTest::newRow("not http") << u"file:///etc/hostname"_s;
    QTest::newRow("data address") << u"data:text/html,hello"_s;
}

void TestFetch::failedAddress()
{
    QFETCH(QString, url);

    const PageResult result = fetchPageBlocking(url, u"UTF-8");
    QCOMPARE(result.outcome, FetchOutcome::Failed);
    QCOMPARE(result.page, QString());
    QVERIFY(m_server.log().isEmpty());
}

void TestFetch::identifierArrivesIntact_data()
{
    QTest::addColumn<QString>("typed");

    QTest::newRow("plus") << u"35+6789"_s;
    QTest::newRow("hash") << u"12#34"_s;
    QTest::newRow("ampersand and equals") << u"a&postsn=b"_s;
    QTest::newRow("percent") << u"100%"_s;
    QTest::newRow("typed escapes") << u"%2B%20%zz"_s;
    QTest::newRow("blanks around and inside") << u"  35 6789 0 "_s;
    QTest::newRow("tab kept") << u"\t89860\t"_s;
    QTest::newRow("line break kept") << u"89\r\n860"_s;
    QTest::newRow("chinese") << u"苹果手机"_s;
    QTest::newRow("everything") << u" 王 +#&%= 李?/ "_s;
}

void TestFetch::identifierArrivesIntact()
{
    QFETCH(QString, typed);
    const QString sent = mizong::trimBlanks(typed);

    const struct
    {
        QString url;
        QByteArray path;
        QByteArray key;
    } requests[] = {
        {service::deviceResultUrl(m_server.start(), sent), "/result/", "postsn"},
        {service::simPageUrl(m_server.start(), sent), "/iccid/", "s"},
    };
    for (const auto& [url, path, key] : requests) {
        m_server.reset();
        QCOMPARE(fetchPageBlocking(url, u"UTF-8").outcome, FetchOutcome::Decoded);
        QCOMPARE(m_server.log().size(), 1);

        const QByteArray target = m_server.log().first().target;
        const qsizetype question = target.indexOf('?');
        QCOMPARE(target.left(question), path);
        const QByteArray query = target.mid(question + 1);
        // A raw '+' reads as a blank and a raw blank breaks the request line.
        QVERIFY2(!query.contains('+') && !query.contains(' '), query.constData());
        if (sent.contains(u'+'))
            QVERIFY2(query.contains("%2B"), query.constData());
        if (sent.contains(u' '))
            QVERIFY2(query.contains("%20"), query.constData());

        // As a form decoder reads it: exactly one pair, our key, our value.
        const QList<QByteArray> pairs = query.split('&');
        QCOMPARE(pairs.size(), 1);
        const qsizetype equals = pairs.first().indexOf('=');
        QCOMPARE(pairs.first().left(equals), key);
        QCOMPARE(PageServer::formDecode(pairs.first().mid(equals + 1)), sent);
    }
}

void TestFetch::requestHeaders_data()
{
    QTest::addColumn<bool>("resource");

    QTest::newRow("page") << false;
    QTest::newRow("resource") << true;
}

void TestFetch::requestHeaders()
{
    QFETCH(bool, resource);

    if (resource)
        QCOMPARE(fetchResourceBlocking(m_server.url("/ok")).outcome, FetchOutcome::Received);
    else
        QCOMPARE(fetchPageBlocking(m_server.url("/ok"), u"UTF-8").outcome, FetchOutcome::Decoded);
    QCOMPARE(m_server.log().size(), 1);
    const Request& request = m_server.log().first();
    QCOMPARE(request.method, QByteArray("GET"));
    // What the HTTP client always sends, a browser's user agent and our
    // language; no cookie, referrer or anything else of our own.
    const QList<QByteArray> expected = {"host", "accept", "accept-encoding", "user-agent",
                                        "accept-language"};
    for (const auto& [name, value] : request.headers)
        QVERIFY2(expected.contains(name.toLower()), name.constData());
    QCOMPARE(request.header("accept"), QByteArray("*/*"));
    QCOMPARE(request.header("accept-language"), QByteArray("zh-CN,zh;q=0.9"));
    const QByteArray agent = request.header("user-agent");
    QCOMPARE(agent, requestUserAgent());
    QVERIFY2(agent.startsWith("Mozilla/5.0 ("), agent.constData());
    QVERIFY2(agent.endsWith(") mizong/" MIZONG_VERSION), agent.constData());
#ifdef Q_OS_WIN
    QVERIFY2(agent.contains("(Windows NT 10.0; Win64; x64)"), agent.constData());
#else
    QVERIFY2(agent.contains("(X11; Linux "), agent.constData());
#endif
}

void TestFetch::consecutiveFetchesShareNothing_data()
{
    QTest::addColumn<QString>("firstUrl");
    QTest::addColumn<QString>("firstCharset");
    QTest::addColumn<int>("firstDeadlineMs");
    QTest::addColumn<qint64>("firstMaxBodyBytes");

    const quint16 port = refusedPort();
    QVERIFY(port != 0);
    const qint64 big = FetchLimits{}.maxBodyBytes;
    const QString utf8 = u"UTF-8"_s;
    QTest::newRow("refused") << u"http://127.0.0.1:%1/ok"_s.arg(port) << utf8 << 30000 << big;
    QTest::newRow("invalid address") << u"http:///ok"_s << utf8 << 30000 << big;
    QTest::newRow("deadline") << m_server.url("/stall") << utf8 << 300 << big;
    QTest::newRow("closed mid-body") << m_server.url("/cut-body") << utf8 << 30000 << big;
    QTest::newRow("over the bound") << m_server.url("/over-bound") << utf8 << 30000 << qint64(1000);
    QTest::newRow("undecoded") << m_server.url("/bytes") << u"x-no-such-charset"_s << 30000 << big;
}

void TestFetch::consecutiveFetchesShareNothing()
{
    QFETCH(QString, firstUrl);
    QFETCH(QString, firstCharset);
    QFETCH(int, firstDeadlineMs);
    QFETCH(qint64, firstMaxBodyBytes);

    const FetchLimits firstLimits{std::chrono::milliseconds(firstDeadlineMs), firstMaxBodyBytes};
    QVERIFY(fetchPageBlocking(firstUrl, firstCharset, firstLimits).outcome !=
            FetchOutcome::Decoded);

    const PageResult second = fetchPageBlocking(m_server.url("/ok"), u"UTF-8");
    QCOMPARE(second.outcome, FetchOutcome::Decoded);
    QCOMPARE(second.page, u"<html><body>苹果\r\n</body></html>"_s);
}

void TestFetch::separateConnectionsAndCookies()
{
    // The server keeps both connections open and sets a cookie on the first.
    QCOMPARE(fetchPageBlocking(m_server.url("/cookie"), u"UTF-8").outcome, FetchOutcome::Decoded);
    QCOMPARE(fetchPageBlocking(m_server.url("/ok"), u"UTF-8").outcome, FetchOutcome::Decoded);
    QCOMPARE(m_server.log().size(), 2);
    QCOMPARE(m_server.connections(), 2);
    QVERIFY(m_server.log()[0].connection != m_server.log()[1].connection);
    QCOMPARE(m_server.log()[1].header("cookie"), QByteArray());
}

void TestFetch::connectionClosedWhenFinished()
{
    const std::unique_ptr<PageFetch> fetch(FetchPage(m_server.url("/ok"), u"UTF-8", nullptr));
    QVERIFY(waitFinished(fetch.get()));
    // The object lives on, its connection does not.
    QTRY_COMPARE_WITH_TIMEOUT(m_server.openConnections(), 0, kWaitMs);
}

void TestFetch::finishedOnlyFromEventLoop_data()
{
    QTest::addColumn<QString>("url");

    const quint16 port = refusedPort();
    QVERIFY(port != 0);
    QTest::newRow("page") << m_server.url("/ok");
    QTest::newRow("refused port") << u"http://127.0.0.1:%1/ok"_s.arg(port);
    QTest::newRow("invalid address") << u"not an address"_s;
    QTest::newRow("not http") << u"file:///etc/hostname"_s;
}

void TestFetch::finishedOnlyFromEventLoop()
{
    QFETCH(QString, url);

    const std::unique_ptr<PageFetch> fetch(FetchPage(url, u"UTF-8", nullptr));
    QSignalSpy spy(fetch.get(), &PageFetch::finished);
    QVERIFY(!fetch->isFinished());
    QCOMPARE(spy.count(), 0);
    QVERIFY(spy.wait(kWaitMs));
    QVERIFY(fetch->isFinished());
    // Exactly once, also when more events are processed.
    QTest::qWait(100);
    QCOMPARE(spy.count(), 1);
}

void TestFetch::deleteDuringFetch_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("afterRequest");

    QTest::newRow("before the request is sent") << QByteArray("/stall") << false;
    QTest::newRow("waiting for the answer") << QByteArray("/stall") << true;
    QTest::newRow("while the body drips") << QByteArray("/drip") << true;
    QTest::newRow("during a flood") << QByteArray("/endless-chunk-extension") << true;
}

void TestFetch::deleteDuringFetch()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, afterRequest);

    QObject parent;
    QPointer<PageFetch> fetch = FetchPage(m_server.url(path), u"UTF-8", &parent);
    QSignalSpy spy(fetch.data(), &PageFetch::finished);
    if (afterRequest)
        QTRY_COMPARE_WITH_TIMEOUT(m_server.log().size(), 1, kWaitMs);

    delete fetch.data();
    QVERIFY(parent.children().isEmpty());
    if (afterRequest)
        QTRY_COMPARE_WITH_TIMEOUT(m_server.openConnections(), 0, kWaitMs);
    QTest::qWait(100);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(m_server.log().size(), afterRequest ? 1 : 0);
}

void TestFetch::deleteInFinishedSlot_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("deadlineMs");

    const quint16 port = refusedPort();
    QVERIFY(port != 0);
    QTest::newRow("page") << m_server.url("/ok") << 30000;
    QTest::newRow("refused port") << u"http://127.0.0.1:%1/ok"_s.arg(port) << 30000;
    QTest::newRow("deadline") << m_server.url("/drip") << 300;
    QTest::newRow("closed mid-body") << m_server.url("/cut-body") << 30000;
}

// The common pattern of a caller: take the page and delete the fetch in the slot.
void TestFetch::deleteInFinishedSlot()
{
    QFETCH(QString, url);
    QFETCH(int, deadlineMs);

    PageFetch* fetch =
        FetchPage(url, u"UTF-8", nullptr, {.deadline = std::chrono::milliseconds(deadlineMs)});
    QPointer<PageFetch> watch = fetch;
    int calls = 0;
    connect(fetch, &PageFetch::finished, this, [fetch, &calls] {
        ++calls;
        delete fetch;
    });
    QTRY_VERIFY_WITH_TIMEOUT(watch.isNull(), kWaitMs);
    QTest::qWait(100);
    QCOMPARE(calls, 1);
}

void TestFetch::tls_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("fromPlain"); // reached by a redirect from the plain server
    QTest::addColumn<FetchOutcome>("outcome");

    using enum FetchOutcome;
    const auto row = [](const char* name, const char16_t* certificate,
                        const char* path) -> QTestData& {
        return QTest::newRow(name) << QString::fromUtf16(certificate) << QByteArray(path);
    };
    row("from a trusted CA", u"valid", "/ok") << false << Decoded;
    row("self-signed", u"self-signed", "/ok") << false << Failed;
    row("expired", u"expired", "/ok") << false << Failed;
    row("for another host", u"wrong-host", "/ok") << false << Failed;
    row("redirect to https", u"valid", "/to-https") << false << Decoded;
    row("redirect to http refused", u"valid", "/to-http") << false << Failed;
    row("redirect from http", u"valid", "/ok") << true << Decoded;
    row("from http through https back to http", u"valid", "/to-http") << true << Failed;
}

void TestFetch::tls()
{
    QFETCH(QString, certificate);
    QFETCH(QByteArray, path);
    QFETCH(bool, fromPlain);
    QFETCH(FetchOutcome, outcome);
    if (m_certificates.isEmpty())
        QSKIP("openssl could not make the test certificates");

    const auto read = [this](const QString& name) {
        QFile file(QDir(m_certificates).filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    PageServer local;
    PageServer& server = m_tlsFronts.isEmpty() ? local : m_tlsBack;
    if (m_tlsFronts.isEmpty())
        server.setTls(read(certificate + u".pem"_s), read(certificate + u".key"_s));
    const QString base = m_tlsFronts.isEmpty()
                             ? server.start()
                             : u"https://localhost:%1"_s.arg(m_tlsFronts.value(certificate));
    server.route("/ok", {response("200 OK", "secure")});
    server.route("/to-https", {response("302 Found", "", "Location: /ok\r\n")});
    server.route("/to-http", {response("302 Found", "",
                                       "Location: " + m_server.url("/ok").toLatin1() + "\r\n")});

    m_server.route("/to-tls",
                   {response("302 Found", "",
                             "Location: " + (base + QLatin1StringView(path)).toLatin1() + "\r\n")});

    FetchLimits limits;
    limits.extraCaCertificates = read(u"ca.pem"_s);
    const QString url = fromPlain ? m_server.url("/to-tls") : base + QLatin1StringView(path);
    const std::unique_ptr<PageFetch> fetch(FetchPage(url, u"UTF-8", nullptr, limits));
    QVERIFY(waitFinished(fetch.get()));
    QCOMPARE(fetch->outcome(), outcome);
    QCOMPARE(fetch->page(), outcome == FetchOutcome::Decoded ? u"secure"_s : QString());
    // Nothing goes back to the plain server.
    QCOMPARE(m_server.log().size(), fromPlain ? 1 : 0);
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, kWaitMs);

    // A resource goes the same ways; it ends at the secure page.
    const std::unique_ptr<PageFetch> resource(FetchResource(url, nullptr, limits));
    QVERIFY(waitFinished(resource.get()));
    const bool received = outcome == FetchOutcome::Decoded;
    QCOMPARE(resource->outcome(), received ? FetchOutcome::Received : FetchOutcome::Failed);
    QCOMPARE(resource->result().body, received ? QByteArray("secure") : QByteArray());
    QCOMPARE(resource->result().finalUrl, received ? base + u"/ok"_s : QString());
    QCOMPARE(m_server.log().size(), fromPlain ? 2 : 0);
}

void TestFetch::proxy_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("noProxy");
    QTest::addColumn<FetchOutcome>("outcome");
    QTest::addColumn<QByteArray>("proxied"); // the target the proxy got; empty: none

    const QString device = u"http://lookup.invalid/result/?postsn=35%2B6789"_s;
    // Never resolved here: only a proxy can answer for it.
    QTest::newRow("http_proxy honoured")
        << device << QByteArray() << FetchOutcome::Decoded << device.toLatin1();
    // Then nothing can answer for it.
    QTest::newRow("no_proxy bypasses it") << device << QByteArray("example.com,lookup.invalid")
                                          << FetchOutcome::Failed << QByteArray();
    QTest::newRow("loopback bypasses it")
        << m_server.url("/ok") << QByteArray() << FetchOutcome::Decoded << QByteArray();
    QTest::newRow("proxy wants credentials")
        << u"http://lookup.invalid/needs-credentials"_s << QByteArray() << FetchOutcome::Failed
        << QByteArray("http://lookup.invalid/needs-credentials");
}

void TestFetch::proxy()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, noProxy);
    QFETCH(FetchOutcome, outcome);
    QFETCH(QByteArray, proxied);

    PageServer proxy;
    proxy.route("/result/", {response("200 OK", "device")});
    proxy.route("/needs-credentials",
                {response("407 Proxy Authentication Required", "<p>sign in</p>",
                          "Proxy-Authenticate: Basic realm=\"proxy\"\r\n")});
    qputenv("http_proxy", proxy.start().toLatin1());
    qputenv("no_proxy", noProxy);
    const auto restore = qScopeGuard([] {
        qunsetenv("http_proxy");
        qunsetenv("no_proxy");
    });

    const PageResult result = fetchPageBlocking(url, u"UTF-8");
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(proxy.log().size(), proxied.isEmpty() ? 0 : 1);
    if (!proxied.isEmpty())
        QCOMPARE(proxy.log().first().target, proxied);
    QCOMPARE(m_server.log().size(), url.startsWith(m_server.start()) ? 1 : 0);
}

void TestFetch::systemProxy_data()
{
    QTest::addColumn<bool>("throughProxy"); // Internet Options name the proxy, else direct
    QTest::addColumn<QByteArray>("bypass");
    QTest::addColumn<FetchOutcome>("outcome");

    // The service's host never resolves here: only the proxy can answer.
    QTest::newRow("Internet Options proxy") << true << QByteArray() << FetchOutcome::Decoded;
    QTest::newRow("bypassed for the host")
        << true << QByteArray("*.example;lookup.invalid") << FetchOutcome::Failed;
    QTest::newRow("direct connection") << false << QByteArray() << FetchOutcome::Failed;
}

// Without a proxy variable, a fetch takes the proxy the system names for its
// address (on Windows, Internet Options): the page view follows that setting,
// so the lookups must too.
void TestFetch::systemProxy()
{
    QFETCH(bool, throughProxy);
    QFETCH(QByteArray, bypass);
    QFETCH(FetchOutcome, outcome);
#ifdef Q_OS_WIN
    // It changes the user's Internet Options for a moment; the Wine tests run
    // in a prefix of their own.
    if (qEnvironmentVariable("MIZONG_TEST_INTERNET_OPTIONS") != u"1")
        QSKIP("changes Internet Options; set MIZONG_TEST_INTERNET_OPTIONS=1 to run");
    const NoProxyVariables noVariables;
    PageServer proxy;
    proxy.route("/result/", {response("200 OK", "device")});
    const QUrl proxyUrl(proxy.start());
    InternetOptions options;
    const QByteArray named = proxyUrl.host().toLatin1() + ':' + QByteArray::number(proxyUrl.port());
    QVERIFY(options.set(throughProxy ? named : QByteArray(), bypass));

    const QString url = service::deviceResultUrl(u"http://lookup.invalid", u"356789012345678");
    const PageResult result = fetchPageBlocking(url, u"UTF-8");
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.page, outcome == FetchOutcome::Decoded ? u"device"_s : QString());
    QCOMPARE(proxy.log().size(), outcome == FetchOutcome::Decoded ? 1 : 0);
    if (!proxy.log().isEmpty())
        QCOMPARE(proxy.log().first().target, url.toLatin1());

    // The test servers on loopback stay direct whatever the settings say.
    QVERIFY(options.set(named, QByteArray()));
    QCOMPARE(fetchPageBlocking(m_server.url("/ok"), u"UTF-8").outcome, FetchOutcome::Decoded);
    QCOMPARE(m_server.log().size(), 1);
#else
    Q_UNUSED(outcome);
    if (!throughProxy || !bypass.isEmpty())
        QSKIP("Internet Options are Windows' settings");
    // The desktop's settings (libproxy) cannot be set from here; with no
    // proxy variable and no desktop proxy, a fetch goes direct.
    const NoProxyVariables noVariables;
    const QString url = service::deviceResultUrl(u"http://lookup.invalid", u"356789012345678");
    QCOMPARE(fetchPageBlocking(url, u"UTF-8").outcome, FetchOutcome::Failed);
    QCOMPARE(fetchPageBlocking(m_server.url("/ok"), u"UTF-8").outcome, FetchOutcome::Decoded);
#endif
}

namespace {

// The process's threads, where the system shows them.
int threadCount()
{
#ifdef Q_OS_LINUX
    return int(QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
#else
    return -1;
#endif
}

} // namespace

// A transfer's thread outlives it and takes a later one, and a transfer that
// hangs never holds up the next.
void TestFetch::fetchWhilePreparing()
{
    // Both come while the libraries load, and neither waits for the other
    // once they are in: one hangs, the other is served beside it.
    PrepareTransfers();
    // Into the load, which takes longer where the libraries are a module of
    // their own (where they are linked in, there is none to wait for).
    QTest::qSleep(5);
    const std::unique_ptr<PageFetch> stalled(FetchPage(m_server.url("/stall"), u"UTF-8", nullptr));
    const std::unique_ptr<PageFetch> page(FetchPage(m_server.url("/ok"), u"UTF-8", nullptr));
    // Failed until it ends, and after it if it fails.
    QTRY_COMPARE_WITH_TIMEOUT(page->outcome(), FetchOutcome::Decoded, kWaitMs);
    QCOMPARE(page->page(), u"<html><body>苹果\r\n</body></html>"_s);
}

void TestFetch::transferThreadsStay()
{
    const auto fetchAll = [this](const char* path, int count) {
        std::vector<std::unique_ptr<PageFetch>> fetches;
        for (int i = 0; i < count; ++i)
            fetches.emplace_back(FetchPage(m_server.url(path), u"UTF-8", nullptr));
        return fetches;
    };
    // Three at once, all hanging; then one more that must not wait for them.
    auto stalled = fetchAll("/stall", 3);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.log().size(), 3, kWaitMs);
    const std::unique_ptr<PageFetch> page(FetchPage(m_server.url("/ok"), u"UTF-8", nullptr));
    QSignalSpy finished(page.get(), &PageFetch::finished);
    QVERIFY(finished.wait(kWaitMs));
    QCOMPARE(page->outcome(), FetchOutcome::Decoded);

    const int threads = threadCount();
    stalled.clear(); // cancelled: their transfers end
    QTRY_COMPARE_WITH_TIMEOUT(m_server.openConnections(), 0, kWaitMs);
    QTest::qWait(200);
    if (threads < 0)
        return;
    QCOMPARE(threadCount(), threads);
    // Served by the threads that stayed: none is added.
    auto again = fetchAll("/stall", 4);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.log().size(), 8, kWaitMs);
    QCOMPARE(threadCount(), threads);
}

QTEST_GUILESS_MAIN(TestFetch)
#include "tst_fetch.moc"
