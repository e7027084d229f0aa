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

// A value slot per field of a lookup: no value when the field's pattern did
// not match; a value may be the empty text.
template <std::size_t N> using FieldSlots = std::array<std::optional<QString>, N>;

} // namespace mizong
