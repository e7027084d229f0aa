// The window: its controls as designed, its handlers end to end through the
// real fetch against a loopback server, and the watchdogs.

#include "application.h"
#include "box_binding.h"
#include "device_lookup.h"
#include "event_gate.h"
#include "form_controls.h"
#include "form_fixture.h"
#include "form_layout.h"
#include "main_window.h"
#include "messenger.h"
#include "page_browser.h"
#include "page_server.h"
#include "window_doubles.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(mizong::device::Slots)
using mizong::Form1;
using mizong::kFallbackText;
using mizong::testing::dataFile;
using mizong::testing::FormFixture;
using mizong::testing::PageServer;
using mizong::testing::RecordingMessenger;
using mizong::testing::RecordingOpener;

namespace {

const QStringList kDeviceBoxes{u"Text2"_s, u"Text4"_s, u"Text5"_s,  u"Text6"_s,  u"Text7"_s,
                               u"Text8"_s, u"Text9"_s, u"Text10"_s, u"Text11"_s, u"Text12"_s};
const QStringList kSimBoxes{u"Text13"_s, u"Text14"_s, u"Text15"_s, u"Text16"_s};

} // namespace

class TestApp final : public QObject
{
    Q_OBJECT

private:
    struct Fixture : FormFixture
    {
        explicit Fixture(std::chrono::milliseconds interval = 8000ms, bool show = false,
                         const QString& homeSiteBase = {})
            : FormFixture([interval, homeSiteBase](Form1::Options& options) {
                  options.watchdogInterval = interval;
                  if (!homeSiteBase.isEmpty())
                      options.homeSiteBase = homeSiteBase;
                  options.embedBrowser = true;
              })
        {
            if (show) {
                form->show();
                if (!QTest::qWaitForWindowExposed(form.get()))
                    qWarning("window not exposed");
            }
        }
        QLineEdit* box(const QString& name) const { return child<QLineEdit>(name); }
        QTimer* timer(const QString& name) const { return child<QTimer>(name); }
        QLabel* label(const QString& name) const { return child<QLabel>(name); }
        QStringList texts(const QStringList& boxes) const
        {
            QStringList out;
            for (const QString& name : boxes)
                out.append(box(name)->text());
            return out;
        }
    };

private slots:
    void controlGeometry_data();
    void controlGeometry();
    void windowAtStartup();
    void tabOrder();
    void resultBoxesAreReadOnly();
    void fallbackRule_data();
    void fallbackRule();
    void enterStartsNothing();
    void clearButtons_data();
    void clearButtons();
    void label18Clicks_data();
    void label18Clicks();
    void shopButtonAndFailedOpen();
    void verdictLabelsFit();
    void deviceLookup_data();
    void deviceLookup();
    void simLookup_data();
    void simLookup();
    void unreachableService();
    void secondLookupClearsTheFirst();
    void simLookupKeepsTheVerdict();
    void slowAnswerHoldsTickAndLocksButtons();
    void clearDuringFetch_data();
    void clearDuringFetch();
    void otherSideClearDuringFetch_data();
    void otherSideClearDuringFetch();
    void watchdogNeverEarly();
    void unpaintedWindowLoadsAnnouncement();
    void longTexts();
    void eventGate_data();
    void eventGate();
    void tickHeldWhileLookupMessageOpen();
    void heldTickOfOtherWatchdogComesAfterwards();
    void watchdogTicks_data();
    void watchdogTicks();
    void pageWaitsForOpenLinkMessage();
    void closingDuringFetchEndsCleanly();
};

void TestApp::controlGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("caption");

    // Each control's place in pixels at 96 dpi, worked out by hand from the
    // design's twips (15 to a pixel, halves up), in the order of creation.
    const std::pair<QString, QRect> designed[] = {
        {u"Label14"_s, QRect(32, 43, 97, 17)},    {u"Text1(0)"_s, QRect(128, 40, 219, 23)},
        {u"Command3"_s, QRect(32, 80, 131, 36)},  {u"Command1"_s, QRect(176, 80, 131, 36)},
        {u"Label17"_s, QRect(176, 120, 185, 17)}, {u"Command6"_s, QRect(32, 128, 131, 36)},
        {u"Label18"_s, QRect(176, 144, 185, 17)}, {u"WebBrowser1"_s, QRect(24, 176, 369, 221)},
        {u"Label1"_s, QRect(407, 40, 121, 17)},   {u"Text4"_s, QRect(545, 36, 193, 23)},
        {u"Label16"_s, QRect(431, 74, 89, 17)},   {u"Text2"_s, QRect(544, 72, 193, 23)},
        {u"Label2"_s, QRect(376, 108, 145, 17)},  {u"Text5"_s, QRect(545, 104, 193, 23)},
        {u"Label3"_s, QRect(452, 141, 65, 17)},   {u"Text6"_s, QRect(545, 136, 193, 23)},
        {u"Label4"_s, QRect(417, 181, 97, 17)},   {u"Text7"_s, QRect(544, 176, 193, 23)},
        {u"Label5"_s, QRect(421, 216, 97, 17)},   {u"Text8"_s, QRect(545, 211, 193, 23)},
        {u"Label6"_s, QRect(457, 256, 57, 17)},   {u"Text9"_s, QRect(545, 251, 193, 23)},
        {u"Label7"_s, QRect(452, 296, 65, 17)},   {u"Text10"_s, QRect(545, 291, 193, 23)},
        {u"Label8"_s, QRect(452, 328, 65, 17)},   {u"Text11"_s, QRect(545, 323, 193, 23)},
        {u"Label9"_s, QRect(428, 363, 89, 17)},   {u"Text12"_s, QRect(545, 360, 193, 23)},
        {u"Label15"_s, QRect(80, 443, 49, 17)},   {u"Text1(1)"_s, QRect(136, 440, 219, 23)},
        {u"Command4"_s, QRect(48, 504, 131, 36)}, {u"Command2"_s, QRect(208, 504, 131, 36)},
        {u"Label10"_s, QRect(464, 440, 49, 17)},  {u"Text13"_s, QRect(544, 435, 193, 23)},
        {u"Label11"_s, QRect(432, 480, 81, 17)},  {u"Text14"_s, QRect(544, 475, 193, 23)},
        {u"Label12"_s, QRect(464, 512, 49, 17)},  {u"Text15"_s, QRect(544, 507, 193, 23)},
        {u"Label13"_s, QRect(432, 550, 81, 17)},  {u"Text16"_s, QRect(544, 547, 193, 23)},
    };
    const auto rows = mizong::layout::controls();
    QCOMPARE(rows.size(), std::size(designed));
    using mizong::layout::Kind;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const mizong::layout::Control& row = rows[i];
        const auto& [name, rect] = designed[i];
        const char* kind = row.kind == Kind::Input || row.kind == Kind::Result ? "QLineEdit"
                           : row.kind == Kind::Button                          ? "QPushButton"
                           : row.kind == Kind::Page                            ? "QWidget"
                                                                               : "QLabel";
        QTest::newRow(qPrintable(name))
            << name << QString::fromLatin1(kind) << rect
            << (row.kind == Kind::Button ? QString() : row.text.toString());
    }
}

void TestApp::controlGeometry()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QRect, rect);
    QFETCH(QString, caption);

    Fixture f;
    QWidget* widget = f.child(name);
    QCOMPARE(widget->parentWidget(), f.form.get()); // every control a direct child
    QVERIFY(widget->inherits(kind.toLatin1().constData()));
    QCOMPARE(widget->geometry(), rect);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        QCOMPARE(label->text(), caption);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        QVERIFY(!label->autoFillBackground());
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QVERIFY(button->text().isEmpty());
        QVERIFY(!button->icon().isNull());
        QCOMPARE(button->iconSize(), QSize(128, 33));
        QVERIFY(!button->accessibleName().isEmpty());
        QVERIFY(!button->autoDefault() && !button->isDefault());
    }
    if (auto* box = qobject_cast<QLineEdit*>(widget)) {
        QVERIFY(box->text().isEmpty());
        QVERIFY(!box->accessibleName().isEmpty());
        QCOMPARE(box->font().bold(), name == u"Text4");
        QCOMPARE(box->font().pointSizeF(), 10.5);
    }
}

void TestApp::windowAtStartup()
{
    Fixture f(8000ms, true);
    QCOMPARE(f.form->size(), QSize(804, 626));
    QCOMPARE(f.form->windowTitle(),
             u"觅踪助理  v1.1      by 觅踪网  http://home.invalid  专业找回被偷iphone手机!"_s);
    QTRY_VERIFY(!f.form->windowIcon().isNull()); // set soon after the first paint
    QCOMPARE(f.form->windowIcon().availableSizes().size(), 6);
    for (const char* name : {"Timer1", "Timer2"}) {
        QTimer* timer = f.timer(QString::fromLatin1(name));
        QCOMPARE(timer->interval(), 8000);
        QVERIFY(!timer->isActive());
    }
    QVERIFY(f.label(u"Label17"_s)->text().isEmpty());
    QVERIFY(f.label(u"Label18"_s)->text().isEmpty());
    QVERIFY(!f.label(u"Label18"_s)->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(f.child<QPushButton>(u"Command3"_s)->accessibleName(), u"开始查询（IMEI或序列号）"_s);
    QCOMPARE(f.child<QPushButton>(u"Command1"_s)->accessibleName(), u"清空信息（IMEI或序列号）"_s);
    QCOMPARE(f.child<QPushButton>(u"Command6"_s)->accessibleName(), u"觅踪网淘宝店"_s);
    QCOMPARE(f.box(u"Text6"_s)->accessibleName(), u"产品型号："_s);
    QCOMPARE(f.box(u"Text4"_s)->palette().color(QPalette::Text), QColor(255, 0, 0));
    QCOMPARE(f.label(u"Label17"_s)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    // After the first paint the view asks for the announcement; a home site
    // that cannot be reached leaves its address in the page's place.
    auto* view = f.child<mizong::PageBrowser>(u"WebBrowser1"_s);
    QTRY_COMPARE_WITH_TIMEOUT(view->toPlainText(), u"http://home.invalid/gonggao.html"_s, 20000);
    // No watchdog can report before the first lookup.
    QTest::qWait(50);
    QVERIFY(f.messenger.messages.isEmpty());
}

void TestApp::tabOrder()
{
    Fixture f(8000ms, true);
    f.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QCOMPARE(QApplication::focusWidget(), f.child(u"Text1(0)"_s));

    const QStringList expected{
        u"Text1(0)"_s, u"Text2"_s,    u"Command1"_s, u"Command3"_s,    u"Text9"_s,   u"Text4"_s,
        u"Text5"_s,    u"Text6"_s,    u"Text7"_s,    u"Text8"_s,       u"Text10"_s,  u"Text11"_s,
        u"Text12"_s,   u"Command2"_s, u"Command4"_s, u"Text1(1)"_s,    u"Text13"_s,  u"Text14"_s,
        u"Text15"_s,   u"Text16"_s,   u"Command6"_s, u"WebBrowser1"_s, u"Text1(0)"_s};
    // Walk the focus chain; whatever takes the focus inside the page view
    // stands for the view.
    QWidget* browser = f.child(u"WebBrowser1"_s);
    QStringList walked{u"Text1(0)"_s};
    QWidget* w = f.child(u"Text1(0)"_s);
    while (walked.size() < expected.size()) {
        w = w->nextInFocusChain();
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        const QString name = browser->isAncestorOf(w) ? browser->objectName() : w->objectName();
        if (w->parentWidget() != f.form.get() && !browser->isAncestorOf(w))
            continue;
        if (walked.last() != name)
            walked.append(name);
    }
    QCOMPARE(walked, expected);
}

void TestApp::fallbackRule_data()
{
    QTest::addColumn<mizong::device::Slots>("values");
    QTest::addColumn<QList<int>>("filled"); // the boxes that get the fallback text
    QTest::addColumn<bool>("disarm");

    using mizong::device::Field;
    using mizong::device::Slots;
    const auto only = [](std::initializer_list<std::pair<Field, QString>> values) {
        Slots picked;
        for (const auto& [field, text] : values)
            picked[mizong::device::slot(field)] = text;
        return picked;
    };
    QTest::newRow("nothing found") << Slots() << QList<int>() << false;
    Slots allEmpty;
    allEmpty.fill(QString());
    QTest::newRow("only empty texts") << allEmpty << QList<int>() << false;
    QTest::newRow("one value") << only({{Field::SerialNumber, u"F2LK70QCDTWD"_s}})
                               << QList<int>{0, 1, 2, 3, 5, 6, 7, 8, 9} << true;
    QTest::newRow("empty text beside a value")
        << only({{Field::FirstActivation, u"2013-01-15"_s}, {Field::LatestActivation, QString()}})
        << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9} << true;
    QTest::newRow("blanks are a value")
        << only({{Field::Model, u" "_s}}) << QList<int>{0, 1, 2, 4, 5, 6, 7, 8, 9} << true;
    Slots full;
    full.fill(u"x"_s);
    QTest::newRow("all found") << full << QList<int>() << true;
    Slots oneMissing = full;
    oneMissing[mizong::device::slot(Field::LatestActivation)].reset();
    QTest::newRow("latest activation missing") << oneMissing << QList<int>{1} << true;
}

// The boxes as a lookup leaves them: cleared, its values written, then the
// fallback rule.
void TestApp::fallbackRule()
{
    QFETCH(mizong::device::Slots, values);
    QFETCH(QList<int>, filled);
    QFETCH(bool, disarm);

    QWidget window;
    std::array<QLineEdit*, mizong::device::kFieldCount> boxes{};
    for (QLineEdit*& box : boxes)
        box = new QLineEdit(&window);
    mizong::binding::writeValues(boxes, values);
    QCOMPARE(mizong::binding::fillEmptyBoxes(boxes), disarm);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const QString expected =
            filled.contains(int(i)) ? kFallbackText.toString() : values[i].value_or(QString());
        QCOMPARE(boxes[i]->text(), expected);
    }
    QCOMPARE(mizong::binding::allEmpty(boxes), !disarm);
}

void TestApp::resultBoxesAreReadOnly()
{
    Fixture f(8000ms, true);
    for (const QString& name : kDeviceBoxes + kSimBoxes) {
        QLineEdit* box = f.box(name);
        QVERIFY2(box->isReadOnly(), qPrintable(name));
        QVERIFY(box->focusPolicy() & Qt::TabFocus);
    }
    QLineEdit* text6 = f.box(u"Text6"_s);
    text6->setText(u"iPhone 5"_s);
    text6->setFocus();
    QTest::keyClicks(text6, u"abc"_s);
    QTest::keyClick(text6, Qt::Key_Backspace);
    QCOMPARE(text6->text(), u"iPhone 5"_s);
    text6->selectAll();
    text6->copy();
    QCOMPARE(QApplication::clipboard()->text(), u"iPhone 5"_s);
    QVERIFY(!f.box(u"Text1(0)"_s)->isReadOnly());
    QVERIFY(!f.box(u"Text1(1)"_s)->isReadOnly());
}

void TestApp::enterStartsNothing()
{
    Fixture f(8000ms, true);
    for (const char* name : {"Text1(0)", "Text1(1)"}) {
        QLineEdit* input = f.box(QString::fromLatin1(name));
        input->setFocus();
        QTest::keyClicks(input, u"356789012345678"_s);
        QTest::keyClick(input, Qt::Key_Return);
        QTest::keyClick(input, Qt::Key_Enter);
    }
    QTest::qWait(100);
    QVERIFY(!f.form->isLookupInProgress());
    QVERIFY(f.server.requests().isEmpty());
    QVERIFY(f.messenger.messages.isEmpty());
    QVERIFY(!f.timer(u"Timer1"_s)->isActive());
}

void TestApp::clearButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("device clear") << u"Command1"_s;
    QTest::newRow("SIM clear") << u"Command2"_s;
}

void TestApp::clearButtons()
{
    QFETCH(QString, button);
    Fixture f;
    // Both lookups showing results, both watchdogs armed.
    f.box(u"Text1(0)"_s)->setText(u"356789012345678"_s);
    f.box(u"Text1(1)"_s)->setText(u"89860012345678901234"_s);
    for (const QString& name : kDeviceBoxes + kSimBoxes)
        f.box(name)->setText(name);
    f.label(u"Label17"_s)->setText(u"verdict"_s);
    f.label(u"Label18"_s)->setText(u"link"_s);
    f.label(u"Label18"_s)->setCursor(Qt::PointingHandCursor);
    f.timer(u"Timer1"_s)->start();
    f.timer(u"Timer2"_s)->start();

    f.click(button);

    const bool device = button == u"Command1";
    const QStringList cleared = device ? kDeviceBoxes : kSimBoxes;
    const QStringList kept = device ? kSimBoxes : kDeviceBoxes;
    for (const QString& name : cleared)
        QVERIFY2(f.box(name)->text().isEmpty(), qPrintable(name));
    for (const QString& name : kept)
        QCOMPARE(f.box(name)->text(), name);
    QCOMPARE(f.box(u"Text1(0)"_s)->text().isEmpty(), device);
    QCOMPARE(f.box(u"Text1(1)"_s)->text().isEmpty(), !device);
    QCOMPARE(f.label(u"Label17"_s)->text().isEmpty(), device);
    QCOMPARE(f.label(u"Label18"_s)->text().isEmpty(), device);
    QCOMPARE(f.label(u"Label18"_s)->testAttribute(Qt::WA_SetCursor), !device);
    QCOMPARE(f.timer(u"Timer1"_s)->isActive(), !device);
    QCOMPARE(f.timer(u"Timer2"_s)->isActive(), device);
    QVERIFY(f.messenger.messages.isEmpty());
}

void TestApp::label18Clicks_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("opened");
    QTest::newRow("not re-activated link")
        << u"如何催促对方刷机？点击查看！"_s << u"http://home.invalid/201302/287.html"_s;
    QTest::newRow("re-activated link")
        << u"如何判断小偷已经刷机？点击查看！"_s << u"http://home.invalid/201302/285.html"_s;
    QTest::newRow("empty caption") << QString() << QString();
    QTest::newRow("verdict text is no link") << u"手机还未刷机，请耐心等待!"_s << QString();
    QTest::newRow("link with a trailing blank") << u"如何催促对方刷机？点击查看！ "_s << QString();
}

void TestApp::label18Clicks()
{
    QFETCH(QString, caption);
    QFETCH(QString, opened);
    Fixture f(8000ms, true);
    QLabel* link = f.label(u"Label18"_s);
    link->setText(caption);
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(link, Qt::RightButton, {}, QPoint(5, 5)); // only a left click opens
    if (opened.isEmpty())
        QVERIFY(f.opener.opened.isEmpty());
    else
        QCOMPARE(f.opener.opened, QList<QUrl>{QUrl(opened)});
    QVERIFY(f.messenger.messages.isEmpty());
}

void TestApp::shopButtonAndFailedOpen()
{
    Fixture f;
    f.click(u"Command6"_s);
    QCOMPARE(f.opener.opened, QList<QUrl>{QUrl(u"http://home.invalid/taobao.php"_s)});
    QVERIFY(f.messenger.messages.isEmpty());

    // No browser could be started: the user learns the address, and the
    // window goes on working.
    f.opener.succeed = false;
    f.click(u"Command6"_s);
    QCOMPARE(f.messenger.messages.size(), 1);
    QVERIFY(f.messenger.messages.first().contains(u"http://home.invalid/taobao.php"_s));
    f.click(u"Command1"_s);
    QCOMPARE(f.messenger.messages.size(), 1);
}

void TestApp::verdictLabelsFit()
{
    Fixture f(8000ms, true);
    auto* verdict = f.child<mizong::FittedLabel>(u"Label17"_s);
    verdict->setText(u"手机已经被刷机！请及时复查刷机信息！"_s);
    const qreal scale = verdict->textScale();
    QVERIFY(scale < 1.0);
    QVERIFY(scale > 0.7); // condensed, still readable
    QVERIFY(QFontMetricsF(verdict->font()).horizontalAdvance(verdict->text()) * scale <=
            verdict->contentsRect().width() + 0.5);
    verdict->setText(u"短"_s);
    QCOMPARE(verdict->textScale(), 1.0);
}

namespace {
const QString kFull = u"358805052512340"_s;
const QStringList kFullBoxes{
    u"2013-01-15 10:21:33"_s, u"2013-01-15 10:21:33"_s, u"中国联通"_s, u"iPhone 5 (A1429)"_s,
    u"F2LK70QCDTWD"_s,        u"2012-10-08"_s,          u"6.1.2"_s,    u"2013-01-15"_s,
    u"2014-01-14"_s,          u"还剩 287 天"_s};
const QString kNone = u"无相关信息"_s;
const QString kMaintenance = u"服务器维护中，请稍后查询！"_s;
const QStringList kNoDeviceBoxes(10, QString());
const QStringList kNoSimBoxes(4, QString());
} // namespace

void TestApp::deviceLookup_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("page");      // fixture served for the identifier
    QTest::addColumn<QString>("sent");      // the value the service receives; empty: none sent
    QTest::addColumn<QStringList>("boxes"); // Text2, Text4 .. Text12 afterwards
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("armed"); // Timer1 still enabled: the watchdog will report

    const QString notYet = u"手机还未刷机，请耐心等待!"_s;
    const QString notYetLink = u"如何催促对方刷机？点击查看！"_s;
    const QString done = u"手机已经被刷机！请及时复查刷机信息！"_s;
    const QString doneLink = u"如何判断小偷已经刷机？点击查看！"_s;

    QTest::newRow("not re-activated")
        << kFull << u"device-not-reactivated.html"_s << kFull << kFullBoxes << notYet << notYetLink
        << QStringList() << false;
    QTest::newRow("blanks around the IMEI are not sent")
        << u"  358805052512340 "_s << u"device-not-reactivated.html"_s << kFull << kFullBoxes
        << notYet << notYetLink << QStringList() << false;
    QTest::newRow("re-activated") << u"013429008765436"_s << u"device-reactivated.html"_s
                                  << u"013429008765436"_s << QStringList{u"2012-11-03 14:05:27"_s,
                                                                         u"2013-02-18 09:12:40"_s,
                                                                         u"中国移动"_s,
                                                                         u"iPhone 4S (A1387)"_s,
                                                                         u"DX4HG2KJDTC1"_s,
                                                                         u"2012-09-21"_s,
                                                                         u"6.1"_s,
                                                                         u"2012-11-03"_s,
                                                                         u"2013-11-02"_s,
                                                                         u"还剩 257 天"_s}
                                  << done << doneLink << QStringList() << false;
    QTest::newRow("same day, other times")
        << u"358820050011229"_s << u"device-same-day.html"_s << u"358820050011229"_s
        << QStringList() << notYet << notYetLink << QStringList() << false;
    QTest::newRow("some fields only: fallback, no verdict")
        << u"F2LKQ0XYDTWF"_s << u"device-partial.html"_s << u"F2LKQ0XYDTWF"_s
        << QStringList{kNone,
                       kNone,
                       kNone,
                       u"iPad mini (A1432)"_s,
                       u"F2LKQ0XYDTWF"_s,
                       u"2012-12-03"_s,
                       kNone,
                       kNone,
                       kNone,
                       u"设备尚未激活，保修未开始"_s}
        << QString() << QString() << QStringList() << false;
    QTest::newRow("LF-only page: only the label-less fields")
        << u"013977001357916"_s << u"device-lf-only.html"_s << u"013977001357916"_s
        << QStringList{kNone,
                       u"2012-06-30 19:45:02"_s,
                       kNone,
                       u"iPhone 4 (A1332)"_s,
                       u"88025ZKXA4S"_s,
                       kNone,
                       kNone,
                       kNone,
                       kNone,
                       kNone}
        << QString() << QString() << QStringList() << false;
    QTest::newRow("replaced product")
        << u"F17JX0QPDTC0"_s << u"device-replaced.html"_s << u"F17JX0QPDTC0"_s << kNoDeviceBoxes
        << QString() << QString()
        << QStringList{u"很抱歉，这是已更换产品的序列号，建议去官网继续查询！"_s} << false;
    QTest::newRow("invalid serial")
        << u"DX3K9ABCDEFG"_s << u"device-invalid.html"_s << u"DX3K9ABCDEFG"_s << kNoDeviceBoxes
        << QString() << QString() << QStringList{u"此序列号无效，建议去官网继续查询！"_s} << false;
    QTest::newRow("both phrases: replaced wins")
        << u"F17JX0QPDTC1"_s << u"device-both-phrases.html"_s << u"F17JX0QPDTC1"_s << kNoDeviceBoxes
        << QString() << QString()
        << QStringList{u"很抱歉，这是已更换产品的序列号，建议去官网继续查询！"_s} << false;
    QTest::newRow("other layout: nothing, watchdog armed")
        << u"990000862471853"_s << u"other-layout.html"_s << u"990000862471853"_s << kNoDeviceBoxes
        << QString() << QString() << QStringList() << true;
    QTest::newRow("13 characters")
        << u"3588050525123"_s << QString() << QString() << kNoDeviceBoxes << QString() << QString()
        << QStringList{u"请输入15位的IMEI或12位的序列号！"_s} << false;
    QTest::newRow("empty input") << QString() << QString() << QString() << kNoDeviceBoxes
                                 << QString() << QString()
                                 << QStringList{u"请输入15位的IMEI或12位的序列号！"_s} << false;
    QTest::newRow("twelve characters of any kind are sent as typed")
        << u"苹果 #&+%=?/序列"_s << u"other-layout.html"_s << u"苹果 #&+%=?/序列"_s
        << kNoDeviceBoxes << QString() << QString() << QStringList() << true;
}

void TestApp::deviceLookup()
{
    QFETCH(QString, input);
    QFETCH(QString, page);
    QFETCH(QString, sent);
    QFETCH(QStringList, boxes);
    QFETCH(QString, verdict);
    QFETCH(QString, link);
    QFETCH(QStringList, messages);
    QFETCH(bool, armed);

    Fixture f;
    if (!page.isEmpty())
        f.server.setPage(sent, dataFile(page));
    // Leftovers of an earlier lookup must not survive any path.
    for (const QString& name : kDeviceBoxes)
        f.box(name)->setText(u"old"_s);
    f.label(u"Label17"_s)->setText(u"old"_s);
    f.label(u"Label18"_s)->setText(u"old"_s);
    f.box(u"Text1(0)"_s)->setText(input);

    f.lookup(u"Command3"_s);

    QCOMPARE(f.server.requests(), sent.isEmpty() ? QStringList() : QStringList{sent});
    if (!boxes.isEmpty())
        QCOMPARE(f.texts(kDeviceBoxes), boxes);
    QCOMPARE(f.label(u"Label17"_s)->text(), verdict);
    QCOMPARE(f.label(u"Label18"_s)->text(), link);
    QCOMPARE(f.label(u"Label18"_s)->testAttribute(Qt::WA_SetCursor), !link.isEmpty());
    QCOMPARE(f.messenger.messages, messages);
    QCOMPARE(f.timer(u"Timer1"_s)->isActive(), armed);
    QCOMPARE(f.box(u"Text1(0)"_s)->text(), input); // the input is never changed
    QVERIFY(!f.form->isLookupInProgress());
}

void TestApp::simLookup_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QStringList>("boxes"); // Text13 .. Text16 afterwards
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("armed");

    QTest::newRow("plain home area")
        << u" 89860114831001234567 "_s << u"sim-plain.html"_s << u"89860114831001234567"_s
        << QStringList{u"中国联通"_s, u"18601234567"_s, u"2011年"_s, u"广东深圳"_s} << QStringList()
        << false;
    QTest::newRow("area-code home area on one line")
        << u"89860078601234567890"_s << u"sim-area-code.html"_s << u"89860078601234567890"_s
        << QStringList{u"中国移动"_s, u"13912345678"_s, u"2009年"_s, u"江苏南京025"_s}
        << QStringList() << false;
    QTest::newRow("phone number only")
        << u"89860313005556667778"_s << u"sim-phone-only.html"_s << u"89860313005556667778"_s
        << QStringList{kNone, u"15012345678"_s, kNone, kNone} << QStringList() << false;
    QTest::newRow("invalid ICCID")
        << u"8986001234"_s << u"sim-invalid.html"_s << u"8986001234"_s << kNoSimBoxes
        << QStringList{u"你输入的不是一个有效的ICCID码！"_s} << false;
    QTest::newRow("LF-only page: nothing, watchdog armed")
        << u"89860000000000000001"_s << u"sim-lf-only.html"_s << u"89860000000000000001"_s
        << kNoSimBoxes << QStringList() << true;
    QTest::newRow("blanks inside are sent")
        << u"8986 0000 0000"_s << u"other-layout.html"_s << u"8986 0000 0000"_s << kNoSimBoxes
        << QStringList() << true;
    QTest::newRow("blanks only: empty ICCID keeps the old boxes")
        << u"   "_s << QString() << QString()
        << QStringList{u"Text13"_s, u"Text14"_s, u"Text15"_s, u"Text16"_s}
        << QStringList{u"ICCID不能为空！"_s} << false;
}

void TestApp::simLookup()
{
    QFETCH(QString, input);
    QFETCH(QString, page);
    QFETCH(QString, sent);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, messages);
    QFETCH(bool, armed);

    Fixture f;
    if (!page.isEmpty())
        f.server.setPage(sent, dataFile(page));
    for (const QString& name : kSimBoxes + kDeviceBoxes)
        f.box(name)->setText(name);
    f.box(u"Text1(1)"_s)->setText(input);

    f.lookup(u"Command4"_s);

    QCOMPARE(f.server.requests(), sent.isEmpty() ? QStringList() : QStringList{sent});
    QCOMPARE(f.texts(kSimBoxes), boxes);
    QCOMPARE(f.texts(kDeviceBoxes), kNoDeviceBoxes); // every path empties the device boxes
    QCOMPARE(f.messenger.messages, messages);
    QCOMPARE(f.timer(u"Timer2"_s)->isActive(), armed);
    QVERIFY(!f.timer(u"Timer1"_s)->isActive());
}

void TestApp::unreachableService()
{
    RecordingMessenger messenger;
    RecordingOpener opener;
    const quint16 port = mizong::testing::refusedPort();
    QVERIFY(port != 0);
    Form1::Options options;
    options.serviceBase = QStringLiteral("http://127.0.0.1:%1").arg(port);
    options.homeSiteBase = QStringLiteral("http://home.invalid");
    options.watchdogInterval = 100ms;
    options.embedBrowser = false;
    Form1 form(messenger, opener, options);
    form.findChild<QLineEdit*>(u"Text1(0)"_s)->setText(kFull);
    QSignalSpy done(&form, &Form1::lookupFinished);
    QTest::mouseClick(form.findChild<QPushButton*>(u"Command3"_s), Qt::LeftButton);
    QVERIFY(done.wait(10000));
    // Nothing came back: boxes empty, no message at once, then the watchdog.
    for (const QString& name : kDeviceBoxes)
        QVERIFY(form.findChild<QLineEdit*>(name)->text().isEmpty());
    QTRY_COMPARE(messenger.messages, QStringList{kMaintenance});
    QVERIFY(!form.findChild<QTimer*>(u"Timer1"_s)->isActive());
    QTest::qWait(300);
    QCOMPARE(messenger.messages.size(), 1); // one report per lookup
}

void TestApp::secondLookupClearsTheFirst()
{
    Fixture f;
    f.server.setPage(kFull, dataFile(u"device-not-reactivated.html"_s));
    f.server.setPage(u"F2LKQ0XYDTWF"_s, dataFile(u"device-partial.html"_s));
    f.box(u"Text1(0)"_s)->setText(kFull);
    f.lookup(u"Command3"_s);
    QCOMPARE(f.texts(kDeviceBoxes), kFullBoxes);

    f.box(u"Text1(0)"_s)->setText(u"F2LKQ0XYDTWF"_s);
    f.lookup(u"Command3"_s);
    QCOMPARE(f.box(u"Text2"_s)->text(), kNone);
    QCOMPARE(f.box(u"Text5"_s)->text(), kNone);
    QCOMPARE(f.box(u"Text6"_s)->text(), u"iPad mini (A1432)"_s);
    QVERIFY(f.label(u"Label17"_s)->text().isEmpty());
    QVERIFY(f.label(u"Label18"_s)->text().isEmpty());
    QVERIFY(!f.label(u"Label18"_s)->testAttribute(Qt::WA_SetCursor));
}

void TestApp::simLookupKeepsTheVerdict()
{
    Fixture f;
    f.server.setPage(kFull, dataFile(u"device-not-reactivated.html"_s));
    f.server.setPage(u"89860114831001234567"_s, dataFile(u"sim-plain.html"_s));
    f.box(u"Text1(0)"_s)->setText(kFull);
    f.lookup(u"Command3"_s);
    f.box(u"Text1(1)"_s)->setText(u"89860114831001234567"_s);
    f.lookup(u"Command4"_s);
    QCOMPARE(f.texts(kDeviceBoxes), kNoDeviceBoxes);
    QCOMPARE(f.label(u"Label17"_s)->text(), u"手机还未刷机，请耐心等待!"_s);
    QTest::mouseClick(f.label(u"Label18"_s), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(f.opener.opened, QList<QUrl>{QUrl(u"http://home.invalid/201302/287.html"_s)});
}

void TestApp::slowAnswerHoldsTickAndLocksButtons()
{
    Fixture f(150ms);
    f.server.setDelay(900ms);
    f.server.setDefaultPage(QByteArray()); // an empty page: nothing to fill
    f.box(u"Text1(0)"_s)->setText(kFull);
    f.box(u"Text1(1)"_s)->setText(u"89860114831001234567"_s);
    QSignalSpy done(f.form.get(), &Form1::lookupFinished);
    f.click(u"Command3"_s);
    QVERIFY(f.form->isLookupInProgress());
    QVERIFY(QGuiApplication::overrideCursor() != nullptr); // the wait shows

    // The tick falls due during the fetch: held, no message yet.
    QTest::qWait(450);
    QVERIFY(f.messenger.messages.isEmpty());
    // The start buttons of both lookups do nothing meanwhile.
    f.click(u"Command4"_s);
    f.click(u"Command3"_s);
    QCOMPARE(f.box(u"Text1(0)"_s)->text(), kFull);
    QCOMPARE(f.box(u"Text1(1)"_s)->text(), u"89860114831001234567"_s);
    QCOMPARE(f.server.requests().size(), 1);
    QVERIFY(!f.timer(u"Timer2"_s)->isActive());

    QVERIFY(done.wait(10000));
    // Right after the last step: the held tick reports the empty lookup.
    QCOMPARE(f.messenger.messages, QStringList{kMaintenance});
    QVERIFY(!f.timer(u"Timer1"_s)->isActive());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void TestApp::clearDuringFetch_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("clear");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("page"); // fixture served slowly; empty: an empty page
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("timer");

    QTest::newRow("device, empty answer") << u"Command3"_s << u"Command1"_s << u"Text1(0)"_s
                                          << QString() << kDeviceBoxes << u"Timer1"_s;
    QTest::newRow("device, full answer")
        << u"Command3"_s << u"Command1"_s << u"Text1(0)"_s << u"device-not-reactivated.html"_s
        << kDeviceBoxes << u"Timer1"_s;
    QTest::newRow("SIM, empty answer")
        << u"Command4"_s << u"Command2"_s << u"Text1(1)"_s << QString() << kSimBoxes << u"Timer2"_s;
    QTest::newRow("SIM, full answer") << u"Command4"_s << u"Command2"_s << u"Text1(1)"_s
                                      << u"sim-plain.html"_s << kSimBoxes << u"Timer2"_s;
}

// The clear of the running lookup's side ends with that side empty and no
// watchdog message, as if the click had waited for the lookup's last step.
void TestApp::clearDuringFetch()
{
    QFETCH(QString, start);
    QFETCH(QString, clear);
    QFETCH(QString, input);
    QFETCH(QString, page);
    QFETCH(QStringList, boxes);
    QFETCH(QString, timer);

    Fixture f(150ms);
    f.server.setDelay(600ms);
    f.server.setDefaultPage(page.isEmpty() ? QByteArray() : dataFile(page));
    f.box(input)->setText(input == u"Text1(0)" ? kFull : u"89860114831001234567"_s);
    QSignalSpy done(f.form.get(), &Form1::lookupFinished);
    f.click(start);
    QVERIFY(f.form->isLookupInProgress());
    QTRY_COMPARE(f.server.log().size(), 1); // the request is out
    f.click(clear);
    QVERIFY(!f.form->isLookupInProgress());
    QCOMPARE(done.size(), 1);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(!f.timer(timer)->isActive());

    // Past the answer and the watchdog's interval: nothing of the lookup came back.
    QTest::qWait(900);
    QVERIFY(f.messenger.messages.isEmpty());
    QVERIFY(f.box(input)->text().isEmpty());
    for (const QString& name : boxes)
        QVERIFY2(f.box(name)->text().isEmpty(), qPrintable(name));
    QVERIFY(f.label(u"Label17"_s)->text().isEmpty());
    QVERIFY(f.label(u"Label18"_s)->text().isEmpty());
    QCOMPARE(done.size(), 1);
    // And the window takes the next lookup.
    f.server.setDelay(0ms);
    f.box(input)->setText(input == u"Text1(0)" ? kFull : u"89860114831001234567"_s);
    f.lookup(start);
    QCOMPARE(f.server.log().size(), 2);
}

void TestApp::otherSideClearDuringFetch_data()
{
    QTest::addColumn<bool>("deviceRuns"); // else the SIM lookup runs and Command1 is clicked
    QTest::newRow("device lookup runs, SIM clear") << true;
    QTest::newRow("SIM lookup runs, device clear") << false;
}

// The other side's clear runs at once and leaves the running lookup alone.
void TestApp::otherSideClearDuringFetch()
{
    QFETCH(bool, deviceRuns);
    Fixture f(150ms);
    const QString iccid = u"89860114831001234567"_s;
    f.server.setPage(kFull, dataFile(u"device-not-reactivated.html"_s));
    f.server.setPage(iccid, dataFile(u"sim-plain.html"_s));
    // Both sides show an earlier result.
    f.box(u"Text1(0)"_s)->setText(kFull);
    f.lookup(u"Command3"_s);
    f.box(u"Text1(1)"_s)->setText(iccid);
    f.lookup(u"Command4"_s);
    f.box(u"Text1(0)"_s)->setText(kFull);
    f.lookup(u"Command3"_s);
    QCOMPARE(f.texts(kDeviceBoxes), kFullBoxes);
    const QStringList simShown = f.texts(kSimBoxes);
    QVERIFY(!simShown.first().isEmpty());

    f.server.setDelay(600ms);
    QSignalSpy done(f.form.get(), &Form1::lookupFinished);
    f.click(deviceRuns ? u"Command3"_s : u"Command4"_s);
    f.click(deviceRuns ? u"Command2"_s : u"Command1"_s);
    QVERIFY(f.form->isLookupInProgress());
    const QStringList cleared = deviceRuns ? kSimBoxes : kDeviceBoxes;
    for (const QString& name : cleared)
        QVERIFY2(f.box(name)->text().isEmpty(), qPrintable(name));
    QVERIFY(f.box(deviceRuns ? u"Text1(1)"_s : u"Text1(0)"_s)->text().isEmpty());
    if (!deviceRuns)
        QVERIFY(f.label(u"Label17"_s)->text().isEmpty());

    QVERIFY(done.wait(10000));
    QCOMPARE(done.size(), 1);
    if (deviceRuns) {
        QCOMPARE(f.texts(kDeviceBoxes), kFullBoxes);
        QCOMPARE(f.label(u"Label17"_s)->text(), u"手机还未刷机，请耐心等待!"_s);
        QCOMPARE(f.box(u"Text1(0)"_s)->text(), kFull);
    } else {
        QCOMPARE(f.texts(kSimBoxes), simShown);
        QCOMPARE(f.box(u"Text1(1)"_s)->text(), iccid);
    }
    QTest::qWait(300);
    QVERIFY(f.messenger.messages.isEmpty());
}

// Lookups that fill nothing, started at different moments: the maintenance
// message never comes before the watchdog's interval has passed.
void TestApp::watchdogNeverEarly()
{
    constexpr auto interval = 400ms;
    Fixture f(interval);
    f.server.setDefaultPage(QByteArray());
    f.box(u"Text1(0)"_s)->setText(kFull);
    f.box(u"Text1(1)"_s)->setText(u"89860114831001234567"_s);
    QElapsedTimer sinceClick;
    QList<qint64> elapsed;
    f.messenger.whileOpen = [&](const QString&) { elapsed.append(sinceClick.elapsed()); };
    for (int i = 0; i < 8; ++i) {
        QTest::qWait(13 * i); // a different phase of the clock each time
        sinceClick.start();
        f.lookup(i % 2 ? u"Command4"_s : u"Command3"_s);
        QTRY_COMPARE_WITH_TIMEOUT(elapsed.size(), i + 1, 10000);
    }
    for (qint64 ms : elapsed)
        QVERIFY2(ms >= interval.count(), qPrintable(QString::number(ms)));
}

void TestApp::unpaintedWindowLoadsAnnouncement()
{
    PageServer home;
    home.route("/gonggao.html", {PageServer::htmlResponse("<p>公告</p>")});
    const QString homeBase = home.start();
    Fixture f(8000ms, false, homeBase);
    // Never shown, so never painted: the page is asked for all the same.
    QTRY_VERIFY_WITH_TIMEOUT(!home.log().isEmpty(), 20000);
    QCOMPARE(home.log().first().target, QByteArray("/gonggao.html"));
    QVERIFY(!f.form->isVisible());
    QTRY_VERIFY(!f.form->windowIcon().isNull());
}

// No length limit on any of the sixteen boxes.
void TestApp::longTexts()
{
    Fixture f;
    const QString longModel(40000, u'M');
    QByteArray page = dataFile(u"device-not-reactivated.html"_s);
    const QByteArray model = kFullBoxes.at(kDeviceBoxes.indexOf(u"Text6"_s)).toUtf8();
    QVERIFY(page.contains(model));
    page.replace(model, longModel.toUtf8());
    f.server.setDefaultPage(page);
    f.box(u"Text1(0)"_s)->setText(kFull);
    f.lookup(u"Command3"_s);
    QCOMPARE(f.box(u"Text6"_s)->text(), longModel);

    // A long paste that is no identifier gives the length message and stays whole.
    const QString pasted(40000, u'8');
    f.box(u"Text1(0)"_s)->setText(pasted);
    f.lookup(u"Command3"_s);
    QCOMPARE(f.messenger.messages, QStringList{u"请输入15位的IMEI或12位的序列号！"_s});
    QCOMPARE(f.box(u"Text1(0)"_s)->text(), pasted);
    // An identifier behind many blanks is still found whole.
    f.box(u"Text1(0)"_s)->setText(QString(39985, u' ') + kFull);
    f.lookup(u"Command3"_s);
    QCOMPARE(f.server.requests().last(), kFull);
    for (const QString& name : kSimBoxes + QStringList{u"Text1(1)"_s}) {
        f.box(name)->setText(longModel);
        QCOMPARE(f.box(name)->text().size(), longModel.size());
    }
}

void TestApp::eventGate_data()
{
    // What happens, in order: a lookup starts ("device", "sim") or ends
    // ("end"), a message opens or closes, an event arrives ("tick1", "tick2",
    // "page"), held events are taken up ("take"), the page is dropped ("drop")
    // or everything held ("clear").
    QTest::addColumn<QStringList>("steps");
    // The events that run, in order, among the ends of lookups and messages.
    QTest::addColumn<QStringList>("runs");

    auto row = [](const char* name, const char* steps, const char* runs) {
        QTest::newRow(name) << QString::fromLatin1(steps).split(u' ', Qt::SkipEmptyParts)
                            << QString::fromLatin1(runs).split(u' ', Qt::SkipEmptyParts);
    };
    row("a tick between handlers runs at once", "tick1 tick2", "tick1 tick2");
    row("a tick during a lookup waits for its end", "device tick1 take end take", "end tick1");
    row("a SIM lookup holds the device tick too", "sim tick1 end take", "end tick1");
    row("the lookup's page runs at once", "device page", "page");
    row("a page waits for an open message", "device open page take close take", "close page");
    row("ticks wait for an open message", "open tick1 tick2 take close take", "close tick1 tick2");
    row("ticks come in the order they fell due", "device tick2 tick1 end take", "end tick2 tick1");
    row("a tick that fell due twice runs once", "device tick1 tick1 end take", "end tick1");
    row("the page goes first, ticks after the lookup", "device open tick1 page close take end take",
        "close page end tick1");
    row("a dropped page never runs", "device open page drop close take", "close");
    row("nothing held after a clear", "device tick1 tick2 clear end take", "end");
    row("a message inside a lookup holds ticks until both end",
        "device open tick2 close take end take", "close end tick2");
}

// The gate alone, without timers: which held event runs when.
void TestApp::eventGate()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, runs);
    using Event = mizong::EventGate::Event;
    using Lookup = mizong::EventGate::Lookup;
    const QHash<QString, Event> events{
        {u"tick1"_s, Event::DeviceTick}, {u"tick2"_s, Event::SimTick}, {u"page"_s, Event::Page}};

    mizong::EventGate gate;
    QStringList ran;
    for (const QString& step : steps) {
        if (events.contains(step)) {
            if (gate.admit(events.value(step)))
                ran.append(step);
        } else if (step == u"take") {
            while (const std::optional<Event> next = gate.next())
                ran.append(events.key(*next));
        } else if (step == u"device" || step == u"sim") {
            gate.startLookup(step == u"device" ? Lookup::Device : Lookup::Sim);
        } else if (step == u"end") {
            gate.endLookup();
            ran.append(step);
        } else if (step == u"open") {
            gate.openMessage();
        } else if (step == u"close") {
            gate.closeMessage();
            ran.append(step);
        } else if (step == u"drop") {
            gate.drop(Event::Page);
        } else {
            QCOMPARE(step, u"clear"_s);
            gate.clear();
        }
    }
    QCOMPARE(ran, runs);
}

void TestApp::tickHeldWhileLookupMessageOpen()
{
    Fixture f(100ms);
    f.box(u"Text1(0)"_s)->setText(u"short"_s);
    // The user reads the length message for longer than the watchdog's interval.
    f.messenger.whileOpen = [](const QString&) { QTest::qWait(400); };
    f.lookup(u"Command3"_s);
    QTest::qWait(300);
    QCOMPARE(f.messenger.messages, QStringList{u"请输入15位的IMEI或12位的序列号！"_s});
    QCOMPARE(f.messenger.maxOpen, 1);
}

void TestApp::heldTickOfOtherWatchdogComesAfterwards()
{
    Fixture f(150ms);
    f.server.setDefaultPage(QByteArray());
    // A SIM lookup that found nothing arms Timer2 ...
    f.box(u"Text1(1)"_s)->setText(u"89860000000000000000"_s);
    f.lookup(u"Command4"_s);
    QVERIFY(f.timer(u"Timer2"_s)->isActive());
    // ... and a device lookup with a slow answer runs while Timer2 falls due.
    f.server.setDelay(600ms);
    f.server.setPage(kFull, dataFile(u"device-not-reactivated.html"_s));
    f.box(u"Text1(0)"_s)->setText(kFull);
    f.lookup(u"Command3"_s);
    // The device lookup filled its boxes; the SIM watchdog's held tick comes now.
    QCOMPARE(f.messenger.messages, QStringList{kMaintenance});
    QVERIFY(!f.timer(u"Timer1"_s)->isActive());
    QVERIFY(!f.timer(u"Timer2"_s)->isActive());
}

void TestApp::watchdogTicks_data()
{
    QTest::addColumn<QString>("timer");
    QTest::addColumn<QString>("filled"); // a box given a text first, or none
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("reports");

    QTest::newRow("device, all empty") << u"Timer1"_s << QString() << QString() << true;
    QTest::newRow("device, fallback text is a value")
        << u"Timer1"_s << u"Text12"_s << kNone << false;
    QTest::newRow("device, a blank is a value") << u"Timer1"_s << u"Text4"_s << u" "_s << false;
    QTest::newRow("device ignores SIM boxes") << u"Timer1"_s << u"Text13"_s << u"x"_s << true;
    QTest::newRow("SIM, all empty") << u"Timer2"_s << QString() << QString() << true;
    QTest::newRow("SIM, one filled") << u"Timer2"_s << u"Text16"_s << u"x"_s << false;
    QTest::newRow("SIM ignores device boxes") << u"Timer2"_s << u"Text2"_s << u"x"_s << true;
}

void TestApp::watchdogTicks()
{
    QFETCH(QString, timer);
    QFETCH(QString, filled);
    QFETCH(QString, text);
    QFETCH(bool, reports);

    Fixture f(50ms);
    if (!filled.isEmpty())
        f.box(filled)->setText(text);
    f.timer(timer)->start();
    QTRY_VERIFY(!f.timer(timer)->isActive()); // a tick always disarms its timer
    QCOMPARE(f.messenger.messages, reports ? QStringList{kMaintenance} : QStringList());
}

void TestApp::pageWaitsForOpenLinkMessage()
{
    Fixture f;
    f.opener.succeed = false;
    f.server.setDelay(200ms);
    f.server.setPage(u"DX3K9ABCDEFG"_s, dataFile(u"device-invalid.html"_s));
    f.box(u"Text1(0)"_s)->setText(u"DX3K9ABCDEFG"_s);
    QSignalSpy done(f.form.get(), &Form1::lookupFinished);
    f.click(u"Command3"_s);
    // The shop link fails and its message stays open while the page arrives.
    f.messenger.whileOpen = [&](const QString& text) {
        if (text.contains(u"taobao.php"_s))
            QTest::qWait(600);
    };
    f.click(u"Command6"_s);
    QVERIFY(done.count() == 1 || done.wait(10000));
    QCOMPARE(f.messenger.messages.size(), 2);
    QCOMPARE(f.messenger.messages.last(), u"此序列号无效，建议去官网继续查询！"_s);
    QCOMPARE(f.messenger.maxOpen, 1); // messages never stack
}

void TestApp::closingDuringFetchEndsCleanly()
{
    // A program of its own: close the window while its fetch stalls.
    QTcpServer stalled;
    QVERIFY(stalled.listen(QHostAddress::LocalHost, 0));
    QList<QTcpSocket*> held;
    connect(&stalled, &QTcpServer::newConnection, this,
            [&] { held.append(stalled.nextPendingConnection()); });
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {u"--close-during-fetch"_s, QString::number(stalled.serverPort())});
    QVERIFY(child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 20000);
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(!held.isEmpty()); // the request had been sent
}

// The child side of closingDuringFetchEndsCleanly.
static int closeDuringFetch(int argc, char* argv[])
{
    QApplication app(argc, argv);
    mizong::prepareApplication();
    RecordingMessenger messenger;
    RecordingOpener opener;
    Form1::Options options;
    options.serviceBase = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(argv[2]);
    options.homeSiteBase = QStringLiteral("http://home.invalid");
    options.embedBrowser = false;
    auto* form = new Form1(messenger, opener, options);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    form->findChild<QLineEdit*>(u"Text1(0)"_s)->setText(kFull);
    QTest::mouseClick(form->findChild<QPushButton*>(u"Command3"_s), Qt::LeftButton);
    QTimer::singleShot(300, form, &QWidget::close);
    const int code = app.exec();
    return messenger.messages.isEmpty() ? code : 3;
}

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--close-during-fetch") == 0)
        return closeDuringFetch(argc, argv);
    QApplication app(argc, argv);
    mizong::prepareApplication();
    TestApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
