#include "browser_frame.h"

#ifdef Q_OS_WIN
#include "windows/web_browser_host.h"
#else
#include "webview/webview_module.h"
#endif

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QResizeEvent>

#if QT_CONFIG(opengl)
#include <QOpenGLContext>

// Exported by Qt GUI for the web engine, which declares it the same way.
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
QT_END_NAMESPACE
#endif

namespace mizong {

#ifndef Q_OS_WIN
namespace {

#if QT_CONFIG(opengl)
QOpenGLContext* g_shareContext = nullptr;

void releaseShareContext()
{
    if (QOpenGLContext::globalShareContext() == g_shareContext)
        qt_gl_set_global_share_context(nullptr);
    delete g_shareContext;
    g_shareContext = nullptr;
}
#endif

// The web engine wants a GL context shared with it before it loads: without
// one Qt 6.4 warns on every start and Qt 6.8 creates one itself. The page
// view draws in software (see the module), so nothing ever renders with that
// context, and creating it would load the GL driver (about 50 MiB with Mesa)
// for nothing. Left uncreated it has no native handles: the engine's GL
// set-up finds nothing to share, and the page stays in software.
// (Asking for one up front with Qt::AA_ShareOpenGLContexts would also cost
// every start a GL context before the first paint.)
void provideShareContext()
{
#if QT_CONFIG(opengl)
    if (QOpenGLContext::globalShareContext())
        return;
    g_shareContext = new QOpenGLContext;
    qt_gl_set_global_share_context(g_shareContext);
    qAddPostRoutine(releaseShareContext);
#endif
}

} // namespace
#endif

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
#ifdef Q_OS_WIN
    // Windows has its own page view: the system's WebBrowser control.
    return new WebBrowserHost(this);
#else
    const QStringList candidates =
        m_modulePath.isEmpty() ? moduleCandidates() : QStringList{m_modulePath};
    for (const QString& path : candidates) {
        if (!QFileInfo::exists(path))
            continue;
        provideShareContext();
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
#endif
}

void BrowserFrame::navigate(const QUrl& url)
{
    m_requested = url;
    if (!m_view && !m_loadTried) {
        m_view = loadView();
        if (m_view) {
            m_view->setGeometry(rect());
            m_view->setAccessibleName(accessibleName());
            m_view->setAccessibleDescription(accessibleDescription());
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
