#pragma once

#include "box_binding.h"
#include "device_lookup.h"
#include "event_gate.h"
#include "page_fetch.h"
#include "sim_lookup.h"

#include <QHash>
#include <QImage>
#include <QString>
#include <QWidget>

#include <array>
#include <chrono>
#include <future>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace mizong {

class FittedLabel;
class LinkLabel;
class LinkOpener;
class Messenger;
class PageBrowser;
class ScreenPictures;
namespace layout {
struct Control;
}

// The tool's one window. Controls keep their fixed names (members and
// objectName alike) and every handler does its steps in order, binding the
// window-free lookups to the controls.
//
// Nothing blocks: a lookup's page is fetched asynchronously and the lookup
// resumes when it arrives. From a lookup's click to its last step the start
// buttons of both lookups do nothing; the clear button of the running
// lookup's side drops it and clears, the other side's clears at once. Watchdog
// ticks that fall due while a lookup runs or a message is open are held and
// handled right after, if their timer is still enabled then.
class Form1 final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form1)

public:
    struct Options
    {
        QString serviceBase;
        QString homeSiteBase;
        std::chrono::milliseconds watchdogInterval{8000};
        FetchLimits fetchLimits;
        // Whether WebBrowser1 loads the announcement; without it the view
        // stays empty.
        bool embedBrowser = true;
        // The 1x background picture, when start-up decodes it beside the
        // window's creation; the window decodes its own otherwise.
        std::shared_future<QImage> decodedBackground;
    };

    // Options with the addresses this build was configured with.
    static Options defaultOptions();

    Form1(Messenger& messenger, LinkOpener& opener, Options options = defaultOptions(),
          QWidget* parent = nullptr);
    ~Form1() override;

    bool isLookupInProgress() const { return m_gate.lookup() != EventGate::Lookup::None; }

public slots:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command6_Click();
    void Label18_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void ClearDeviceResults();
    void ClearSimResults();

signals:
    // After the last step of a lookup, whichever way it ended.
    void lookupFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    template <typename Box> using FieldBox = binding::FieldBox<Form1, Box>;

    void createControls();
    void startFetch(const QString& url);
    void pageArrived(const PageResult& result);
    void takePage();
    void finishLookup();
    void cancelFetch();
    bool dropLookup(EventGate::Lookup side);
    void deviceLookupPageArrived(const QString& page);
    void simLookupPageArrived(const QString& page);
    void resetVerdictLabels();
    void showVerdict(const QString& verdict, const QString& link, bool linkCursor);
    void inform(const QString& text);
    void openSitePage(QStringView path);
    void openAddress(const QUrl& address);
    template <std::size_t N>
    void reportEmptyLookup(QTimer* timer, const std::array<QLineEdit*, N>& boxes);
    void tickArrived(EventGate::Event tick);
    void takeHeldEvent();
    void afterFirstPaint();
    void showBrowser();
    std::array<QLineEdit*, device::kBoxCount> deviceBoxes() const;
    std::array<QLineEdit*, sim::kBoxCount> simBoxes() const;

    Messenger& m_messenger;
    LinkOpener& m_opener;
    Options m_options;

    // Controls, named as in the window's design.
    std::array<QLineEdit*, 2> Text1{};
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text6 = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text9 = nullptr;
    QLineEdit* Text10 = nullptr;
    QLineEdit* Text11 = nullptr;
    QLineEdit* Text12 = nullptr;
    QLineEdit* Text13 = nullptr;
    QLineEdit* Text14 = nullptr;
    QLineEdit* Text15 = nullptr;
    QLineEdit* Text16 = nullptr;
    FittedLabel* Label17 = nullptr;
    LinkLabel* Label18 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command6 = nullptr;
    PageBrowser* WebBrowser1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    ScreenPictures* m_pictures = nullptr;
    PageFetch* m_fetch = nullptr;
    // The running lookup's page once it has come, until the lookup takes it.
    std::optional<QString> m_page;
    // What may run now, and what waits for the window to be free.
    EventGate m_gate;
    QString m_pendingNavigation;

    // The one place that says which box each field fills; a table out of
    // the lookups' order does not compile.
    static constexpr std::array<FieldBox<device::Box>, device::kBoxCount> kDeviceFieldBoxes{{
        {device::Box::Text2, &Form1::Text2, u"Text2"},
        {device::Box::Text4, &Form1::Text4, u"Text4"},
        {device::Box::Text5, &Form1::Text5, u"Text5"},
        {device::Box::Text6, &Form1::Text6, u"Text6"},
        {device::Box::Text7, &Form1::Text7, u"Text7"},
        {device::Box::Text8, &Form1::Text8, u"Text8"},
        {device::Box::Text9, &Form1::Text9, u"Text9"},
        {device::Box::Text10, &Form1::Text10, u"Text10"},
        {device::Box::Text11, &Form1::Text11, u"Text11"},
        {device::Box::Text12, &Form1::Text12, u"Text12"},
    }};
    static constexpr std::array<FieldBox<sim::Box>, sim::kBoxCount> kSimFieldBoxes{{
        {sim::Box::Text13, &Form1::Text13, u"Text13"},
        {sim::Box::Text14, &Form1::Text14, u"Text14"},
        {sim::Box::Text15, &Form1::Text15, u"Text15"},
        {sim::Box::Text16, &Form1::Text16, u"Text16"},
    }};
};

} // namespace mizong
