// The window on screens of another pixel ratio: two screens side by side,
// the right one with twice the pixels, and the window moved between them as
// a window manager moves it.

#include "application.h"
#include "assets.h"
#include "form_fixture.h"
#include "main_window.h"
#include "page_server.h"
#include "window_doubles.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <qpa/qplatformscreen.h>
#include <qpa/qplatformwindow.h>
#include <qpa/qwindowsysteminterface.h>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <memory>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using mizong::Form1;
using mizong::testing::dataFile;
using mizong::testing::FormFixture;
using mizong::testing::PageServer;

namespace {

constexpr int kLimitMs = 30000; // liveness only

// A window manager's move as X11 reports it: the window is on the other
// screen, with its size in device pixels unchanged.
void moveAsWindowManager(QWindow* window, QScreen* target)
{
    QRect native = window->handle()->geometry();
    native.moveTopLeft(target->handle()->geometry().topLeft() + QPoint(20, 20));
    QWindowSystemInterface::handleWindowScreenChanged(window, target);
    QWindowSystemInterface::handleGeometryChange(window, native);
}

QImage rendered(const QPixmap& picture)
{
    return picture.toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestDesktop final : public QObject
{
    Q_OBJECT

private:
    struct Fixture : FormFixture
    {
        Fixture(QScreen* screen, QSize size)
        {
            form->setScreen(screen);
            form->move(screen->geometry().topLeft() + QPoint(20, 20));
            form->resize(size);
            showActive();
        }
    };

private slots:
    void initTestCase();
    void picturesAndSizeFollowTheScreen_data();
    void picturesAndSizeFollowTheScreen();
};

void TestDesktop::initTestCase()
{
    QCOMPARE(QGuiApplication::screens().size(), 2);
    QCOMPARE(QGuiApplication::screens().at(0)->devicePixelRatio(), 1.0);
    QCOMPARE(QGuiApplication::screens().at(1)->devicePixelRatio(), 2.0);
}

void TestDesktop::picturesAndSizeFollowTheScreen_data()
{
    QTest::addColumn<int>("start");        // screen the window opens on
    QTest::addColumn<QSize>("size");       // the window's size, logical pixels
    QTest::addColumn<QList<int>>("moves"); // screens it is moved to, in turn

    const QSize designed(804, 626);
    QTest::newRow("1x to 2x") << 0 << designed << QList<int>{1};
    QTest::newRow("2x to 1x") << 1 << designed << QList<int>{0};
    QTest::newRow("1x to 2x and back") << 0 << designed << QList<int>{1, 0};
    QTest::newRow("a size the user chose is kept") << 0 << QSize(900, 700) << QList<int>{1};
    QTest::newRow("opened on 2x, no move") << 1 << designed << QList<int>{};
}

void TestDesktop::picturesAndSizeFollowTheScreen()
{
    QFETCH(int, start);
    QFETCH(QSize, size);
    QFETCH(QList<int>, moves);
    const QList<QScreen*> screens = QGuiApplication::screens();
    Fixture f(screens.at(start), size);
    f.deviceLookup(u"device-reactivated.html"_s); // the link shows the hand cursor
    QVERIFY(f.child<QLabel>(u"Label18"_s)->testAttribute(Qt::WA_SetCursor));

    for (int target : moves) {
        moveAsWindowManager(f.form->windowHandle(), screens.at(target));
        QTRY_COMPARE(f.form->screen(), screens.at(target));
    }
    const int last = moves.isEmpty() ? start : moves.last();
    const qreal ratio = screens.at(last)->devicePixelRatio();
    QCOMPARE(f.form->devicePixelRatioF(), ratio);

    // The whole window, in logical pixels, on the new screen too.
    QTRY_COMPARE_WITH_TIMEOUT(f.form->windowHandle()->size(), size, kLimitMs);
    QCOMPARE(f.form->size(), size);

    // The background drawn pixel for pixel from the picture for this ratio:
    // the top strip holds no control.
    const QRect strip(0, 0, 600, 30);
    const QImage picture(ratio > 1 ? mizong::assets::kBackground2x.toString()
                                   : mizong::assets::kBackground.toString());
    const QImage expected = picture.copy(QRect(strip.topLeft() * ratio, strip.size() * ratio))
                                .convertToFormat(QImage::Format_RGB32);
    const QImage shown = rendered(f.form->grab(strip));
    QCOMPARE(shown.size(), expected.size());
    QVERIFY2(shown == expected, "the background is not the picture for this ratio");

    // The link cursor and the button pictures are as sharp as the screen.
    const QCursor cursor = f.child<QLabel>(u"Label18"_s)->cursor();
    QCOMPARE(cursor.pixmap().devicePixelRatio(), ratio);
    QCOMPARE(cursor.pixmap().deviceIndependentSize(), QSizeF(32, 32));
    for (const QString& name : {u"Command3"_s, u"Command1"_s, u"Command6"_s}) {
        auto* button = f.child<QPushButton>(name);
        QCOMPARE(button->icon().pixmap(button->iconSize(), ratio).devicePixelRatio(), ratio);
    }
}

int main(int argc, char* argv[])
{
    // Two screens side by side, the right one with twice the pixels, as
    // X11 shows them with per-screen scale factors.
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" MIZONG_TEST_DATA_DIR "/two-screens.json");
    qputenv("QT_SCREEN_SCALE_FACTORS", "L=1;R=2");
    QApplication app(argc, argv);
    mizong::prepareApplication();
    TestDesktop test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
