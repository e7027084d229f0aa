#include "main_window.h"

#include "accessibility.h"
#include "assets.h"
#include "browser_frame.h"
#include "device_lookup.h"
#include "form_controls.h"
#include "form_layout.h"
#include "messenger.h"
#include "mizong_config.h"
#include "screen_pictures.h"
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
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <utility>

namespace mizong {

namespace {

using Event = EventGate::Event;
using Lookup = EventGate::Lookup;

constexpr QSize kButtonPictureSize(128, 33);
const QColor kRed(255, 0, 0);
const QColor kBeyondBackground(240, 240, 240);

// How long the announcement page waits for a first paint that may never come.
constexpr std::chrono::milliseconds kUnpaintedNavigationDelay{1000};

void paintRed(QWidget* widget, QPalette::ColorRole role)
{
    QPalette red = widget->palette();
    red.setColor(role, kRed);
    widget->setPalette(red);
}

QString buttonPicture(QStringView key)
{
    if (key == u"query")
        return assets::kButtonQuery.toString();
    if (key == u"clear")
        return assets::kButtonClear.toString();
    return assets::kButtonShop.toString();
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
    layout::installFontSubstitutions();
    installAccessibleInterfaces();
    setObjectName(QStringLiteral("Form1"));
    // The design's title has a line break before "by"; a title bar shows one
    // line, so the break is shown as a blank.
    setWindowTitle(QStringLiteral("觅踪助理  v") + QStringLiteral(MIZONG_VERSION_SHORT) + u' ' +
                   QStringLiteral("     by 觅踪网  ") + m_options.homeSiteBase +
                   QStringLiteral("  专业找回被偷iphone手机!"));
    setFont(layout::font(layout::Font::Window));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBeyondBackground);
    setPalette(pal);
    resize(layout::kClientSize);
    m_pictures = new ScreenPictures(this, layout::kClientSize);

    createControls();
    setTabOrderChain();
    // Last, so that a background decoded elsewhere meanwhile is ready by now.
    m_pictures->takeBackground(std::exchange(m_options.decodedBackground, {}));
    Form_Load();
}

Form1::~Form1()
{
    cancelFetch();
}

QWidget* Form1::createControl(const layout::Control& row)
{
    QWidget* widget = nullptr;
    switch (row.kind) {
    case layout::Kind::Label:
    case layout::Kind::Verdict:
    case layout::Kind::Link: {
        QLabel* label = row.kind == layout::Kind::Label     ? new QLabel(this)
                        : row.kind == layout::Kind::Verdict ? new FittedLabel(this)
                                                            : new LinkLabel(this);
        label->setText(row.text.toString());
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    case layout::Kind::Input:
    case layout::Kind::Result: {
        auto* box = new QLineEdit(this);
        box->setReadOnly(row.kind == layout::Kind::Result);
        // No length limit: Qt's default of 32767 would cut a pasted
        // identifier or a long value without a word.
        box->setMaxLength(std::numeric_limits<int>::max());
        widget = box;
        break;
    }
    case layout::Kind::Button: {
        // The pictures carry the words; the accessible name and the tool tip
        // say them, and which lookup the button belongs to where two look alike.
        auto* button = new QPushButton(this);
        button->setIcon(QIcon(buttonPicture(row.text)));
        button->setIconSize(kButtonPictureSize);
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setToolTip(row.accessibleName.toString());
        widget = button;
        break;
    }
    case layout::Kind::Page:
        widget = new BrowserFrame(m_options.browserModulePath, this);
        break;
    }
    widget->setObjectName(row.name.toString());
    widget->setGeometry(layout::pixels(row));
    if (row.font != layout::Font::Window)
        widget->setFont(layout::font(row.font));
    if (row.red)
        paintRed(widget, qobject_cast<QLineEdit*>(widget) ? QPalette::Text : QPalette::WindowText);
    if (!row.takesFocus())
        widget->setFocusPolicy(Qt::NoFocus);
    if (!row.accessibleName.isEmpty())
        widget->setAccessibleName(row.accessibleName.toString());
    if (!row.accessibleDescription.isEmpty())
        widget->setAccessibleDescription(row.accessibleDescription.toString());
    return widget;
}

void Form1::createControls()
{
    for (const layout::Control& row : layout::controls())
        m_controls.insert(row.name.toString(), createControl(row));
    // A caption names its box, for screen readers too.
    for (const layout::Control& row : layout::controls()) {
        if (row.buddy.isEmpty())
            continue;
        auto* caption = control<QLabel>(row.name);
        QWidget* box = control<QWidget>(row.buddy);
        caption->setBuddy(box);
        box->setAccessibleName(caption->text());
    }
    Text1 = {control<QLineEdit>(u"Text1(0)"), control<QLineEdit>(u"Text1(1)")};
    bindBoxes(kDeviceFieldBoxes);
    bindBoxes(kSimFieldBoxes);
    Label17 = control<FittedLabel>(u"Label17");
    Label18 = control<LinkLabel>(u"Label18");
    Command1 = control<QPushButton>(u"Command1");
    Command2 = control<QPushButton>(u"Command2");
    Command3 = control<QPushButton>(u"Command3");
    Command4 = control<QPushButton>(u"Command4");
    Command6 = control<QPushButton>(u"Command6");
    WebBrowser1 = control<BrowserFrame>(u"WebBrowser1");
    Label18->setCursor(m_pictures->linkCursor());
    m_pictures->setLinkCursorWidget(Label18);

    // Precise: a coarse timer may tick up to 5 % early, and the watchdog's
    // message must never come before its interval has passed.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, [this] { tickArrived(Event::DeviceTick); });
    connect(Timer2, &QTimer::timeout, this, [this] { tickArrived(Event::SimTick); });

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

template <typename T> T* Form1::control(QStringView name) const
{
    auto* widget = qobject_cast<T*>(m_controls.value(name.toString()));
    if (!widget)
        qFatal("the window has no control %s of the kind it needs", qPrintable(name.toString()));
    return widget;
}

template <typename Box, std::size_t N>
void Form1::bindBoxes(const std::array<FieldBox<Box>, N>& table)
{
    for (const FieldBox<Box>& entry : table)
        this->*entry.box = control<QLineEdit>(entry.name);
}

void Form1::setTabOrderChain()
{
    // Skipping the labels, in the order of the design's tab indexes.
    std::vector<const layout::Control*> rows;
    for (const layout::Control& row : layout::controls()) {
        if (row.takesFocus())
            rows.push_back(&row);
    }
    std::sort(rows.begin(), rows.end(), [](const layout::Control* a, const layout::Control* b) {
        return a->tabIndex < b->tabIndex;
    });
    for (std::size_t i = 1; i < rows.size(); ++i)
        setTabOrder(control<QWidget>(rows[i - 1]->name), control<QWidget>(rows[i]->name));
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
    if (m_gate.isMessageOpen())
        return false;
    // A lookup of this side waits for its page: it is dropped, so that the
    // clear's end state holds (no later step refills the boxes or reports).
    // A lookup of the other side touches nothing this clear does.
    if (m_gate.lookup() == side) {
        cancelFetch();
        m_gate.drop(Event::Page);
        m_gate.endLookup();
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
    m_gate.startLookup(Lookup::Device);
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
        Label18->setCursor(m_pictures->linkCursor());
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
    m_gate.startLookup(Lookup::Sim);
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
    if (!m_gate.admit(Event::Page))
        return;
    QGuiApplication::restoreOverrideCursor();
    const QString page = m_fetch->page();
    m_fetch->deleteLater();
    m_fetch = nullptr;
    if (m_gate.lookup() == Lookup::Device)
        deviceLookupPageArrived(page);
    else
        simLookupPageArrived(page);
}

void Form1::finishLookup()
{
    m_gate.endLookup();
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
    m_gate.openMessage();
    m_messenger.inform(this, text);
    m_gate.closeMessage();
    if (m_gate.hasHeld())
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

void Form1::tickArrived(Event tick)
{
    // Ticks run only between handlers, as if the window had one thread that a
    // lookup or a message occupies.
    if (!m_gate.admit(tick))
        return;
    if (tick == Event::DeviceTick)
        Timer1_Timer();
    else
        Timer2_Timer();
}

void Form1::takeHeldEvent()
{
    const std::optional<Event> event = m_gate.next();
    if (!event)
        return;
    if (m_gate.hasHeld())
        QMetaObject::invokeMethod(this, &Form1::takeHeldEvent, Qt::QueuedConnection);
    if (*event == Event::Page) {
        if (m_fetch)
            pageArrived();
        return;
    }
    // A tick whose timer was disabled meanwhile (a clear, a lookup that
    // filled a box) is gone.
    QTimer* timer = *event == Event::DeviceTick ? Timer1 : Timer2;
    if (timer->isActive())
        tickArrived(*event);
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

void Form1::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBeyondBackground);
    painter.drawPixmap(QPoint(0, 0), m_pictures->background());
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
    m_gate.endLookup();
    m_gate.clear();
    Timer1->stop();
    Timer2->stop();
    event->accept();
}

} // namespace mizong
