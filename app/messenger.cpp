#include "messenger.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

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
    return QDesktopServices::openUrl(url);
}

} // namespace mizong
