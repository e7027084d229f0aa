// Windows' own ways out of the program: links go to the shell's handler for
// the address, never to a program the address names. And MinGW's runtime as
// a thread ends: its thread_local objects are destroyed before their storage
// is freed.
#include "application.h"
#include "windows/shell_open.h"

#include <QApplication>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

using namespace Qt::StringLiterals;

class TestWindows final : public QObject
{
    Q_OBJECT

private slots:
    void shellOpenAddress_data();
    void shellOpenAddress();
    void threadLocalsDestroyedBeforeTheirStorage_data();
    void threadLocalsDestroyedBeforeTheirStorage();
};

namespace {

// What a thread wrote, read by its own thread_local object's destructor as
// it ends: on storage already freed, the read finds a fresh variable's 0.
thread_local int t_written = 0;
std::atomic<int> g_readAsThreadEnded{-1};
struct ReadAsThreadEnds
{
    ~ReadAsThreadEnds() { g_readAsThreadEnded = t_written; }
};
thread_local ReadAsThreadEnds t_reader;

void writeThenEnd(int value)
{
    t_written = value;
    (void)&t_reader; // constructed, so destroyed as the thread ends
}

} // namespace

void TestWindows::shellOpenAddress_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("address"); // empty: refused
    QTest::newRow("shop") << QUrl(u"http://127.0.0.1:8765/taobao.php"_s)
                          << u"http://127.0.0.1:8765/taobao.php"_s;
    QTest::newRow("https") << QUrl(u"https://www.example/201302/287.html"_s)
                           << u"https://www.example/201302/287.html"_s;
    QTest::newRow("chinese and space")
        << QUrl(u"http://127.0.0.1:8765/商店 页?q=苹果"_s)
        << u"http://127.0.0.1:8765/%E5%95%86%E5%BA%97%20%E9%A1%B5?q=%E8%8B%B9%E6%9E%9C"_s;
    // From a page's window.open: the shell would run a program for these.
    QTest::newRow("file") << QUrl(u"file:///C:/Windows/System32/calc.exe"_s) << QString();
    QTest::newRow("unc path") << QUrl(u"\\\\server\\share\\setup.exe"_s) << QString();
    QTest::newRow("javascript") << QUrl(u"javascript:alert(1)"_s) << QString();
    QTest::newRow("ms-settings") << QUrl(u"ms-settings:network-proxy"_s) << QString();
    QTest::newRow("no host") << QUrl(u"http:///taobao.php"_s) << QString();
    QTest::newRow("invalid address") << QUrl(u"http://[::1"_s) << QString();
}

void TestWindows::shellOpenAddress()
{
    QFETCH(QUrl, url);
    QFETCH(QString, address);
    const std::optional<QString> handed = mizong::shellOpenAddress(url);
    QCOMPARE(handed.has_value(), !address.isEmpty());
    if (handed)
        QCOMPARE(*handed, address);
}

void TestWindows::threadLocalsDestroyedBeforeTheirStorage_data()
{
    QTest::addColumn<bool>("qtThread");
    // winpthreads ends the two kinds of thread by different paths.
    QTest::newRow("std::thread") << false;
    QTest::newRow("QThread, as the page thread") << true;
}

void TestWindows::threadLocalsDestroyedBeforeTheirStorage()
{
    QFETCH(bool, qtThread);
    const int value = qtThread ? 7 : 8;
    g_readAsThreadEnded = -1;
    if (qtThread) {
        const std::unique_ptr<QThread> thread(QThread::create([value] { writeThenEnd(value); }));
        thread->start();
        QVERIFY(thread->wait(QDeadlineTimer(10'000)));
    } else {
        std::thread([value] { writeThenEnd(value); }).join();
    }
    QCOMPARE(g_readAsThreadEnded.load(), value);
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    mizong::prepareApplication();
    TestWindows test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_windows.moc"
