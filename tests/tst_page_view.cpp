// The announcement's page view in the window: where links and keys go, what
// a failed or hostile page leaves, and that the page never acts by itself.
#include "application.h"
#include "form_fixture.h"
#include "main_window.h"
#include "page_browser.h"
#include "page_markup.h"
#include "page_server.h"
#include "service_contract.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#ifdef Q_OS_LINUX
#include "process_tree.h"
#endif

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using mizong::Form1;
using mizong::PageBrowser;
using mizong::testing::Answer;
using mizong::testing::FormFixture;
using mizong::testing::PageServer;

namespace {

constexpr int kLimitMs = 30000; // liveness only

QByteArray answerOf(const QByteArray& type, const QByteArray& body, int status = 200)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The home site is made first: the window is made with its address.
struct HomeSite
{
    PageServer site;
    QString base = site.start();
};

struct Fixture : HomeSite, FormFixture
{
    Fixture()
        : FormFixture([this](Form1::Options& options) {
              options.homeSiteBase = base;
              options.embedBrowser = false; // each test navigates itself
              options.fetchLimits.deadline = 5s;
          })
    {
        view = child<PageBrowser>(u"WebBrowser1"_s);
    }

    // Serves `body` at `path` and shows it; false when it never came.
    bool show(const QByteArray& path, const QByteArray& body)
    {
        site.route(path, Answer(PageServer::htmlResponse(body), Answer::Then::Close));
        return navigate(base + QString::fromLatin1(path));
    }

    bool navigate(const QString& address)
    {
        QSignalSpy shown(view, &PageBrowser::pageShown);
        view->navigate(QUrl(address));
        return shown.wait(kLimitMs);
    }

    // The middle of link `index`'s text, in the viewport.
    QPoint linkPoint(int index) const
    {
        const QString href = mizong::page::linkHref(index);
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (fragment.charFormat().anchorHref() != href)
                    continue;
                QTextCursor cursor(view->document());
                cursor.setPosition(fragment.position() + fragment.length() / 2);
                return view->cursorRect(cursor).center();
            }
        }
        qWarning("no link %d", index);
        return {};
    }

    QStringList requested() const
    {
        QStringList targets;
        for (const mizong::testing::Request& request : site.log())
            targets.append(QString::fromLatin1(request.target));
        return targets;
    }

    PageBrowser* view = nullptr;
};

const QByteArray kLinks =
    "<p><a href=\"/next.html\">站内</a> <a href=\"/next.html\" target=\"_blank\">新窗口</a> "
    "<a href=\"https://other.example/x\">别处</a> <a href=\"mailto:a@b.example\">邮件</a> "
    "<a href=\"javascript:alert(1)\">脚本</a> <a href=\"smb://evil.example/x\">共享</a> "
    "<a href=\"#end\">页内</a></p><p style=\"margin-top: 600px\"><a name=\"end\">底部</a></p>";

} // namespace

class TestPageView final : public QObject
{
    Q_OBJECT

private slots:
    void linksGoWhereTheyBelong_data();
    void linksGoWhereTheyBelong();
    void insideLinkAndBack();
    void keyboardWalksLinks();
    void pageOpensNothingByItself();
    void failedPageShowsAddress_data();
    void failedPageShowsAddress();
    void hostilePageIsBounded_data();
    void hostilePageIsBounded();
    void imagesLoadAndFailQuietly();
    void nothingWrittenToDisk();
    void textCanBeCopied();
};

void TestPageView::linksGoWhereTheyBelong_data()
{
    QTest::addColumn<int>("link");
    QTest::addColumn<QString>("inBrowser"); // empty: nothing goes to the browser
    QTest::addColumn<bool>("loadsInside");
    QTest::addColumn<bool>("byKey");

    for (const bool key : {false, true}) {
        const char* how = key ? "Enter" : "click";
        QTest::addRow("home site, %s", how) << 0 << QString() << true << key;
        QTest::addRow("target=_blank, %s", how) << 1 << u"/next.html"_s << false << key;
        QTest::addRow("another host, %s", how) << 2 << u"https://other.example/x"_s << false << key;
        QTest::addRow("mailto, %s", how) << 3 << QString() << false << key;
        QTest::addRow("javascript, %s", how) << 4 << QString() << false << key;
        QTest::addRow("other scheme, %s", how) << 5 << QString() << false << key;
    }
}

void TestPageView::linksGoWhereTheyBelong()
{
    QFETCH(int, link);
    QFETCH(QString, inBrowser);
    QFETCH(bool, loadsInside);
    QFETCH(bool, byKey);
    Fixture f;
    f.showActive();
    f.site.route("/next.html",
                 Answer(PageServer::htmlResponse("<p>下一页</p>"), Answer::Then::Close));
    QVERIFY(f.show("/links.html", kLinks));
    const int before = int(f.site.log().size());
    QSignalSpy shown(f.view, &PageBrowser::pageShown);
    if (byKey) {
        // As Tab leaves it: the link's text selected, the view focused.
        f.view->setFocus(Qt::TabFocusReason);
        QTextCursor cursor = f.view->cursorForPosition(f.linkPoint(link));
        cursor.select(QTextCursor::WordUnderCursor);
        f.view->setTextCursor(cursor);
        QCOMPARE(f.view->linkAt(f.view->textCursor().charFormat().anchorHref()), link);
        QTest::keyClick(f.view, Qt::Key_Return);
    } else {
        QTest::mouseClick(f.view->viewport(), Qt::LeftButton, {}, f.linkPoint(link));
    }

    const QList<QUrl> expected =
        inBrowser.isEmpty()
            ? QList<QUrl>{}
            : QList<QUrl>{QUrl(inBrowser.startsWith(u'/') ? f.base + inBrowser : inBrowser)};
    if (loadsInside) {
        QVERIFY(shown.wait(kLimitMs));
        QCOMPARE(f.view->pageUrl(), QUrl(f.base + u"/next.html"_s));
        QCOMPARE(f.view->toPlainText(), u"下一页"_s);
    } else {
        QTest::qWait(200);
        QCOMPARE(f.site.log().size(), before);
        QVERIFY(f.view->pageUrl().path().endsWith(u"links.html"_s));
    }
    QCOMPARE(f.opener.opened, expected);
    QVERIFY(f.messenger.messages.isEmpty());
}

void TestPageView::insideLinkAndBack()
{
    Fixture f;
    f.showActive();
    f.site.route("/next.html",
                 Answer(PageServer::htmlResponse("<p>下一页</p>"), Answer::Then::Close));
    QVERIFY(f.show("/links.html", kLinks));

    // A mark on the same page only scrolls.
    const int requests = int(f.site.log().size());
    QTest::mouseClick(f.view->viewport(), Qt::LeftButton, {}, f.linkPoint(6));
    QTRY_VERIFY(f.view->verticalScrollBar()->value() > 0);
    QCOMPARE(f.site.log().size(), requests);

    // The pointer over a link is the window's link cursor, not the platform's hand.
    const QPoint over = f.linkPoint(0);
    QMouseEvent move(QEvent::MouseMove, over, f.view->viewport()->mapToGlobal(over), Qt::NoButton,
                     {}, {});
    QApplication::sendEvent(f.view->viewport(), &move);
    QCOMPARE(f.view->viewport()->cursor().shape(), Qt::BitmapCursor);
    QSignalSpy shown(f.view, &PageBrowser::pageShown);
    QTest::mouseClick(f.view->viewport(), Qt::LeftButton, {}, f.linkPoint(0));
    QVERIFY(shown.wait(kLimitMs));
    QCOMPARE(f.view->toPlainText(), u"下一页"_s);

    f.view->setFocus();
    QTest::keyClick(f.view, Qt::Key_Left, Qt::AltModifier);
    QVERIFY(shown.wait(kLimitMs));
    QVERIFY(f.view->pageUrl().path().endsWith(u"links.html"_s));
    QVERIFY(f.view->toPlainText().contains(u"站内"_s));
    QVERIFY(f.opener.opened.isEmpty());
}

// Tab comes into the page after the shop button, walks its links with the
// focused one selected, and leaves to the IMEI box; Shift+Tab goes back.
void TestPageView::keyboardWalksLinks()
{
    Fixture f;
    f.showActive();
    QVERIFY(f.show("/links.html",
                   "<p>公告 <a href=\"/a.html\">一</a> 和 <a href=\"/b.html\">二</a></p>"));
    QCOMPARE(QApplication::focusWidget(), f.child(u"Text1(0)"_s)); // the page took nothing
    f.child(u"Command6"_s)->setFocus(Qt::TabFocusReason);

    auto focusedLink = [&]() -> std::optional<int> {
        if (QApplication::focusWidget() != f.view)
            return std::nullopt;
        // The selected link's own format, whichever way it was selected.
        QTextCursor inside(f.view->document());
        inside.setPosition(f.view->textCursor().selectionStart() + 1);
        return f.view->linkAt(inside.charFormat().anchorHref());
    };
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(focusedLink(), std::optional<int>(0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(focusedLink(), std::optional<int>(1));
    QCOMPARE(f.view->textCursor().selectedText(), u"二"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.child(u"Text1(0)"_s));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(focusedLink(), std::optional<int>(1));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(focusedLink(), std::optional<int>(0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), f.child(u"Command6"_s));
    QVERIFY(f.opener.opened.isEmpty());
}

// Scripts, refreshes, autofocus and frames: nothing opens, nothing more is
// asked for than the page, the keyboard stays where it was.
void TestPageView::pageOpensNothingByItself()
{
    Fixture f;
    f.showActive();
    QWidget* input = f.child(u"Text1(0)"_s);
    QVERIFY(
        f.show("/busy.html",
               "<html><head><meta http-equiv=\"refresh\" content=\"0;url=/elsewhere.html\">"
               "<script>window.open('http://evil.example/');location='smb://evil.example/'</script>"
               "<link rel=\"prefetch\" href=\"/prefetch.html\"></head>"
               "<body onload=\"window.open('/popup.html')\"><p>公告</p>"
               "<iframe src=\"/frame.html\"></iframe><object data=\"/object.swf\"></object>"
               "<a href=\"/autofocus.html\" autofocus>链接</a>"
               "<form action=\"/steal\"><input name=\"p\" autofocus></form></body></html>"));
    QTest::qWait(500);
    QCOMPARE(f.requested(), QStringList{u"/busy.html"_s});
    QVERIFY(f.opener.opened.isEmpty());
    QCOMPARE(QApplication::focusWidget(), input);
    QCOMPARE(f.view->toPlainText(), u"公告\n链接"_s);
}

void TestPageView::failedPageShowsAddress_data()
{
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("not found") << answerOf("text/html", "<p>找不到</p>", 404);
    QTest::newRow("server error") << answerOf("text/html", "<p>出错</p>", 500);
    QTest::newRow("not a page") << answerOf("image/png", QByteArray("\x89PNG\r\n\x1a\n", 8));
    QTest::newRow("cut off") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n<p>");
    QTest::newRow("no answer") << QByteArray();
}

// As the window showed any failed page: its address, as text.
void TestPageView::failedPageShowsAddress()
{
    QFETCH(QByteArray, answer);
    Fixture f;
    f.site.route("/gonggao.html", Answer(answer, Answer::Then::Close));
    const QString address = f.base + u"/gonggao.html"_s;
    QVERIFY(f.navigate(address));
    QCOMPARE(f.view->toPlainText(), address);
    QVERIFY(f.view->links().isEmpty());
}

void TestPageView::hostilePageIsBounded_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("starts");

    QTest::newRow("8 MiB of markup")
        << QByteArray("<p>开头</p>" +
                      QByteArray("<p>很长的公告</p>").repeated(8 * 1024 * 1024 / 24))
        << u"开头"_s;
    QTest::newRow("100 000 levels deep")
        << QByteArray("<p>开头</p>" + QByteArray("<div><b>").repeated(100000) + "深处")
        << u"开头"_s;
    QTest::newRow("a paragraph of 1 MiB without a space")
        << QByteArray("<p>开头" + QByteArray("公告").repeated(1024 * 1024 / 6) + "</p>")
        << u"开头"_s;
    // A PNG header that declares 30 000 by 30 000 pixels: never decoded.
    QTest::newRow("an image of 900 million pixels")
        << QByteArray("<p>开头</p><img src=\"/huge.png\"><p>后</p>") << u"开头"_s;
}

// Whatever its size or depth, a page is shown, cut to the view's caps.
void TestPageView::hostilePageIsBounded()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, starts);
    Fixture f;
    f.site.route("/huge.png",
                 Answer(answerOf("image/png", mizong::testing::pngDeclaring(30000, 30000)),
                        Answer::Then::Close));
    QVERIFY(f.show("/hostile.html", body));
    const QString text = f.view->toPlainText();
    QVERIFY2(text.startsWith(starts), qPrintable(text.left(40)));
    QVERIFY(f.view->document()->characterCount() <= mizong::page::MarkupLimits{}.maxChars);
    QVERIFY(f.view->document()
                ->resource(QTextDocument::ImageResource, QUrl(f.base + u"/huge.png"_s))
                .isNull());
    // The window answers at once afterwards.
    f.click(u"Command3"_s);
    QCOMPARE(f.messenger.messages.size(), 1);
}

void TestPageView::imagesLoadAndFailQuietly()
{
    Fixture f;
    QImage picture(12, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
    }
    f.site.route("/red.png", Answer(answerOf("image/png", png), Answer::Then::Close));
    f.site.route("/broken.png",
                 Answer(answerOf("image/png", "not a picture"), Answer::Then::Close));
    QVERIFY(f.show("/pictures.html", "<p>图<img src=\"red.png\">片<img src=\"/broken.png\">尾"
                                     "<img src=\"/missing.png\"></p>"));
    // The page is shown whole once its images are in.
    QTRY_VERIFY(!f.view->document()
                     ->resource(QTextDocument::ImageResource, QUrl(f.base + u"/red.png"_s))
                     .isNull());
    // One object in the text for the picture that came, none for the others.
    QCOMPARE(f.view->toPlainText(), u"图"_s + QChar(QChar::ObjectReplacementCharacter) + u"片尾"_s);
}

// What the page loaded stays in memory: no cache, no cookies, no storage.
void TestPageView::nothingWrittenToDisk()
{
#ifndef Q_OS_LINUX
    // Wine's profile folders lead into the whole Unix home; the same code
    // keeps nothing on either platform.
    QSKIP("the home and temporary folders are watched on Linux");
#endif
    const auto snapshot = [] {
        QStringList files;
        for (const QString& root : {QDir::homePath(), QDir::tempPath()}) {
            QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                files.append(it.next());
        }
        files.sort();
        return files;
    };
    Fixture f;
    f.site.route("/style.css",
                 Answer(answerOf("text/css", "p { color: red }"), Answer::Then::Close));
    const QStringList before = snapshot();
    QVERIFY(f.show("/cached.html", "<link rel=\"stylesheet\" href=\"/style.css\"><p>公告</p>"));
    QVERIFY(f.show("/cached.html", "<link rel=\"stylesheet\" href=\"/style.css\"><p>公告</p>"));
    QCOMPARE(snapshot(), before);
#ifdef Q_OS_LINUX
    // And no process of its own either: the page is drawn in the program.
    QCOMPARE(mizong::testing::processTree(QCoreApplication::applicationPid()).size(), 1);
#endif
}

// As in a browser: the page's text can be selected and copied.
void TestPageView::textCanBeCopied()
{
    Fixture f;
    f.showActive();
    QVERIFY(f.show("/copy.html", "<p>寻回<b>失窃</b>手机</p><p>第二段</p>"));
    f.view->setFocus();
    QTest::keyClick(f.view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(f.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"寻回失窃手机\n第二段"_s);
}

int main(int argc, char* argv[])
{
    // A home and a temporary folder of the test's own, watched for files.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + u"/.cache"_s));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + u"/.local/share"_s));
    qputenv("TMPDIR", QFile::encodeName(home.path() + u"/tmp"_s));
    QDir(home.path()).mkpath(u"tmp"_s);
    QApplication app(argc, argv);
    mizong::prepareApplication();
    TestPageView test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_page_view.moc"
