#pragma once

#include <QByteArray>
#include <QList>

namespace mizong::testing {

// A file of /proc/PID ("cmdline", "smaps"), empty when the process is gone.
QByteArray procFile(qint64 pid, const char* name);

// `root` and every living process descended from it (zombies left out).
QList<qint64> processTree(qint64 root);

// What process `pid` in the tree of `root` is: "browser" (`root` itself),
// "zygote", "renderer", the --type= its command line names for another
// helper, or "other".
QByteArray processKind(qint64 pid, qint64 root);

} // namespace mizong::testing
