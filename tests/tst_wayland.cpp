// The real program as a Wayland desktop runs it: on a headless weston with
// Qt's native Wayland platform, its window appears with its title, the page
// view loads the announcement page, and the session's end (SIGTERM, which
// takes the close button's path) ends the program, which started no process.

#include "mizong_config.h"
#include "page_server.h"
#include "service_contract.h"
#include "user_environment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>
#include <memory>

using mizong::testing::Answer;
using mizong::testing::PageServer;
using mizong::testing::RunningProgram;
using namespace Qt::StringLiterals;

namespace {

constexpr int kLimitMs = 30000; // liveness only

const QString kSocket = u"mizong-test"_s;

// Weston 10 (Debian 12) takes --use-pixman; later ones --renderer=pixman.
QString pixmanOption(const QString& weston)
{
    QProcess version;
    version.start(weston, {u"--version"_s});
    version.waitForFinished(kLimitMs);
    const QRegularExpressionMatch match =
        QRegularExpression(u"weston (\\d+)\\."_s).match(QString::fromLatin1(version.readAll()));
    return match.hasMatch() && match.captured(1).toInt() <= 10 ? u"--use-pixman"_s
                                                               : u"--renderer=pixman"_s;
}

// The fields of /proc/PID/stat after the process's name, from its state
// on ("S 1234 ..."); empty when the process is gone. The name may hold blanks
// and parentheses, so it ends at the last ')'.
QList<QByteArray> statFields(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    const qsizetype name = line.lastIndexOf(')');
    return name < 0 ? QList<QByteArray>{} : line.mid(name + 2).split(' ');
}

// Process ids of every descendant of `root`, read from /proc.
QList<qint64> descendants(qint64 root)
{
    QHash<qint64, QList<qint64>> children;
    const QStringList entries = QDir(u"/proc"_s).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QList<QByteArray> fields = statFields(pid); // state, parent, ...
        if (fields.size() > 1)
            children[fields.at(1).toLongLong()].append(pid);
    }
    QList<qint64> found;
    QList<qint64> queue{root};
    while (!queue.isEmpty()) {
        for (qint64 child : children.value(queue.takeFirst())) {
            found.append(child);
            queue.append(child);
        }
    }
    return found;
}

} // namespace

class TestWayland final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowOnWayland();

private:
    QString sceneGraph() const;

    QTemporaryDir m_runtime;
    QProcess m_weston;
    QProcessEnvironment m_env;
};

void TestWayland::initTestCase()
{
    const QString weston = QStandardPaths::findExecutable(u"weston"_s);
    QVERIFY2(!weston.isEmpty(), "weston is missing (tools/install-deps installs it)");
    QVERIFY(m_runtime.isValid());
    QVERIFY(QFile::setPermissions(m_runtime.path(), QFileDevice::ReadOwner |
                                                        QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner));
    m_env = mizong::testing::userEnvironment(m_runtime.path());
    m_env.remove(u"DISPLAY"_s);
    m_env.insert(u"WAYLAND_DISPLAY"_s, kSocket);
    m_weston.setProcessEnvironment(m_env);
    m_weston.setProcessChannelMode(QProcess::MergedChannels);
    // --debug lets weston-debug read the scene graph: titles and app ids.
    m_weston.start(weston, {u"--backend=headless-backend.so"_s, pixmanOption(weston),
                            u"--socket="_s + kSocket, u"--width=1280"_s, u"--height=900"_s,
                            u"--idle-time=0"_s, u"--debug"_s});
    QVERIFY(m_weston.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(sceneGraph().contains(u"Output 0"_s), kLimitMs);
}

void TestWayland::cleanupTestCase()
{
    if (m_weston.state() != QProcess::NotRunning) {
        m_weston.terminate();
        if (!m_weston.waitForFinished(kLimitMs))
            m_weston.kill();
    }
}

QString TestWayland::sceneGraph() const
{
    QProcess debug;
    debug.setProcessEnvironment(m_env);
    debug.start(u"weston-debug"_s, {u"scene-graph"_s});
    if (!debug.waitForFinished(kLimitMs))
        debug.kill();
    return QString::fromUtf8(debug.readAllStandardOutput());
}

void TestWayland::windowOnWayland()
{
    // The home site of this build, served here when it is on this machine.
    const QUrl home(QStringLiteral(MIZONG_HOME_SITE_BASE));
    const bool homeHere = home.host() == u"127.0.0.1"_s || home.host() == u"localhost"_s;
    PageServer site;
    if (homeHere) {
        QVERIFY2(!site.startOn(quint16(home.port(80))).isEmpty(),
                 "the home site's port is taken (a demo running?)");
        site.route(mizong::site::kAnnouncementPath.toUtf8(),
                   Answer(PageServer::htmlResponse("<p>announcement</p>"), Answer::Then::Close));
    }

    QProcessEnvironment env = m_env;
    env.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
    RunningProgram program;
    QVERIFY(program.launch(QStringLiteral(MIZONG_EXECUTABLE), env));

    // The compositor's own view of the window: a top-level with the title
    // and the application id of the desktop entry.
    const QString title = u"觅踪助理  v" MIZONG_VERSION_SHORT " "
                          "     by 觅踪网  " MIZONG_HOME_SITE_BASE "  专业找回被偷iphone手机!"_s;
    const QString view = u"top-level window '%1' of " MIZONG_APP_ID ""_s.arg(title);
    QTRY_VERIFY_WITH_TIMEOUT(sceneGraph().contains(view), kLimitMs);

    if (homeHere) {
        auto asked = [&site] {
            for (const auto& request : site.log()) {
                if (request.target == mizong::site::kAnnouncementPath.toUtf8())
                    return true;
            }
            return false;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(asked(), "the page view did not load the announcement page",
                                  kLimitMs);
    }

    // The page is drawn in the program: no process of its own.
    QVERIFY(descendants(program.processId()).isEmpty());
    program.terminate();
    QVERIFY2(program.waitForFinished(kLimitMs), "SIGTERM did not end the program");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!sceneGraph().contains(view));

    const QByteArray output = program.readAll();
    QVERIFY2(output.isEmpty(), output.constData());
}

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
