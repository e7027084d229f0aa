#include "main_window.h"

#include "accessibility.h"
#include "assets.h"
#include "browser_frame.h"
#include "cursor_hotspot.h"
#include "device_lookup.h"
#include "form_controls.h"
#include "messenger.h"
#include "mizong_config.h"
#include "service_contract.h"
#include "sim_lookup.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <limits>
#include <utility>

namespace mizong {

namespace {

// The window's design gives positions in twips; 15 twips make one logical
// pixel, and Qt's high-DPI scaling takes it from there.
int px(int twips)
{
    return qRound(twips / 15.0);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

constexpr int kLabelHeight = 255;
constexpr int kBoxWidth = 2895;
constexpr int kBoxHeight = 350;
constexpr int kInputWidth = 3285;
constexpr int kButtonWidth = 1960;
constexpr int kButtonHeight = 540;
constexpr QSize kClientSize(804, 626);
constexpr QSize kButtonPictureSize(128, 33);

const QColor kRed(255, 0, 0);

// How long the announcement page waits for a first paint that may never come.
constexpr std::chrono::milliseconds kUnpaintedNavigationDelay{1000};
const QColor kBeyondBackground(240, 240, 240);

// Fonts named by the design, falling back to the Simplified Chinese fonts a
// Debian desktop has when the Windows ones are missing.
QFont labelFont()
{
    QFont font(QStringLiteral("微软雅黑"));
    font.setPointSizeF(9);
    font.setWeight(QFont::Normal);
    return font;
}

QFont boxFont(bool bold = false)
{
    QFont font(QStringLiteral("宋体"));
    font.setPointSizeF(10.5);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

void installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"), {QStringLiteral("Microsoft YaHei"),
                                                            QStringLiteral("WenQuanYi Micro Hei"),
                                                            QStringLiteral("Noto Sans CJK SC"),
                                                            QStringLiteral("Droid Sans Fallback")});
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                                QStringLiteral("Noto Serif CJK SC"),
                                QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC")});
}

// Pictures come with a twice-as-large variant for screens with a device
// pixel ratio of 2; QIcon picks it by itself, pixmaps are picked here.
QPixmap loadBackground(qreal devicePixelRatio)
{
    if (devicePixelRatio > 1.0) {
        QPixmap large(assets::kBackground2x.toString());
        large.setDevicePixelRatio(2.0);
        return large;
    }
    return QPixmap(assets::kBackground.toString());
}

// The hand pointer at 32 pixels; on a screen with twice the pixels, drawn
// from the large picture at 64 so it keeps the same size and stays sharp.
QCursor linkCursor(qreal devicePixelRatio)
{
    const bool large = devicePixelRatio > 1.0;
    const int source = large ? 128 : 32;
    const int logical = 32;
    QPixmap pixmap;
    for (const assets::SizedPicture& picture : assets::kCursorHands) {
        if (picture.size == source)
            pixmap = QPixmap(picture.path.toString());
    }
    QPoint hotSpot;
    for (const assets::CursorHotSpot& spot : assets::kCursorHotSpots) {
        if (spot.size == logical)
            hotSpot = QPoint(spot.x, spot.y);
    }
    if (large) {
        pixmap =
            pixmap.scaled(2 * logical, 2 * logical, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        pixmap.setDevicePixelRatio(2.0);
    }
    return QCursor(pixmap, hotSpot.x(), hotSpot.y());
}

// Writes each value into its box, then the fallback text into the boxes
// that stayed empty when any got a value. True when the watchdog is to be
// disarmed.
template <std::size_t N>
bool fillBoxes(const std::array<QLineEdit*, N>& boxes, const FieldSlots<N>& values)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (values[i])
            boxes[i]->setText(*values[i]);
    }
    const FallbackPlan<N> plan = planFallback(values);
    for (std::size_t i = 0; i < N; ++i) {
        if (plan.fill[i])
            boxes[i]->setText(kFallbackText.toString());
    }
    return plan.disarmWatchdog;
}

template <std::size_t N> bool allEmpty(const std::array<QLineEdit*, N>& boxes)
{
    return std::all_of(boxes.begin(), boxes.end(),
                       [](const QLineEdit* box) { return box->text().isEmpty(); });
}

} // namespace

Form1::Options Form1::defaultOptions()
{
    Options options;
    options.serviceBase = QStringLiteral(MIZONG_SERVICE_BASE);
    options.homeSiteBase = QStringLiteral(MIZONG_HOME_SITE_BASE);
    return options;
}

Form1::Form1(Messenger& messenger, LinkOpener& opener, Options options, QWidget* parent)
    : QWidget(parent), m_messenger(messenger), m_opener(opener), m_options(std::move(options))
{
    installFontSubstitutions();
    installAccessibleInterfaces();
    setObjectName(QStringLiteral("Form1"));
    // The design's title has a line break before "by"; a title bar shows one
    // line, so the break is shown as a blank.
    setWindowTitle(QStringLiteral("觅踪助理  v") + QStringLiteral(MIZONG_VERSION_SHORT) + u' ' +
                   QStringLiteral("     by 觅踪网  ") + m_options.homeSiteBase +
                   QStringLiteral("  专业找回被偷iphone手机!"));
    setFont(labelFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBeyondBackground);
    setPalette(pal);
    resize(kClientSize);
    m_logicalSize = m_earlierSize = kClientSize;
    m_pictureRatio = devicePixelRatioF();

    createControls();
    setTabOrderChain();
    // Last, so that a background decoded elsewhere meanwhile is ready by now.
    m_background = m_options.decodedBackground.valid() && m_pictureRatio <= 1.0
                       ? QPixmap::fromImage(m_options.decodedBackground.get())
                       : loadBackground(m_pictureRatio);
    m_options.decodedBackground = {};
    Form_Load();
}

Form1::~Form1()
{
    cancelFetch();
}

void Form1::createControls()
{
    m_linkCursor = linkCursor(m_pictureRatio);

    auto label = [this](QLabel* widget, const char* name, const QString& caption, QRect rect) {
        widget->setObjectName(QLatin1StringView(name));
        widget->setText(caption);
        widget->setTextFormat(Qt::PlainText);
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget->setFocusPolicy(Qt::NoFocus);
        widget->setGeometry(rect);
        return widget;
    };
    auto plainLabel = [this, &label](const char* name, const QString& caption, int left, int top,
                                     int width) {
        return label(new QLabel(this), name, caption, twipsRect(left, top, width, kLabelHeight));
    };
    auto lineEdit = [this](const char* name, QRect rect, bool readOnly, const QString& accessible) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QLatin1StringView(name));
        box->setFont(boxFont());
        box->setGeometry(rect);
        box->setReadOnly(readOnly);
        // No length limit: Qt's default of 32767 would cut a pasted
        // identifier or a long value without a word.
        box->setMaxLength(std::numeric_limits<int>::max());
        box->setAccessibleName(accessible);
        return box;
    };
    auto resultBox = [&lineEdit](const char* name, int left, int top, QLabel* caption) {
        auto* box =
            lineEdit(name, twipsRect(left, top, kBoxWidth, kBoxHeight), true, caption->text());
        caption->setBuddy(box);
        return box;
    };
    // The pictures carry the words; the accessible name and the tool tip say
    // them, and which lookup the button belongs to where two look alike.
    auto button = [this](const char* name, int left, int top, const QString& picture,
                         const QString& words) {
        auto* widget = new QPushButton(this);
        widget->setObjectName(QLatin1StringView(name));
        widget->setGeometry(twipsRect(left, top, kButtonWidth, kButtonHeight));
        widget->setIcon(QIcon(picture));
        widget->setIconSize(kButtonPictureSize);
        widget->setAutoDefault(false);
        widget->setDefault(false);
        widget->setAccessibleName(words);
        widget->setToolTip(words);
        return widget;
    };

    const QString queryPicture = assets::kButtonQuery.toString();
    const QString clearPicture = assets::kButtonClear.toString();

    // Device lookup, left column. Label14 comes first so that Text1(0), which
    // overlaps its right edge by a pixel, is drawn over it.
    Label14 = plainLabel("Label14", QStringLiteral("IMEI或序列号:"), 480, 650, 1455);
    Text1[0] =
        lineEdit("Text1(0)", twipsRect(1920, 600, kInputWidth, kBoxHeight), false, Label14->text());
    Label14->setBuddy(Text1[0]);
    Command3 =
        button("Command3", 480, 1200, queryPicture, QStringLiteral("开始查询（IMEI或序列号）"));
    Command1 =
        button("Command1", 2640, 1200, clearPicture, QStringLiteral("清空信息（IMEI或序列号）"));
    Label17 = new FittedLabel(this);
    label(Label17, "Label17", QString(), twipsRect(2640, 1800, 2775, kLabelHeight));
    Command6 = button("Command6", 480, 1920, assets::kButtonShop.toString(),
                      QStringLiteral("觅踪网淘宝店"));
    Command6->setAccessibleDescription(QStringLiteral("在浏览器中打开觅踪网淘宝店"));
    Label18 = new LinkLabel(this);
    label(Label18, "Label18", QString(), twipsRect(2640, 2160, 2775, kLabelHeight));
    for (QLabel* verdict : {static_cast<QLabel*>(Label17), static_cast<QLabel*>(Label18)}) {
        QPalette red = verdict->palette();
        red.setColor(QPalette::WindowText, kRed);
        verdict->setPalette(red);
    }
    Label18->setCursor(m_linkCursor);

    WebBrowser1 = new BrowserFrame(m_options.browserModulePath, this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setGeometry(twipsRect(360, 2640, 5535, 3315));
    WebBrowser1->setAccessibleName(QStringLiteral("觅踪网公告"));
    WebBrowser1->setAccessibleDescription(QStringLiteral("觅踪网的公告页面"));

    // Device lookup, right column: caption and result box per row.
    Label1 = plainLabel("Label1", QStringLiteral("最近一次激活时间："), 6105, 600, 1815);
    Text4 = resultBox("Text4", 8175, 540, Label1);
    Text4->setFont(boxFont(true));
    {
        QPalette red = Text4->palette();
        red.setColor(QPalette::Text, kRed);
        Text4->setPalette(red);
    }
    Label16 = plainLabel("Label16", QStringLiteral("首次激活时间："), 6465, 1110, 1335);
    Text2 = resultBox("Text2", 8160, 1080, Label16);
    Label2 = plainLabel("Label2", QStringLiteral("激活卡所属运营商(参考)："), 5640, 1615, 2175);
    Text5 = resultBox("Text5", 8175, 1560, Label2);
    Label3 = plainLabel("Label3", QStringLiteral("产品型号："), 6780, 2120, 975);
    Text6 = resultBox("Text6", 8175, 2040, Label3);
    Label4 = plainLabel("Label4", QStringLiteral("产品序列号(SN)："), 6255, 2720, 1455);
    Text7 = resultBox("Text7", 8160, 2640, Label4);
    Label5 = plainLabel("Label5", QStringLiteral("出厂日期(参考)："), 6315, 3240, 1455);
    Text8 = resultBox("Text8", 8175, 3170, Label5);
    Label6 = plainLabel("Label6", QStringLiteral("iOS版本："), 6855, 3840, 855);
    Text9 = resultBox("Text9", 8175, 3770, Label6);
    Label7 = plainLabel("Label7", QStringLiteral("购买时间："), 6780, 4440, 975);
    Text10 = resultBox("Text10", 8175, 4360, Label7);
    Label8 = plainLabel("Label8", QStringLiteral("过保时间："), 6780, 4920, 975);
    Text11 = resultBox("Text11", 8175, 4845, Label8);
    Label9 = plainLabel("Label9", QStringLiteral("剩余保修时间："), 6420, 5445, 1335);
    Text12 = resultBox("Text12", 8175, 5400, Label9);

    // SIM card lookup.
    Label15 = plainLabel("Label15", QStringLiteral("ICCID:"), 1200, 6650, 735);
    Text1[1] = lineEdit("Text1(1)", twipsRect(2040, 6600, kInputWidth, kBoxHeight), false,
                        Label15->text());
    Label15->setBuddy(Text1[1]);
    Command4 = button("Command4", 720, 7560, queryPicture, QStringLiteral("开始查询（ICCID）"));
    Command2 = button("Command2", 3120, 7560, clearPicture, QStringLiteral("清空信息（ICCID）"));
    Label10 = plainLabel("Label10", QStringLiteral("运营商："), 6960, 6600, 735);
    Text13 = resultBox("Text13", 8160, 6530, Label10);
    Label11 = plainLabel("Label11", QStringLiteral("手机号(参考)："), 6480, 7200, 1215);
    Text14 = resultBox("Text14", 8160, 7130, Label11);
    Label12 = plainLabel("Label12", QStringLiteral("卡年代："), 6960, 7680, 735);
    Text15 = resultBox("Text15", 8160, 7610, Label12);
    Label13 = plainLabel("Label13", QStringLiteral("归属地(区号)："), 6480, 8250, 1215);
    Text16 = resultBox("Text16", 8160, 8210, Label13);

    // Precise: a coarse timer may tick up to 5 % early, and the watchdog's
    // message must never come before its interval has passed.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, [this] { tickArrived(Held::DeviceTick); });
    connect(Timer2, &QTimer::timeout, this, [this] { tickArrived(Held::SimTick); });

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Label18, &LinkLabel::clicked, this, &Form1::Label18_Click);

    // The keyboard's way to the help link, which takes no focus.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, Label18, &LinkLabel::activate);
}

void Form1::setTabOrderChain()
{
    const QList<QWidget*> chain{Text1[0], Text2,    Command1, Command3,   Text9,  Text4,
                                Text5,    Text6,    Text7,    Text8,      Text10, Text11,
                                Text12,   Command2, Command4, Text1[1],   Text13, Text14,
                                Text15,   Text16,   Command6, WebBrowser1};
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    Text1[0]->setFocus(Qt::OtherFocusReason);
}

template <typename Box, std::size_t N>
std::array<QLineEdit*, N> Form1::boxesOf(const std::array<FieldBox<Box>, N>& table) const
{
    std::array<QLineEdit*, N> boxes{};
    for (std::size_t i = 0; i < N; ++i)
        boxes[i] = this->*table[i].box;
    return boxes;
}

std::array<QLineEdit*, device::kBoxCount> Form1::deviceBoxes() const
{
    static_assert(followsBoxOrder(kDeviceFieldBoxes), "device boxes out of the lookup's order");
    return boxesOf(kDeviceFieldBoxes);
}

std::array<QLineEdit*, sim::kBoxCount> Form1::simBoxes() const
{
    static_assert(followsBoxOrder(kSimFieldBoxes), "SIM boxes out of the lookup's order");
    return boxesOf(kSimFieldBoxes);
}

void Form1::Form_Load()
{
    Timer1->setInterval(m_options.watchdogInterval);
    Timer1->stop();
    Timer2->setInterval(m_options.watchdogInterval);
    Timer2->stop();
    resetVerdictLabels();
    m_pendingNavigation = m_options.homeSiteBase + site::kAnnouncementPath.toString();
    if (m_painted)
        showBrowser();
    // The page waits for the first paint, which keeps start-up fast; a
    // window started minimised, or never painted, gets it all the same.
    QTimer::singleShot(kUnpaintedNavigationDelay, this, [this] {
        if (!m_painted)
            afterFirstPaint();
    });
}

void Form1::resetVerdictLabels()
{
    Label17->clear();
    Label18->clear();
    Label18->unsetCursor();
}

void Form1::ClearDeviceResults()
{
    for (QLineEdit* box : deviceBoxes())
        box->clear();
}

void Form1::ClearSimResults()
{
    for (QLineEdit* box : simBoxes())
        box->clear();
}

void Form1::Command1_Click()
{
    if (!clearMayRun(Lookup::Device))
        return;
    Text1[0]->clear();
    resetVerdictLabels();
    ClearDeviceResults();
    Timer1->stop();
    afterClear();
}

void Form1::Command2_Click()
{
    if (!clearMayRun(Lookup::Sim))
        return;
    Text1[1]->clear();
    ClearSimResults();
    Timer2->stop();
    afterClear();
}

bool Form1::clearMayRun(Lookup side)
{
    // Only a message's own event loop lets a click in mid-handler; the clear
    // comes after that handler, as every other click does.
    if (m_messageOpen)
        return false;
    // A lookup of this side waits for its page: it is dropped, so that the
    // clear's end state holds (no later step refills the boxes or reports).
    // A lookup of the other side touches nothing this clear does.
    if (m_lookup == side) {
        cancelFetch();
        m_held.erase(std::remove(m_held.begin(), m_held.end(), Held::Page), m_held.end());
        m_lookup = Lookup::None;
        m_lookupCancelled = true;
    }
    return true;
}

void Form1::afterClear()
{
    if (std::exchange(m_lookupCancelled, false)) {
        emit lookupFinished();
        // Ticks held during the dropped lookup come now.
        takeHeldEvent();
    }
}

void Form1::Command3_Click()
{
    if (isLookupInProgress())
        return;
    m_lookup = Lookup::Device;
    ClearDeviceResults();
    resetVerdictLabels();
    Timer1->start();
    const std::optional<QString> identifier = device::identifierFrom(Text1[0]->text());
    if (!identifier) {
        inform(device::kLengthMessage.toString());
        Timer1->stop();
        return finishLookup();
    }
    startFetch(device::requestUrl(m_options.serviceBase, *identifier));
}

void Form1::deviceLookupPageArrived(const QString& page)
{
    const device::Screening screening = device::screen(page);
    if (screening != device::Screening::Clean) {
        inform(device::screeningMessage(screening));
        Timer1->stop();
        ClearDeviceResults();
        return finishLookup();
    }
    ClearDeviceResults();
    const device::Slots values = device::extractFields(page);
    if (fillBoxes(deviceBoxes(), values))
        Timer1->stop();
    const device::VerdictCaptions captions = device::captionsFor(
        device::decideVerdict(values[device::index(device::Box::Text2)],
                              values[device::index(device::Box::Text4)], QLocale::system()));
    showVerdict(captions.verdict, captions.link, captions.linkCursor);
    finishLookup();
}

void Form1::showVerdict(const QString& verdict, const QString& link, bool linkCursor)
{
    const bool changed = verdict != Label17->text();
    Label17->setText(verdict);
    Label18->setText(link);
    if (linkCursor)
        Label18->setCursor(m_linkCursor);
    else
        Label18->unsetCursor();
    // The verdict is what the lookup was for, yet focus stays in the input
    // box, so a screen reader would not read it by itself.
    if (changed && !verdict.isEmpty())
        announce(Label17, verdict);
}

void Form1::Command4_Click()
{
    if (isLookupInProgress())
        return;
    m_lookup = Lookup::Sim;
    ClearDeviceResults();
    Timer2->start();
    const std::optional<QString> iccid = sim::iccidFrom(Text1[1]->text());
    if (!iccid) {
        inform(sim::kEmptyMessage.toString());
        Timer2->stop();
        return finishLookup();
    }
    startFetch(sim::requestUrl(m_options.serviceBase, *iccid));
}

void Form1::simLookupPageArrived(const QString& page)
{
    if (sim::isRejected(page)) {
        inform(sim::kInvalidMessage.toString());
        Timer2->stop();
        ClearSimResults();
        return finishLookup();
    }
    ClearSimResults();
    const sim::Slots values = sim::extractFields(page);
    if (fillBoxes(simBoxes(), values))
        Timer2->stop();
    finishLookup();
}

void Form1::startFetch(const QString& url)
{
    m_fetch = FetchPage(url, service::kPageCharset, this, m_options.fetchLimits);
    connect(m_fetch, &PageFetch::finished, this, &Form1::pageArrived);
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
}

void Form1::pageArrived()
{
    // A message of another handler (a link that failed to open) is open:
    // the lookup goes on once it is closed, so messages never stack.
    if (m_messageOpen)
        return hold(Held::Page);
    QGuiApplication::restoreOverrideCursor();
    const QString page = m_fetch->page();
    m_fetch->deleteLater();
    m_fetch = nullptr;
    if (m_lookup == Lookup::Device)
        deviceLookupPageArrived(page);
    else
        simLookupPageArrived(page);
}

void Form1::finishLookup()
{
    m_lookup = Lookup::None;
    emit lookupFinished();
    // Ticks held during the lookup come right after its last step.
    takeHeldEvent();
}

void Form1::cancelFetch()
{
    if (!m_fetch)
        return;
    m_fetch->disconnect(this);
    delete m_fetch;
    m_fetch = nullptr;
    QGuiApplication::restoreOverrideCursor();
}

void Form1::inform(const QString& text)
{
    // The message's own event loop is the only place where other events can
    // come in the middle of a handler; they wait until the handler has ended.
    m_messageOpen = true;
    m_messenger.inform(this, text);
    m_messageOpen = false;
    if (!m_held.empty())
        QMetaObject::invokeMethod(this, &Form1::takeHeldEvent, Qt::QueuedConnection);
}

void Form1::Command6_Click()
{
    openSitePage(site::kShopPath);
}

void Form1::Label18_Click()
{
    if (const std::optional<QStringView> path = device::helpPathForLink(Label18->text()))
        openSitePage(*path);
}

void Form1::openSitePage(QStringView path)
{
    const QString address = m_options.homeSiteBase + path.toString();
    if (!m_opener.open(QUrl(address)))
        inform(QStringLiteral("无法打开系统浏览器，请手动访问：") + address);
}

void Form1::Timer1_Timer()
{
    reportEmptyLookup(Timer1, deviceBoxes());
}

void Form1::Timer2_Timer()
{
    reportEmptyLookup(Timer2, simBoxes());
}

template <std::size_t N>
void Form1::reportEmptyLookup(QTimer* timer, const std::array<QLineEdit*, N>& boxes)
{
    if (allEmpty(boxes))
        inform(kMaintenanceMessage.toString());
    timer->stop();
}

void Form1::tickArrived(Held tick)
{
    // Ticks run only between handlers, as if the window had one thread that a
    // lookup or a message occupies.
    if (m_messageOpen || isLookupInProgress())
        return hold(tick);
    if (tick == Held::DeviceTick)
        Timer1_Timer();
    else
        Timer2_Timer();
}

void Form1::hold(Held event)
{
    if (std::find(m_held.begin(), m_held.end(), event) == m_held.end())
        m_held.push_back(event);
}

void Form1::takeHeldEvent()
{
    if (m_messageOpen)
        return;
    // A waiting page belongs to the running lookup and goes first; ticks wait
    // until no lookup runs.
    const auto next = std::find_if(m_held.begin(), m_held.end(), [this](Held event) {
        return event == Held::Page || !isLookupInProgress();
    });
    if (next == m_held.end())
        return;
    const Held event = *next;
    m_held.erase(next);
    if (!m_held.empty())
        QMetaObject::invokeMethod(this, &Form1::takeHeldEvent, Qt::QueuedConnection);
    if (event == Held::Page) {
        if (m_fetch)
            pageArrived();
        return;
    }
    QTimer* timer = event == Held::DeviceTick ? Timer1 : Timer2;
    if (timer->isActive())
        tickArrived(event);
}

void Form1::afterFirstPaint()
{
    if (std::exchange(m_pageStarted, true))
        return;
    // Decoding six icon sizes is not worth delaying the first paint for.
    QIcon icon;
    for (const assets::SizedPicture& picture : assets::kIcons)
        icon.addFile(picture.path.toString(), QSize(picture.size, picture.size));
    setWindowIcon(icon);
    showBrowser();
}

void Form1::showBrowser()
{
    if (m_pendingNavigation.isEmpty())
        return;
    if (m_options.embedBrowser)
        WebBrowser1->navigate(QUrl(m_pendingNavigation));
    m_pendingNavigation.clear();
}

bool Form1::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    case QEvent::DevicePixelRatioChange:
#endif
        takePicturesForScreen();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

// Cheap when nothing changed: the pictures are taken again only for a new ratio.
void Form1::takePicturesForScreen()
{
    const qreal ratio = devicePixelRatioF();
    if (qFuzzyCompare(ratio, m_pictureRatio))
        return;
    const qreal previous = std::exchange(m_pictureRatio, ratio);
    m_background = loadBackground(ratio);
    m_linkCursor = linkCursor(ratio);
    if (Label18->testAttribute(Qt::WA_SetCursor))
        Label18->setCursor(m_linkCursor);
    update();
    if (!isWindow() || m_keepSizePending)
        return;
    // On X11 a window moved to a screen of another ratio keeps its size in
    // device pixels, which would show only part of the window. Depending on
    // the Qt version the platform's size arrives before or after the change
    // of ratio; one that kept the device pixels of the size before is the
    // platform's, not the user's.
    const auto devicePixels = [](QSize size, qreal scale) { return QSizeF(size) * scale; };
    const QSizeF now = devicePixels(size(), ratio);
    const QSizeF before = devicePixels(m_earlierSize, previous);
    const bool platformSize = size() != m_earlierSize && qAbs(now.width() - before.width()) < 1 &&
                              qAbs(now.height() - before.height()) < 1;
    m_sizeToKeep = platformSize ? m_earlierSize : m_logicalSize;
    m_keepSizePending = true;
    // Once the platform's geometry for the new screen is in as well.
    QTimer::singleShot(0, this, &Form1::keepLogicalSize);
}

void Form1::keepLogicalSize()
{
    m_keepSizePending = false;
    if (size() != m_sizeToKeep)
        resize(m_sizeToKeep);
    // The widget may keep its logical size while the native window does not.
    if (QWindow* window = windowHandle(); window && window->size() != m_sizeToKeep)
        window->resize(m_sizeToKeep);
}

void Form1::resizeEvent(QResizeEvent* event)
{
    takePicturesForScreen();
    if (!m_keepSizePending && event->size() != m_logicalSize) {
        m_earlierSize = m_logicalSize;
        m_logicalSize = event->size();
    }
    QWidget::resizeEvent(event);
}

void Form1::paintEvent(QPaintEvent*)
{
    // Also catches a window first shown on a screen other than the one it
    // was made for, which sends no change of screen.
    takePicturesForScreen();
    QPainter painter(this);
    painter.fillRect(rect(), kBeyondBackground);
    painter.drawPixmap(QPoint(0, 0), m_background);
    if (!m_painted) {
        m_painted = true;
        // The icon and the announcement page come once the window is on screen.
        QTimer::singleShot(0, this, &Form1::afterFirstPaint);
    }
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Closing ends the program at once, also in the middle of a fetch: the
    // lookup is dropped and no watchdog reports afterwards.
    cancelFetch();
    m_lookup = Lookup::None;
    m_held.clear();
    Timer1->stop();
    Timer2->stop();
    event->accept();
}

} // namespace mizong
