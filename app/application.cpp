#include "application.h"

#include "main_window.h"
#include "messenger.h"
#include "mizong_config.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include <unistd.h>

namespace mizong {

int runApplication(int argc, char* argv[], const std::function<void(Form1&)>& onWindow)
{
    // Chromium refuses to run as root with its sandbox on and ends the whole
    // process, so a root user would never see the window.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mizong"));
    QApplication::setApplicationVersion(QStringLiteral(MIZONG_VERSION));
    // Not applicationDisplayName: Qt would append it to every window title.
    QGuiApplication::setDesktopFileName(QStringLiteral(MIZONG_APP_ID));

    MessageBoxMessenger messenger;
    DesktopLinkOpener opener;
    Form1 window(messenger, opener);
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
