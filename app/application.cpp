#include "application.h"

#include "assets.h"
#include "main_window.h"
#include "messenger.h"
#include "mizong_config.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include <fontconfig/fontconfig.h>
#include <thread>
#include <unistd.h>

namespace mizong {

int runApplication(int argc, char* argv[], const std::function<void(Form1&)>& onWindow)
{
    // Chromium refuses to run as root with its sandbox on and ends the whole
    // process, so a root user would never see the window.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");

    // Reading the font configuration and decoding the background are the
    // largest parts of showing the window; they run while the application
    // connects to the display. Neither needs the application object.
    QImage background;
    std::thread preload([&background] {
        FcInit();
        background = QImage(assets::kBackground.toString()).convertToFormat(QImage::Format_RGB32);
    });
    QApplication app(argc, argv);
    preload.join();
    QApplication::setApplicationName(QStringLiteral("mizong"));
    QApplication::setApplicationVersion(QStringLiteral(MIZONG_VERSION));
    // Not applicationDisplayName: Qt would append it to every window title.
    QGuiApplication::setDesktopFileName(QStringLiteral(MIZONG_APP_ID));

    MessageBoxMessenger messenger;
    DesktopLinkOpener opener;
    Form1::Options options = Form1::defaultOptions();
    options.decodedBackground = std::move(background);
    Form1 window(messenger, opener, std::move(options));
    if (const QScreen* screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    if (onWindow)
        onWindow(window);
    window.show();
    return app.exec();
}

} // namespace mizong
