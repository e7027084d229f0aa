#include "link_command.h"

#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace mizong {

std::optional<LinkCommand> internetExplorerCommand(const QUrl& url, const QString& program)
{
    if (!url.isValid() || !QFileInfo(program).isFile())
        return std::nullopt;
    // Encoded, so that spaces and Chinese characters stay inside the one
    // argument whatever Internet Explorer makes of its command line.
    return LinkCommand{program, {url.toString(QUrl::FullyEncoded)}};
}

bool openInInternetExplorer(const QUrl& url)
{
    const std::optional<LinkCommand> command = internetExplorerCommand(url);
    return command && QProcess::startDetached(command->program, command->arguments);
}

} // namespace mizong
