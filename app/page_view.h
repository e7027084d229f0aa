#pragma once

#include <QString>

class QUrl;
class QWidget;

namespace mizong {

// The window's page view, whichever engine shows the page: the QtWebEngine
// module on Linux (app/webview/), the system's WebBrowser control on Windows
// (app/windows/web_browser_host.h). The frame (BrowserFrame) knows only this.
class PageView
{
public:
    virtual ~PageView() = default;

    // The widget that shows the page; it fills the frame and takes the
    // frame's focus.
    virtual QWidget* widget() = 0;
    // Starts loading the address; nothing waits for it or looks at its outcome.
    virtual void navigate(const QUrl& url) = 0;
    // What stands in the page's place when the page cannot be shown (the
    // address, as text); empty while the page is shown.
    virtual QString fallbackText() const = 0;
};

// The page view module's one entry point: makes a page view inside
// `parent`. Resolved by name at run time, so it has C linkage.
using CreatePageViewFunction = PageView* (*)(QWidget* parent);
inline constexpr const char* kCreatePageViewSymbol = "mizong_create_page_view";

} // namespace mizong
