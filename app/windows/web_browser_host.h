#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
struct IOleObject;
struct IOleInPlaceObject;
struct IWebBrowser2;

namespace mizong {

class OleSite;

// The system's WebBrowser control, in place in this widget's own native
// window through a small OLE container (client site, in-place site and frame;
// no scripting hooks). The control is created on the first navigation, which
// the window makes after its first paint. When it cannot be created, the
// widget shows the requested address as plain text and the window works on.
class WebBrowserHost final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebBrowserHost)
    // The frame starts a navigation by setting this property.
    Q_PROPERTY(QUrl url READ url WRITE navigate)

public:
    enum class Control
    {
        System,   // the WebBrowser control, else the address as text
        TextOnly, // the address as text, as when the control is missing
    };

    explicit WebBrowserHost(QWidget* parent = nullptr, Control control = Control::System);
    ~WebBrowserHost() override;

    void navigate(const QUrl& url);
    QUrl url() const { return m_url; }

    bool hasControl() const { return m_browser != nullptr; }
    // The address the control itself reports, empty without the control.
    QString controlLocation() const;
    // The label of the plain-text fallback, nullptr while the control serves.
    QLabel* fallbackLabel() const { return m_fallback; }

    // Sites not yet released by a control: 0 once every host is gone.
    static int liveSites();

protected:
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    bool createControl();
    void releaseControl();
    void fitControl();
    void showFallback();

    Control m_control;
    bool m_createTried = false;
    bool m_oleInitialized = false;
    QUrl m_url;
    OleSite* m_site = nullptr;
    IOleObject* m_object = nullptr;
    IOleInPlaceObject* m_inPlace = nullptr;
    IWebBrowser2* m_browser = nullptr;
    QLabel* m_fallback = nullptr;
};

} // namespace mizong
