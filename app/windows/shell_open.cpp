#include "shell_open.h"

#include <QUrl>

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

namespace mizong {

std::optional<QString> shellOpenAddress(const QUrl& url)
{
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return std::nullopt;
    return url.toString(QUrl::FullyEncoded);
}

bool openWithShell(const QUrl& url)
{
    const std::optional<QString> address = shellOpenAddress(url);
    if (!address)
        return false;
    // Values above 32 mean success; the handler runs on by itself.
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(address->utf16()), nullptr,
                      nullptr, SW_SHOWNORMAL));
    return result > 32;
}

} // namespace mizong
