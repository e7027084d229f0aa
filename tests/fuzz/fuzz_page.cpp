// Page bytes as a service might send them, through decoding into both
// lookups: screening, every field, the fallback rule and the verdict.

#include "device_lookup.h"
#include "page_fetch.h"
#include "sim_lookup.h"

#include <QByteArray>
#include <QLocale>

#include <cstddef>
#include <cstdint>

using namespace mizong;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> decoded = BytesToBstr(bytes, u"UTF-8");
    const QString page = decoded ? *decoded : QString::fromLatin1(bytes);

    const device::Screening screening = device::screen(page);
    (void)device::screeningMessage(screening);
    const device::Slots values = device::extractFields(page);
    const FallbackPlan<device::kBoxCount> plan = device::fallbackFor(values);
    for (std::size_t i = 0; i < device::kBoxCount; ++i)
        if (plan.fill[i] && values[i] && !values[i]->isEmpty())
            __builtin_trap(); // the fallback never covers a value
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Chinese, QLocale::China)}) {
        const device::Verdict verdict =
            device::decideVerdict(values[device::index(device::Box::Text2)],
                                  values[device::index(device::Box::Text4)], locale);
        (void)device::captionsFor(verdict);
    }

    (void)sim::isRejected(page);
    const sim::Slots simValues = sim::extractFields(page);
    (void)sim::fallbackFor(simValues);
    return 0;
}
