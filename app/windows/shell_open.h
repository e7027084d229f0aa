#pragma once

#include <QString>

#include <optional>

class QUrl;

namespace mizong {

// The text handed to the shell for `url`: its encoded form, so that spaces
// and Chinese characters stay one address. Only http and https addresses:
// for a file or another scheme the shell would start a program instead.
std::optional<QString> shellOpenAddress(const QUrl& url);

// Opens the address with the user's default handler for it (ShellExecuteW
// with "open", as Explorer does), so links reach the browser the user chose;
// false when the address is refused or the shell could not open it.
bool openWithShell(const QUrl& url);

} // namespace mizong
