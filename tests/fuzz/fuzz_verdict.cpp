// Two activation times (split at the first NUL byte) through the verdict's
// date reading and decision, under the locales a desktop commonly has.

#include "device_lookup.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cstddef>
#include <cstdint>

using namespace mizong;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = bytes.indexOf('\0');
    const QString first = QString::fromUtf8(split < 0 ? bytes : bytes.left(split));
    const QString latest = split < 0 ? QString() : QString::fromUtf8(bytes.mid(split + 1));

    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Chinese, QLocale::China),
                                  QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::German, QLocale::Germany)}) {
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
