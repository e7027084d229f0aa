#include "browser_frame.h"

#include "page_view.h"

#ifdef Q_OS_WIN
#include "windows/web_browser_host.h"
#endif

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QResizeEvent>

#include <type_traits>

namespace mizong {

BrowserFrame::BrowserFrame(QString modulePath, QWidget* parent)
    : QWidget(parent), m_modulePath(std::move(modulePath))
{
    // The last stop of the window's tab order; the page view takes it over.
    setFocusPolicy(Qt::StrongFocus);
}

QStringList BrowserFrame::moduleCandidates()
{
    const QString dir = QCoreApplication::applicationDirPath();
    return {dir + u'/' + QStringLiteral(MIZONG_WEBVIEW_MODULE_FILE),
            dir + QStringLiteral("/../" MIZONG_WEBVIEW_MODULE_RELATIVE_DIR "/") +
                QStringLiteral(MIZONG_WEBVIEW_MODULE_FILE)};
}

PageView* BrowserFrame::loadView()
{
    m_loadTried = true;
#ifdef Q_OS_WIN
    // Windows has its own page view: the system's WebBrowser control.
    static_assert(std::is_base_of_v<PageView, WebBrowserHost>);
    return new WebBrowserHost(this);
#else
    const QStringList candidates =
        m_modulePath.isEmpty() ? moduleCandidates() : QStringList{m_modulePath};
    for (const QString& path : candidates) {
        if (!QFileInfo::exists(path))
            continue;
        QLibrary module(path);
        auto create =
            reinterpret_cast<CreatePageViewFunction>(module.resolve(kCreatePageViewSymbol));
        if (!create) {
            qWarning("mizong: cannot use the page view module %s: %s", qPrintable(path),
                     qPrintable(module.errorString()));
            continue;
        }
        // The module stays loaded for the rest of the run: its view lives on.
        return create(this);
    }
    qWarning("mizong: no page view module found; the announcement is not shown");
    return nullptr;
#endif
}

void BrowserFrame::navigate(const QUrl& url)
{
    m_requested = url;
    if (!m_view && !m_loadTried) {
        m_view = loadView();
        if (QWidget* widget = view()) {
            widget->setGeometry(rect());
            widget->setAccessibleName(accessibleName());
            widget->setAccessibleDescription(accessibleDescription());
            widget->show();
            setFocusProxy(widget);
        }
    }
    if (m_view)
        m_view->navigate(url);
}

QWidget* BrowserFrame::view() const
{
    return m_view ? m_view->widget() : nullptr;
}

void BrowserFrame::resizeEvent(QResizeEvent* event)
{
    if (QWidget* widget = view())
        widget->setGeometry(QRect(QPoint(0, 0), event->size()));
}

} // namespace mizong
