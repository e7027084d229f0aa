// Page bytes as a service might send them, through decoding into both
// lookups' page readings: screening, every field and the verdict.

#include "device_lookup.h"
#include "page_fetch.h"
#include "sim_lookup.h"

#include <QByteArray>
#include <QLocale>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using namespace mizong;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> decoded = BytesToBstr(bytes, u"UTF-8");
    const QString page = decoded ? *decoded : QString::fromLatin1(bytes);

    const device::Reading reading = device::readPage(page, QLocale::c());
    const auto& first = reading.values[device::slot(device::Field::FirstActivation)];
    const auto& latest = reading.values[device::slot(device::Field::LatestActivation)];
    // A refused page is read no further, and a verdict needs both times.
    if (reading.refused() && std::any_of(reading.values.begin(), reading.values.end(),
                                         [](const auto& value) { return value.has_value(); }))
        __builtin_trap();
    if (reading.verdict != device::Verdict::None &&
        (!first || first->isEmpty() || !latest || latest->isEmpty()))
        __builtin_trap();
    // The same times under the regional settings the tool is made for.
    (void)device::decideVerdict(first, latest, QLocale(QLocale::Chinese, QLocale::China));

    const sim::Reading simReading = sim::readPage(page);
    if (simReading.rejected && simReading.values != sim::Slots())
        __builtin_trap();
    return 0;
}
