#include "browser_frame.h"
#include "page_server.h"
#include "windows/link_command.h"
#include "windows/web_browser_host.h"

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>
#include <windows.h>

using namespace Qt::StringLiterals;
using mizong::WebBrowserHost;
using mizong::testing::PageServer;
using mizong::testing::Request;

namespace {

// The control's own window: the only child of the host's native window
// besides Qt's (the fallback label is drawn by Qt, without a window).
HWND controlWindow(const QWidget& host)
{
    return GetWindow(reinterpret_cast<HWND>(host.winId()), GW_CHILD);
}

QSize deviceSize(const QWidget& widget)
{
    return widget.size() * widget.devicePixelRatio();
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void controlNavigates();
    void controlFillsHost_data();
    void controlFillsHost();
    void controlReleased();
    void fallbackShowsAddress_data();
    void fallbackShowsAddress();
    void frameHostsControl();
    void internetExplorerCommand_data();
    void internetExplorerCommand();
};

void TestWindows::controlNavigates()
{
    // The control fetches the page itself: the request tells where it went.
    PageServer server;
    server.setDefaultPage("ok");
    const QString base = server.start();
    QVERIFY(!base.isEmpty());

    WebBrowserHost host;
    host.resize(369, 221);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    const QUrl address(base + u"/公告?a=1&b=二"_s);
    host.navigate(address);
    QVERIFY(host.hasControl());
    QVERIFY(!host.fallbackLabel());
    QCOMPARE(host.url(), address);
    QVERIFY(controlWindow(host));
    QTRY_VERIFY_WITH_TIMEOUT(!server.log().isEmpty(), 20000);
    const Request& request = server.log().first();
    QCOMPARE(request.method + ' ' + request.target + ' ' + request.version,
             QByteArray("GET /%E5%85%AC%E5%91%8A?a=1&b=%E4%BA%8C HTTP/1.1"));
}

void TestWindows::controlFillsHost_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("announcement") << QSize(369, 221);
    QTest::newRow("one pixel") << QSize(1, 1);
    QTest::newRow("wide") << QSize(1200, 90);
    QTest::newRow("tall") << QSize(90, 900);
}

void TestWindows::controlFillsHost()
{
    QFETCH(QSize, size);
    QWidget window;
    window.resize(1300, 1000);
    auto* host = new WebBrowserHost(&window);
    host->setGeometry(QRect(QPoint(24, 176), QSize(200, 150)));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    host->navigate(QUrl(u"about:blank"_s));
    QVERIFY(host->hasControl());
    const HWND control = controlWindow(*host);
    QVERIFY(control);

    // Resized after the control came in place: it follows, in device pixels.
    host->resize(size);
    QTRY_VERIFY([&] {
        RECT area;
        return GetWindowRect(control, &area) &&
               QSize(area.right - area.left, area.bottom - area.top) == deviceSize(*host);
    }());
    RECT origin;
    GetWindowRect(control, &origin);
    POINT corner{origin.left, origin.top};
    ScreenToClient(reinterpret_cast<HWND>(host->winId()), &corner);
    QCOMPARE(QPoint(corner.x, corner.y), QPoint(0, 0));
}

void TestWindows::controlReleased()
{
    const int before = WebBrowserHost::liveSites();
    {
        WebBrowserHost host;
        host.resize(200, 100);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.navigate(QUrl(u"about:blank"_s));
        QVERIFY(host.hasControl());
        QCOMPARE(WebBrowserHost::liveSites(), before + 1);
    }
    // Closed, the control has let go of every reference to its site.
    QCOMPARE(WebBrowserHost::liveSites(), before);
}

void TestWindows::fallbackShowsAddress_data()
{
    QTest::addColumn<QUrl>("address");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QUrl(u"http://127.0.0.1:8765/gonggao.htm"_s)
                           << u"http://127.0.0.1:8765/gonggao.htm"_s;
    QTest::newRow("chinese path") << QUrl(u"http://127.0.0.1:8765/%E5%85%AC%E5%91%8A"_s)
                                  << u"http://127.0.0.1:8765/公告"_s;
    // An entity that rich text would turn into "&": shown as it is.
    QTest::newRow("entity") << QUrl(u"http://127.0.0.1:8765/?q=a&amp;b"_s)
                            << u"http://127.0.0.1:8765/?q=a&amp;b"_s;
}

void TestWindows::fallbackShowsAddress()
{
    QFETCH(QUrl, address);
    QFETCH(QString, shown);
    WebBrowserHost host(nullptr, WebBrowserHost::Control::TextOnly);
    host.resize(369, 221);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    host.navigate(address);
    QVERIFY(!host.hasControl());
    QVERIFY(!controlWindow(host));
    QVERIFY(host.fallbackLabel());
    QCOMPARE(host.fallbackLabel()->text(), shown);
    QCOMPARE(host.fallbackLabel()->textFormat(), Qt::PlainText);
    QVERIFY(host.fallbackLabel()->isVisible());
    QCOMPARE(WebBrowserHost::liveSites(), 0);

    // A second navigation replaces the text.
    host.navigate(QUrl(u"http://127.0.0.1:8765/next"_s));
    QCOMPARE(host.fallbackLabel()->text(), u"http://127.0.0.1:8765/next"_s);
}

void TestWindows::frameHostsControl()
{
    mizong::BrowserFrame frame({});
    frame.resize(369, 221);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const QUrl address(u"http://127.0.0.1:9/gonggao.htm"_s);
    frame.navigate(address);
    auto* host = qobject_cast<WebBrowserHost*>(frame.view());
    QVERIFY(host);
    QCOMPARE(host->url(), address);
    QCOMPARE(host->geometry(), frame.rect());
    QCOMPARE(frame.focusProxy(), host);
}

void TestWindows::internetExplorerCommand_data()
{
    QTest::addColumn<QString>("program"); // in a temporary directory; empty: missing
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QStringList>("arguments"); // empty: no command
    QTest::newRow("installed") << u"iexplore.exe"_s << QUrl(u"http://127.0.0.1:8765/"_s)
                               << QStringList{u"http://127.0.0.1:8765/"_s};
    QTest::newRow("chinese and space")
        << u"iexplore.exe"_s << QUrl(u"http://127.0.0.1:8765/商店 页?q=苹果"_s)
        << QStringList{
               u"http://127.0.0.1:8765/%E5%95%86%E5%BA%97%20%E9%A1%B5?q=%E8%8B%B9%E6%9E%9C"_s};
    QTest::newRow("not installed")
        << QString() << QUrl(u"http://127.0.0.1:8765/"_s) << QStringList();
    QTest::newRow("invalid address")
        << u"iexplore.exe"_s << QUrl(u"http://[::1"_s) << QStringList();
}

void TestWindows::internetExplorerCommand()
{
    QFETCH(QString, program);
    QFETCH(QUrl, url);
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(u"iexplore.exe"_s);
    if (!program.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const std::optional<mizong::LinkCommand> command = mizong::internetExplorerCommand(url, path);
    QCOMPARE(command.has_value(), !arguments.isEmpty());
    if (command) {
        QCOMPARE(command->program, path);
        QCOMPARE(command->arguments, arguments);
    }
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
