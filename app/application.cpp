#include "application.h"

#include "accessibility.h"
#include "assets.h"
#include "command_line.h"
#include "form_layout.h"
#include "main_window.h"
#include "messenger.h"
#include "mizong_config.h"
#include "page_loader.h"
#ifdef Q_OS_UNIX
#include "termination.h"
#endif

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <utility>

#ifndef Q_OS_WIN
#include <fontconfig/fontconfig.h>
#include <thread>
#endif

namespace mizong {

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
}

int runApplication(int argc, char* argv[], const std::function<void(Form1&)>& onWindow)
{
    if (const std::optional<int> code = answerCommandLine(argc, argv, stdout))
        return *code;

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
    const int code = app.exec();
    // The window is closed: the program ends now, also when the page thread
    // is deep in a step of a heavy page that cannot be interrupted (on
    // Windows a copy left running would keep the installer waiting).
    if (!page::endPageWork(std::chrono::milliseconds(500))) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}

} // namespace mizong
