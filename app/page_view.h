#pragma once

class QUrl;
class QWidget;

namespace mizong {

// What the window asks of its page view (WebBrowser1).
class PageView
{
public:
    virtual ~PageView() = default;

    // The widget that shows the page.
    virtual QWidget* widget() = 0;
    // Starts loading the address; nothing waits for it or looks at its outcome.
    virtual void navigate(const QUrl& url) = 0;
};

} // namespace mizong
