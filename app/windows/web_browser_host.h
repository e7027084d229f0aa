#pragma once

#include "page_view.h"

#include <QAbstractNativeEventFilter>
#include <QUrl>
#include <QWidget>

class QLabel;
struct IConnectionPoint;
struct IOleClientSite;
struct IOleObject;
struct IOleInPlaceObject;
struct IWebBrowser2;

namespace mizong {

class LinkOpener;
class OleSite;

// The system's WebBrowser control, in place in this widget's own native
// window through a small OLE container. Its site is a good host of the
// control: no IE context menu or script-error dialogs, a DPI-aware page with
// no 3-D border, keys and Tab that reach the page and leave it again, no focus
// taken by a loading page, and new windows opened in the user's browser. The
// control is created on the first navigation, which the window makes after
// its first paint. When it cannot be created, the widget shows the requested
// address as plain text and the window works on.
class WebBrowserHost final : public QWidget, public PageView, private QAbstractNativeEventFilter
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebBrowserHost)

public:
    enum class Control
    {
        System,   // the WebBrowser control, else the address as text
        TextOnly, // the address as text, as when the control is missing
    };

    // `opener`: where new windows of the page go; nullptr, the user's browser.
    explicit WebBrowserHost(QWidget* parent = nullptr, Control control = Control::System,
                            LinkOpener* opener = nullptr);
    ~WebBrowserHost() override;

    QWidget* widget() override { return this; }
    void navigate(const QUrl& url) override;
    QString fallbackText() const override;
    QUrl url() const { return m_url; }

    bool hasControl() const { return m_browser != nullptr; }
    // The address the control itself reports, empty without the control.
    QString controlLocation() const;
    // The label of the plain-text fallback, nullptr while the control serves.
    QLabel* fallbackLabel() const { return m_fallback; }
    // The container's site as the control sees it (tests call its
    // interfaces), nullptr without the control.
    IOleClientSite* site() const;
    // The control's own object, nullptr without it.
    IWebBrowser2* browser() const { return m_browser; }

    // Sites not yet released by a control: 0 once every host is gone.
    static int liveSites();

protected:
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class OleSite;

    bool createControl();
    void connectEvents();
    void releaseControl();
    void fitControl();
    void showFallback();

    // Keys for the page go to the control first, as a dialog's would.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool insidePage(const void* window) const;

    // What the site hears from the control.
    void openNewWindow(const QUrl& url);
    void pageActivated();
    void leavePage(bool forward);
    // Takes the keyboard from the page back to the window's focus widget.
    void giveKeyboardBack();

    Control m_control;
    LinkOpener* m_opener;
    bool m_createTried = false;
    bool m_oleInitialized = false;
    // The user clicked into the page: it may take the keyboard.
    bool m_userEntered = false;
    bool m_leaving = false;
    QUrl m_url;
    OleSite* m_site = nullptr;
    IOleObject* m_object = nullptr;
    IOleInPlaceObject* m_inPlace = nullptr;
    IWebBrowser2* m_browser = nullptr;
    IConnectionPoint* m_events = nullptr;
    unsigned long m_eventsCookie = 0;
    QLabel* m_fallback = nullptr;
};

} // namespace mizong
