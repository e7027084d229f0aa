// The real program as a user starts it: on an X display with no
// accessibility bus (whose traffic would wake a wrongly woken event loop and
// hide the fault), its window must answer the first click, and a normal
// start prints nothing. Also its own command-line options, without a display.
#include "home_site.h"
#include "mizong_config.h"
#include "process_tree.h"
#include "user_environment.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

using mizong::testing::SampleHomeSite;
using namespace Qt::StringLiterals;

namespace {

// Liveness limit for each step, not a timing: a healthy start takes about a second.
constexpr int kLimitMs = 30000;

// Asks the window to close as a window manager's close button does.
bool sendDeleteWindow(xcb_window_t window)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    auto atom = [connection](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    };
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    // A round trip, so that the server has taken the event before we hang up.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    const bool sent = !xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    return sent;
}

// The visible window whose title matches `pattern`, waiting up to the limit.
xcb_window_t findWindow(const QString& pattern)
{
    QProcess search;
    search.start(u"xdotool"_s,
                 {u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--name"_s, pattern});
    if (!search.waitForFinished(kLimitMs)) {
        search.kill();
        search.waitForFinished();
        return 0;
    }
    const QByteArray first = search.readAllStandardOutput().split('\n').value(0);
    return static_cast<xcb_window_t>(first.trimmed().toULong());
}

// xdotool's exit code (-1 when it did not end normally), its output dropped.
int xdotool(const QStringList& arguments)
{
    QProcess tool;
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.start(u"xdotool"_s, arguments);
    if (!tool.waitForFinished(kLimitMs)) {
        tool.kill();
        tool.waitForFinished();
        return -1;
    }
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

// Waits until no visible window's title matches `pattern`.
bool windowGone(const QString& pattern)
{
    QDeadlineTimer limit(kLimitMs);
    while (xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, pattern}) == 0) {
        if (limit.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandLine_data();
    void commandLine();
    void firstClickAnswered_data();
    void firstClickAnswered();
    void networkLoadedAfterTheWindow();

private:
    QProcessEnvironment userEnvironment() const;

    QTemporaryDir m_runtimeDir;
    std::unique_ptr<SampleHomeSite> m_site;
};

void TestStartup::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "runs on an X display (xvfb-run)");
    QVERIFY2(!QStandardPaths::findExecutable(u"xdotool"_s).isEmpty(), "needs xdotool");
    QVERIFY(m_runtimeDir.isValid());

    // The home site, so that the page view loads a real page and whatever it
    // prints shows up.
    m_site = std::make_unique<SampleHomeSite>(QStringLiteral(MIZONG_SAMPLE_SERVICE),
                                              QStringLiteral(MIZONG_HOME_SITE_BASE));
    QVERIFY(!m_site->failedToStart());
}

void TestStartup::cleanupTestCase()
{
    m_site.reset();
}

// A user's session: a display and a runtime folder, no accessibility bus,
// nothing that tells the program how to run.
QProcessEnvironment TestStartup::userEnvironment() const
{
    return mizong::testing::userEnvironment(m_runtimeDir.path());
}

void TestStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("--version") << QStringList{u"--version"_s}
                               << QByteArray("mizong " MIZONG_VERSION "\n");
    QTest::newRow("--help") << QStringList{u"--help"_s} << QByteArray("Usage: mizong");
    QTest::newRow("-h after a Qt option")
        << QStringList{u"-platform"_s, u"xcb"_s, u"-h"_s} << QByteArray("Usage: mizong");
}

// Answered before any display is needed: no DISPLAY, no platform plugin.
void TestStartup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, expected);

    QProcessEnvironment env = userEnvironment();
    env.remove(u"DISPLAY"_s);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(MIZONG_EXECUTABLE), arguments);
    QVERIFY(program.waitForFinished(kLimitMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardError(), QByteArray());
    const QByteArray out = program.readAllStandardOutput();
    QVERIFY2(out.startsWith(expected), out.constData());
}

void TestStartup::firstClickAnswered_data()
{
    QTest::addColumn<bool>("delayMainThread");

    QTest::newRow("normal start") << false;
    // Whatever another thread does before the application object exists
    // now always happens first (the fault this guards came 1 start in 5).
    QTest::newRow("main thread held after its first thread") << true;
}

// Click 开始查询 with an empty box: the length message must come; then close
// the window as a user does. The whole run prints nothing.
void TestStartup::firstClickAnswered()
{
    QFETCH(bool, delayMainThread);

    QProcessEnvironment env = userEnvironment();
    if (delayMainThread)
        env.insert(u"LD_PRELOAD"_s, QStringLiteral(MIZONG_DELAY_SHIM));
    mizong::testing::RunningProgram program;
    QVERIFY(program.launch(QStringLiteral(MIZONG_EXECUTABLE), env));

    const xcb_window_t window = findWindow(u"^觅踪助理 "_s);
    QVERIFY2(window != 0, "the window did not appear");
    // The middle of Command3 (480, 1200, 1960 x 540 twips).
    QCOMPARE(xdotool({u"mousemove"_s, u"--window"_s, QString::number(window), u"97"_s, u"98"_s,
                      u"click"_s, u"1"_s}),
             0);
    const xcb_window_t message = findWindow(u"^友情提示$"_s);
    QVERIFY2(message != 0, "no message after a click on 开始查询 with an empty box");
    QVERIFY(sendDeleteWindow(message));
    QVERIFY2(windowGone(u"^友情提示$"_s), "the message did not close");

    // Long enough for the announcement page to load and say anything it
    // would say; not a timing.
    QTest::qWait(3000);
    QVERIFY(sendDeleteWindow(window));
    QVERIFY2(program.waitForFinished(kLimitMs), "closing the window did not end the program");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    const QByteArray output = program.readAll();
    QVERIFY2(!output.contains("was not created in the main() thread"), output.constData());
    QVERIFY2(output.isEmpty(), output.constData());
}

// libcurl and Qt Network are no part of the start: the program does not
// link them, and the announcement's fetch, after the window's first paint,
// loads the network module (from where the build put it) on its own thread.
// A lookup then works through it. The whole run prints nothing.
void TestStartup::networkLoadedAfterTheWindow()
{
    QProcess readelf;
    readelf.start(u"readelf"_s, {u"-d"_s, QStringLiteral(MIZONG_EXECUTABLE)});
    QVERIFY(readelf.waitForFinished(kLimitMs));
    const QByteArray needed = readelf.readAllStandardOutput();
    QVERIFY(needed.contains("libQt6Widgets"));
    QVERIFY2(!needed.contains("libcurl") && !needed.contains("libQt6Network"), needed.constData());

    mizong::testing::RunningProgram program;
    QVERIFY(program.launch(QStringLiteral(MIZONG_EXECUTABLE), userEnvironment()));
    const xcb_window_t window = findWindow(u"^觅踪助理 "_s);
    QVERIFY2(window != 0, "the window did not appear");
    QTRY_VERIFY_WITH_TIMEOUT(
        mizong::testing::procFile(program.processId(), "maps").contains("/mizong-transfer.so"),
        kLimitMs);
    // (Debian 13's libproxy brings its own libcurl-gnutls: only the build's
    // libcurl.so is looked for.)
    const QByteArray maps = mizong::testing::procFile(program.processId(), "maps");
    QVERIFY(maps.contains("/libcurl.so"));
    // The announcement is drawn by Qt's own text engine: no browser engine.
    QVERIFY2(!maps.contains("libQt6WebEngine") && !needed.contains("libQt6WebEngine"),
             "a browser engine is loaded");

    // An IMEI into Text1(0), then 开始查询 (Command3), as a user does it: the
    // verdict comes.
    const QString id = QString::number(window);
    QCOMPARE(xdotool({u"mousemove"_s, u"--window"_s, id, u"180"_s, u"51"_s, u"click"_s, u"1"_s}),
             0);
    QCOMPARE(xdotool({u"type"_s, u"358805052512340"_s}), 0);
    QCOMPARE(xdotool({u"mousemove"_s, u"--window"_s, id, u"97"_s, u"98"_s, u"click"_s, u"1"_s}), 0);

    QVERIFY(sendDeleteWindow(window));
    QVERIFY2(program.waitForFinished(kLimitMs), "closing the window did not end the program");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QByteArray output = program.readAll();
    QVERIFY2(output.isEmpty(), output.constData());
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
