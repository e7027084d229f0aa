#include "process_tree.h"

#include <QDir>
#include <QFile>
#include <QMap>

namespace mizong::testing {

QByteArray procFile(qint64 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<qint64> processTree(qint64 root)
{
    QMap<qint64, qint64> parentOf;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        // The command name may hold blanks; the fields after it do not.
        const QByteArray line = procFile(pid, "stat");
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(0) == "Z")
            continue;
        parentOf.insert(pid, fields.value(1).toLongLong());
    }
    QList<qint64> tree;
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        for (qint64 pid = it.key(); pid > 1; pid = parentOf.value(pid, 0)) {
            if (pid == root) {
                tree.append(it.key());
                break;
            }
        }
    }
    return tree;
}

QByteArray processKind(qint64 pid, qint64 root)
{
    if (pid == root)
        return "browser";
    // A helper may rewrite its command line into one string of
    // blank-separated words.
    for (const QByteArray& argument : procFile(pid, "cmdline").replace('\0', ' ').split(' ')) {
        if (!argument.startsWith("--type="))
            continue;
        const QByteArray type = argument.mid(7);
        if (type != "zygote")
            return type;
        // A renderer forked from the zygote keeps the zygote's command line
        // until it rewrites it; unlike the zygotes, which must stay
        // single-threaded to fork, it runs threads.
        const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
        return tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() > 1 ? "renderer"
                                                                             : "zygote";
    }
    return "other";
}

} // namespace mizong::testing
