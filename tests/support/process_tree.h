#pragma once

#include <QByteArray>
#include <QList>

namespace mizong::testing {

// A file of /proc/PID ("cmdline", "smaps"), empty when the process is gone.
QByteArray procFile(qint64 pid, const char* name);

// `root` and every living process descended from it (zombies left out).
QList<qint64> processTree(qint64 root);

// What a process of a Qt WebEngine program `root` is: "browser" (`root`
// itself), "zygote", "renderer", Chromium's own --type for its other
// helpers, or "other".
QByteArray processKind(qint64 pid, qint64 root);

} // namespace mizong::testing
