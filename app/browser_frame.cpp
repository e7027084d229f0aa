#include "browser_frame.h"

#include "webview/webview_module.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QResizeEvent>

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

QWidget* BrowserFrame::loadView()
{
    m_loadTried = true;
    const QStringList candidates =
        m_modulePath.isEmpty() ? moduleCandidates() : QStringList{m_modulePath};
    for (const QString& path : candidates) {
        if (!QFileInfo::exists(path))
            continue;
        QLibrary module(path);
        auto create = reinterpret_cast<CreateWebViewFunction>(module.resolve(kCreateWebViewSymbol));
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
}

void BrowserFrame::navigate(const QUrl& url)
{
    m_requested = url;
    if (!m_view && !m_loadTried) {
        m_view = loadView();
        if (m_view) {
            m_view->setGeometry(rect());
            m_view->show();
            setFocusProxy(m_view);
        }
    }
    if (m_view)
        m_view->setProperty("url", url); // starts the navigation
}

void BrowserFrame::resizeEvent(QResizeEvent* event)
{
    if (m_view)
        m_view->setGeometry(QRect(QPoint(0, 0), event->size()));
}

} // namespace mizong
