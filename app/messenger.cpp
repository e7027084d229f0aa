#include "messenger.h"

#include <QMessageBox>
#include <QUrl>

#ifdef Q_OS_WIN
#include "windows/shell_open.h"
#else
#include <QDesktopServices>
#endif

namespace mizong {

void MessageBoxMessenger::inform(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Information, kMessageTitle.toString(), text, QMessageBox::Ok,
                    parent);
    // Messages quote what came from outside (addresses); never read it as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool DesktopLinkOpener::open(const QUrl& url)
{
#ifdef Q_OS_WIN
    return openWithShell(url);
#else
    return QDesktopServices::openUrl(url);
#endif
}

} // namespace mizong
