// Two activation times (split at the first NUL byte) through the verdict's
// date reading and decision, under the locales a desktop commonly has and
// under the user's own regional settings (tools/fuzz sets zh_CN).

#include "device_lookup.h"

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>

using namespace mizong;

namespace {

const QList<QLocale>& locales()
{
    // QLocale::system() is what the window passes: on Linux it follows
    // LC_ALL, LC_TIME and LANG through Qt's own data, not glibc's locales.
    static const QList<QLocale> all = {
        QLocale::c(),
        QLocale(QLocale::Chinese, QLocale::China),
        QLocale(QLocale::Japanese, QLocale::Japan),
        QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::English, QLocale::UnitedKingdom),
        QLocale(QLocale::German, QLocale::Germany),
        QLocale::system(),
    };
    return all;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    // tools/fuzz checks this line: a run meant for zh_CN must not quietly
    // fall back to the C locale.
    std::fprintf(stderr, "fuzz_verdict: system locale %s\n",
                 qPrintable(locales().constLast().name()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = bytes.indexOf('\0');
    const QString first = QString::fromUtf8(split < 0 ? bytes : bytes.left(split));
    const QString latest = split < 0 ? QString() : QString::fromUtf8(bytes.mid(split + 1));

    for (const QLocale& locale : locales()) {
        const std::optional<QDate> firstDay = device::activationDay(first, locale);
        const std::optional<QDate> latestDay = device::activationDay(latest, locale);
        if ((firstDay && !firstDay->isValid()) || (latestDay && !latestDay->isValid()))
            __builtin_trap(); // a day that is read is a real day
        // The decision is the comparison of the two days, nothing else.
        const device::Verdict expected = !firstDay || !latestDay   ? device::Verdict::None
                                         : *firstDay == *latestDay ? device::Verdict::NotReactivated
                                                                   : device::Verdict::Reactivated;
        if (device::decideVerdict(first, latest, locale) != expected)
            __builtin_trap();
    }
    return 0;
}
