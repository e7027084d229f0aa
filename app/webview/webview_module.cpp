#include "page_view.h"

#include <QLoggingCategory>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWebEngineView>

#include <type_traits>

#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
namespace {

QtMessageHandler g_nextHandler = nullptr;

// Qt 6.4's web engine says this once whenever the GL context shared with it
// has no native handles, that is whenever it composites in software, which
// is what the page view asks for; Qt 6.8 takes the same path without a word.
void dropSoftwareCompositingNotice(QtMsgType type, const QMessageLogContext& context,
                                   const QString& message)
{
    if (type == QtWarningMsg && message.trimmed() == u"No suitable graphics backend found")
        return;
    g_nextHandler(type, context, message);
}

} // namespace
#endif

namespace {

class WebEnginePageView final : public QWebEngineView, public mizong::PageView
{
public:
    explicit WebEnginePageView(QWidget* parent) : QWebEngineView(parent) {}

    QWidget* widget() override { return this; }
    void navigate(const QUrl& url) override { setUrl(url); }
    // The engine shows its own page for an address it cannot load.
    QString fallbackText() const override { return {}; }
};

} // namespace

extern "C" Q_DECL_EXPORT mizong::PageView* mizong_create_page_view(QWidget* parent);
static_assert(std::is_same_v<decltype(&mizong_create_page_view), mizong::CreatePageViewFunction>,
              "the module's entry point is the one the frame resolves");

mizong::PageView* mizong_create_page_view(QWidget* parent)
{
    // The module comes after the application started, too late for the
    // OpenGL context sharing the web engine's GPU path needs (asking for it
    // up front would cost the window's first paint a GL context). Qt Quick's
    // software renderer shows the page instead; Chromium then composites in
    // software, plenty for an announcement page.
    // Once: Qt Quick refuses a change once its scene graph is up.
    if (QQuickWindow::sceneGraphBackend() != u"software")
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Qt 6.4's report of the web engine's GL set-up reads the shared GL
    // context without checking that there is one, and a platform without GL
    // (offscreen) has none. The page's own console messages ("js") mean
    // nothing to the user and would fill the terminal on every start.
    // QT_LOGGING_RULES still turns either back on.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\njs=false"));
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    if (!g_nextHandler)
        g_nextHandler = qInstallMessageHandler(dropSoftwareCompositingNotice);
#endif
    return new WebEnginePageView(parent);
}
