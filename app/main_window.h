#pragma once

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

signals:
    // After the last step of a lookup, whichever way it ended.
    void lookupFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The window's handlers and procedures, named as in its design.
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
    void showVerdict(const device::VerdictCaptions& captions);
    void inform(const QString& text);
    void openSitePage(QStringView path);
    void openAddress(const QUrl& address);
    template <std::size_t N>
    void reportEmptyLookup(QTimer* timer, const std::array<QLineEdit*, N>& boxes);
    void tickArrived(EventGate::Event tick);
    void takeHeldEvent();
    void afterFirstPaint();
    void decodeIcon();
    void showBrowser();

    Messenger& m_messenger;
    LinkOpener& m_opener;
    Options m_options;

    // Controls, named as in the window's design.
    std::array<QLineEdit*, 2> Text1{};
    // The result boxes (Text2, Text4 to Text12; Text13 to Text16) in the
    // order of their lookup's fields, as the layout table assigns them.
    std::array<QLineEdit*, device::kFieldCount> m_deviceBoxes{};
    std::array<QLineEdit*, sim::kFieldCount> m_simBoxes{};
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
    bool m_painted = false;
};

} // namespace mizong
