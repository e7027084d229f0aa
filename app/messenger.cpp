#include "messenger.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#ifdef Q_OS_WIN
#include "windows/link_command.h"
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
    if (openInInternetExplorer(url))
        return true;
#endif
    return QDesktopServices::openUrl(url);
}

} // namespace mizong
