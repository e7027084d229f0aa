#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>

namespace mizong {

// Drops the invisible characters that copying from other programs and web
// pages adds to a typed value: the soft hyphen, zero-width characters, the
// bidi marks, embeddings, overrides and isolates, the word joiner and
// invisible operators, and the byte order mark. Everything else is kept.
inline QString withoutInvisibles(QStringView text)
{
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool invisible = u == 0x00AD || (u >= 0x200B && u <= 0x200F) ||
                               (u >= 0x202A && u <= 0x202E) || (u >= 0x2060 && u <= 0x2064) ||
                               (u >= 0x2066 && u <= 0x2069) || u == 0xFEFF;
        if (!invisible)
            kept.append(c);
    }
    return kept;
}

// Written into a lookup's empty boxes when at least one of them got a value.
inline constexpr QStringView kFallbackText = u"无相关信息";

// The watchdog's report of a lookup that filled nothing.
inline constexpr QStringView kMaintenanceMessage = u"服务器维护中，请稍后查询！";

// A value slot per result box: no value when the field's pattern did not
// match; a value may be the empty text.
template <std::size_t N> using FieldSlots = std::array<std::optional<QString>, N>;

template <std::size_t N> struct FallbackPlan
{
    std::array<bool, N> fill{}; // the boxes that get kFallbackText
    bool disarmWatchdog = false;
};

// A box is empty after the extraction exactly when its slot has no value or
// the empty text. If every box is empty nothing is written and the watchdog
// stays armed; otherwise each empty box gets the fallback and it is disarmed.
template <std::size_t N> FallbackPlan<N> planFallback(const FieldSlots<N>& values)
{
    FallbackPlan<N> plan;
    for (std::size_t i = 0; i < N; ++i)
        plan.fill[i] = !values[i] || values[i]->isEmpty();
    for (bool empty : plan.fill)
        plan.disarmWatchdog = plan.disarmWatchdog || !empty;
    if (!plan.disarmWatchdog)
        plan.fill.fill(false);
    return plan;
}

} // namespace mizong
