#include "application.h"

#include "accessibility.h"
#include "assets.h"
#include "command_line.h"
#include "form_layout.h"
#include "main_window.h"
#include "messenger.h"
#include "mizong_config.h"
#ifdef Q_OS_UNIX
#include "termination.h"
#endif

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include <future>
#include <utility>

#if !defined(Q_OS_WIN) && QT_CONFIG(opengl)
#include <QOpenGLContext>

QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
QT_END_NAMESPACE
#endif

#ifndef Q_OS_WIN
#include <fontconfig/fontconfig.h>
#include <thread>
#include <unistd.h>
#endif

namespace mizong {

#ifndef Q_OS_WIN
namespace {

void addChromiumFlag(const char* flag)
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains(flag))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.append(' ').append(flag).trimmed());
}

} // namespace
#endif

void prepareEnvironment(const PageEngineSavings& savings)
{
#ifndef Q_OS_WIN
    // Chromium refuses to run as root with its sandbox on and ends the whole
    // process, so a root user would never see the window. The switch goes to
    // Chromium directly: QTWEBENGINE_DISABLE_SANDBOX would make Qt report,
    // on every start, a choice the user never made.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        addChromiumFlag("--no-sandbox");

    // Chromium keeps a second zygote ready for helpers that run outside the
    // sandbox (GPU, utilities). Qt runs the GPU and network services inside
    // the program and the page starts no such helper, so that zygote would
    // only sit there; a helper that is ever needed is started directly.
    if (savings.withoutUnsandboxedZygote)
        addChromiumFlag("--no-unsandboxed-zygote");

#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    // When it starts, Qt 6.4's web engine asks X11's GL integration whether
    // GL may run on threads, which it answers by creating a test context:
    // that loads the GL driver (about 50 MiB with Mesa and its LLVM) into a
    // program that never draws with GL, as the page view draws in software.
    // Unchecked, the answer is yes, and the engine composites the page on a
    // thread of its own, as it does on drivers that pass the check.
    if (savings.withoutGlDriver && !qEnvironmentVariableIsSet("QT_OPENGL_NO_SANITY_CHECK"))
        qputenv("QT_OPENGL_NO_SANITY_CHECK", "1");
#endif

    // The engine keeps the page's own accessibility tree from the platform's
    // on Linux unless asked, so a screen reader would find an empty page.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
#else
    Q_UNUSED(savings);
#endif
}

#if !defined(Q_OS_WIN) && QT_CONFIG(opengl)
namespace {

QOpenGLContext* g_shareContext = nullptr;

void releaseShareContext()
{
    if (QOpenGLContext::globalShareContext() == g_shareContext)
        qt_gl_set_global_share_context(nullptr);
    delete std::exchange(g_shareContext, nullptr);
}

} // namespace
#endif

void prepareApplication()
{
    static bool prepared = false;
    if (std::exchange(prepared, true))
        return;
    // The design's font names stand for fonts a Windows has; elsewhere they
    // map to the Simplified Chinese fonts the system has.
    layout::installFontSubstitutions();
    // The window's own controls speak for themselves to screen readers,
    // before a reader can have asked for anything.
    installAccessibleInterfaces();
#ifdef Q_OS_WIN
    // The WebBrowser control lives in a native child window of its own; its
    // siblings, the window's other controls, stay drawn by Qt on the window.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
#elif QT_CONFIG(opengl)
    // The web engine wants a GL context shared with it before it loads:
    // without one Qt 6.4 warns on every start and Qt 6.8 creates one itself.
    // The page view draws in software (see the module), so nothing ever
    // renders with that context, and creating it would load the GL driver
    // (about 50 MiB with Mesa) for nothing. Left uncreated it has no native
    // handles: the engine's GL set-up finds nothing to share, and the page
    // stays in software. (Qt::AA_ShareOpenGLContexts, Qt's public way, would
    // create it, and cost every start a GL context before the first paint.)
    // The setter is Qt GUI's export for the web engine, declared as the
    // engine declares it.
    if (!QOpenGLContext::globalShareContext()) {
        g_shareContext = new QOpenGLContext;
        qt_gl_set_global_share_context(g_shareContext);
        qAddPostRoutine(releaseShareContext);
    }
#endif
}

int runApplication(int argc, char* argv[], const std::function<void(Form1&)>& onWindow,
                   const PageEngineSavings& savings)
{
    if (const std::optional<int> code = answerCommandLine(argc, argv, stdout))
        return *code;

    prepareEnvironment(savings);

#ifndef Q_OS_WIN
    // Reading the font configuration is the largest part of showing the
    // window's text; it runs while the application connects to the display.
    // Only fontconfig runs on that thread: no Qt object may exist before the
    // application object, or Qt takes the wrong thread for its main thread.
    std::thread fontConfiguration([] { FcInit(); });
    QApplication app(argc, argv);
    fontConfiguration.join();
#else
    QApplication app(argc, argv);
#endif
    prepareApplication();
    QApplication::setApplicationName(QStringLiteral("mizong"));
    QApplication::setApplicationVersion(QStringLiteral(MIZONG_VERSION));
    // Not applicationDisplayName: Qt would append it to every window title.
    QGuiApplication::setDesktopFileName(QStringLiteral(MIZONG_APP_ID));

    // The background is decoded while the window creates its controls. Only
    // now that the application object exists may another thread use Qt.
    Form1::Options options = Form1::defaultOptions();
    if (app.devicePixelRatio() <= 1.0) {
        options.decodedBackground = std::async(std::launch::async, [] {
            return QImage(assets::kBackground.toString()).convertToFormat(QImage::Format_RGB32);
        });
    }
    MessageBoxMessenger messenger;
    DesktopLinkOpener opener;
    Form1 window(messenger, opener, std::move(options));
    if (const QScreen* screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
#ifdef Q_OS_UNIX
    if (!closeOnTermination(&window))
        qWarning("mizong: cannot close on SIGTERM; the session's end stops the program at once");
#endif
    if (onWindow)
        onWindow(window);
    window.show();
    return app.exec();
}

} // namespace mizong
