#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QUrl;

namespace mizong {

// Where Windows keeps Internet Explorer, the browser links open in.
inline constexpr QStringView kInternetExplorer = u"C:/Program Files/Internet Explorer/iexplore.exe";

struct LinkCommand
{
    QString program;
    QStringList arguments;
};

// Internet Explorer with the address, when `program` exists; otherwise the
// link goes to the default browser.
std::optional<LinkCommand>
internetExplorerCommand(const QUrl& url, const QString& program = kInternetExplorer.toString());

// Starts that command; false when there is no Internet Explorer or it failed.
bool openInInternetExplorer(const QUrl& url);

} // namespace mizong
