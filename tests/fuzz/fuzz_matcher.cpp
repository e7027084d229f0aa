// The linear-time matcher against QRegularExpression, on the lookups' own
// field patterns: the first match and every group must agree, unless PCRE2
// gave up (its match limit), which it reports as a warning.

#include "device_lookup.h"
#include "pattern_extract.h"
#include "sim_lookup.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>

using namespace mizong;

namespace {

bool g_regexGaveUp = false;

void noteRegexWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg && message.contains(u"QRegularExpression"))
        g_regexGaveUp = true;
}

QStringList lookupPatterns()
{
    QStringList patterns = sim::fieldPatterns();
    for (const device::FieldRule& rule : device::fieldRules())
        patterns.append(rule.pattern);
    return patterns;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QStringList patterns = lookupPatterns();
    static const auto previous = qInstallMessageHandler(noteRegexWarning);
    (void)previous;

    const QString page = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QString& pattern : patterns) {
        QList<int> groups;
        for (int g = -1; g <= int(pattern.count(u'(')); ++g)
            groups.append(g);
        g_regexGaveUp = false;
        const std::optional<QStringList> reference = extractGroupsRegex(page, pattern, groups);
        if (g_regexGaveUp)
            continue;
        if (extractGroups(page, pattern, groups) != reference) {
            std::fprintf(stderr, "matcher and QRegularExpression disagree on %s\n",
                         qPrintable(pattern));
            __builtin_trap();
        }
    }
    return 0;
}
