#include "webview_module.h"

#include <QLoggingCategory>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWebEngineView>

extern "C" Q_DECL_EXPORT QWidget* mizong_create_web_view(QWidget* parent)
{
    // The module comes after the application started, too late for the
    // OpenGL context sharing the web engine's GPU path needs (asking for it
    // up front would cost the window's first paint a GL context). Qt Quick's
    // software renderer shows the page instead; Chromium then composites in
    // software, plenty for an announcement page.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Qt 6.4's report of the web engine's GL set-up reads the shared GL
    // context without checking that there is one, and a platform without GL
    // (offscreen) has none. The page's own console messages ("js") mean
    // nothing to the user and would fill the terminal on every start.
    // QT_LOGGING_RULES still turns either back on.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\njs=false"));
    return new QWebEngineView(parent);
}
