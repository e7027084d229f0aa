#include "main_window.h"

#include "accessibility.h"
#include "assets.h"
#include "box_binding.h"
#include "device_lookup.h"
#include "first_paint.h"
#include "form_controls.h"
#include "form_layout.h"
#include "messenger.h"
#include "mizong_config.h"
#include "page_browser.h"
#include "screen_pictures.h"
#include "service_contract.h"
#include "sim_lookup.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace mizong {

namespace {

using Event = EventGate::Event;
using Lookup = EventGate::Lookup;

const QColor kBeyondBackground(240, 240, 240);

// How long the icon and the page wait for a first paint that may never come.
constexpr std::chrono::milliseconds kUnpaintedDelay{1000};
// How long the icon waits after the page is asked for: the network module's
// load (15 ms or so, begun as the window painted), the page's fetch and the
// page thread's fonts go on meanwhile, which decoding the icon beside them
// on two cores would slow.
constexpr std::chrono::milliseconds kIconDelay{100};

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
    // Last, so that a background decoded elsewhere meanwhile is ready by now.
    m_pictures->takeBackground(std::exchange(m_options.decodedBackground, {}));
    // The icon and the page wait for the first paint, which keeps start-up fast.
    new FirstPaintHook(this, kUnpaintedDelay, [this] { afterFirstPaint(); });
    Form_Load();
}

Form1::~Form1()
{
    cancelFetch();
}

void Form1::createControls()
{
    const QHash<QString, QWidget*> controls = layout::createControls(this);
    Text1 = {layout::controlOf<QLineEdit>(controls, u"Text1(0)"),
             layout::controlOf<QLineEdit>(controls, u"Text1(1)")};
    m_deviceBoxes = layout::resultBoxes<device::kFieldCount>(controls, layout::Lookup::Device);
    m_simBoxes = layout::resultBoxes<sim::kFieldCount>(controls, layout::Lookup::Sim);
    Label17 = layout::controlOf<FittedLabel>(controls, u"Label17");
    Label18 = layout::controlOf<LinkLabel>(controls, u"Label18");
    Command1 = layout::controlOf<QPushButton>(controls, u"Command1");
    Command2 = layout::controlOf<QPushButton>(controls, u"Command2");
    Command3 = layout::controlOf<QPushButton>(controls, u"Command3");
    Command4 = layout::controlOf<QPushButton>(controls, u"Command4");
    Command6 = layout::controlOf<QPushButton>(controls, u"Command6");
    WebBrowser1 = layout::controlOf<PageBrowser>(controls, u"WebBrowser1");
    Label18->setCursor(m_pictures->linkCursor());
    m_pictures->setLinkCursorWidget(Label18);
    // The page's links point as the help link does, and those meant for the
    // browser go the way of the window's own.
    WebBrowser1->setHomeSite(QUrl(m_options.homeSiteBase));
    WebBrowser1->setLinkCursor([pictures = m_pictures] { return pictures->linkCursor(); });
    page::LoaderLimits pageLimits;
    pageLimits.fetch = m_options.fetchLimits;
    WebBrowser1->setLoaderLimits(pageLimits);
    connect(WebBrowser1, &PageBrowser::openExternally, this, &Form1::openAddress);

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

void Form1::Form_Load()
{
    Timer1->setInterval(m_options.watchdogInterval);
    Timer1->stop();
    Timer2->setInterval(m_options.watchdogInterval);
    Timer2->stop();
    resetVerdictLabels();
    // Started right after the first paint (see the constructor).
    m_pendingNavigation = m_options.homeSiteBase + site::kAnnouncementPath.toString();
}

void Form1::resetVerdictLabels()
{
    Label17->clear();
    Label18->clear();
    Label18->unsetCursor();
}

void Form1::ClearDeviceResults()
{
    for (QLineEdit* box : m_deviceBoxes)
        box->clear();
}

void Form1::ClearSimResults()
{
    for (QLineEdit* box : m_simBoxes)
        box->clear();
}

void Form1::Command1_Click()
{
    if (m_gate.isMessageOpen())
        return;
    const bool dropped = dropLookup(Lookup::Device);
    Text1[0]->clear();
    resetVerdictLabels();
    ClearDeviceResults();
    Timer1->stop();
    if (dropped)
        finishLookup();
}

void Form1::Command2_Click()
{
    if (m_gate.isMessageOpen())
        return;
    const bool dropped = dropLookup(Lookup::Sim);
    Text1[1]->clear();
    ClearSimResults();
    Timer2->stop();
    if (dropped)
        finishLookup();
}

// A lookup of the clear's side that waits for its page is dropped, so that
// the clear's end state holds: no later step refills the boxes or reports. A
// lookup of the other side touches nothing that clear does.
bool Form1::dropLookup(Lookup side)
{
    if (m_gate.lookup() != side)
        return false;
    cancelFetch();
    return true;
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
    const device::Reading reading = device::readPage(page, QLocale::system());
    if (reading.refused()) {
        inform(reading.refusal());
        Timer1->stop();
        ClearDeviceResults();
        return finishLookup();
    }
    ClearDeviceResults();
    binding::writeValues(m_deviceBoxes, reading.values);
    if (binding::fillEmptyBoxes(m_deviceBoxes))
        Timer1->stop();
    showVerdict(reading.captions());
    finishLookup();
}

void Form1::showVerdict(const device::VerdictCaptions& captions)
{
    const bool changed = captions.verdict != Label17->text();
    Label17->setText(captions.verdict);
    Label18->setText(captions.link);
    if (captions.linkCursor)
        Label18->setCursor(m_pictures->linkCursor());
    else
        Label18->unsetCursor();
    // The verdict is what the lookup was for, yet focus stays in the input
    // box, so a screen reader would not read it by itself.
    if (changed && !captions.verdict.isEmpty())
        announce(Label17, captions.verdict);
}

void Form1::Command4_Click()
{
    if (isLookupInProgress())
        return;
    m_gate.startLookup(Lookup::Sim);
    // A SIM lookup wipes the device lookup's boxes first, on every path, and
    // leaves its verdict; its own boxes wait for the page.
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
    const sim::Reading reading = sim::readPage(page);
    if (reading.rejected) {
        inform(sim::kInvalidMessage.toString());
        Timer2->stop();
        ClearSimResults();
        return finishLookup();
    }
    ClearSimResults();
    binding::writeValues(m_simBoxes, reading.values);
    if (binding::fillEmptyBoxes(m_simBoxes))
        Timer2->stop();
    finishLookup();
}

void Form1::startFetch(const QString& url)
{
    m_fetch = FetchPage(url, service::kPageCharset, this, m_options.fetchLimits);
    connect(m_fetch, &PageFetch::finished, this, &Form1::pageArrived);
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
}

void Form1::pageArrived(const PageResult& result)
{
    std::exchange(m_fetch, nullptr)->deleteLater();
    m_page = result.page;
    takePage();
}

void Form1::takePage()
{
    // A message of another handler (a link that failed to open) is open:
    // the lookup goes on once it is closed, so messages never stack.
    if (!m_gate.admit(Event::Page))
        return;
    QGuiApplication::restoreOverrideCursor();
    const QString page = *std::exchange(m_page, std::nullopt);
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

// Drops the running lookup's page, whether it is still being fetched or
// waits for an open message.
void Form1::cancelFetch()
{
    if (!m_fetch && !m_page)
        return;
    delete std::exchange(m_fetch, nullptr); // a fetch that is gone says nothing more
    m_page.reset();
    m_gate.drop(Event::Page);
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
    openAddress(QUrl(m_options.homeSiteBase + path.toString()));
}

void Form1::openAddress(const QUrl& address)
{
    if (!m_opener.open(address))
        inform(QStringLiteral("无法打开系统浏览器，请手动访问：") + address.toString());
}

void Form1::Timer1_Timer()
{
    reportEmptyLookup(Timer1, m_deviceBoxes);
}

void Form1::Timer2_Timer()
{
    reportEmptyLookup(Timer2, m_simBoxes);
}

template <std::size_t N>
void Form1::reportEmptyLookup(QTimer* timer, const std::array<QLineEdit*, N>& boxes)
{
    if (binding::allEmpty(boxes))
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
        if (m_page)
            takePage();
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
    // The page first: its fetch and layout go on off this thread, and the
    // window's own title-bar icon is not what the user waits for.
    showBrowser();
    QTimer::singleShot(kIconDelay, this, &Form1::decodeIcon);
}

void Form1::decodeIcon()
{
    // Decoding six icon sizes is not worth delaying the first paint for.
    QIcon icon;
    for (const assets::SizedPicture& picture : assets::kIcons)
        icon.addFile(picture.path.toString(), QSize(picture.size, picture.size));
    setWindowIcon(icon);
#ifdef __GLIBC__
    // Decoding and handing the icon to the window system frees blocks of
    // hundreds of KiB, which raise glibc's threshold for giving memory back:
    // about 0.8 MiB would stay taken for the rest of the run.
    malloc_trim(0);
#endif
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
    // The announcement is asked for once this paint is done, and its fetch
    // first loads the network libraries (15 ms or so): on another thread,
    // they load while the window paints.
    if (!std::exchange(m_painted, true))
        PrepareTransfers();
    QPainter painter(this);
    painter.fillRect(rect(), kBeyondBackground);
    painter.drawPixmap(QPoint(0, 0), m_pictures->background());
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
