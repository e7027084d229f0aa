#pragma once

#include "lookup_common.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The SIM card lookup by ICCID, as functions from text to values.
namespace mizong::sim {

enum class Box
{
    Text13,
    Text14,
    Text15,
    Text16
};
inline constexpr std::size_t kBoxCount = 4;
using Slots = FieldSlots<kBoxCount>;

inline constexpr std::size_t index(Box box)
{
    return static_cast<std::size_t>(box);
}

inline constexpr QStringView kEmptyMessage = u"ICCID不能为空！";
inline constexpr QStringView kInvalidMessage = u"你输入的不是一个有效的ICCID码！";
// Its presence anywhere on the page selects the two-line home-area form.
inline constexpr QStringView kAreaCodeLabel = u"归属地(区号)";

// The typed text without invisible characters (withoutInvisibles) and with
// blanks trimmed at both ends; no value when that is empty.
std::optional<QString> iccidFrom(QStringView input);

QString requestUrl(QStringView serviceBase, QStringView iccid);

// The service's invalid-ICCID phrase anywhere on the page.
bool isRejected(QStringView page);

// The four fields, indexed by Box.
Slots extractFields(QStringView page);

// Every pattern the extraction applies (the home area has two forms), for
// the tools that check the matcher against QRegularExpression.
QStringList fieldPatterns();

inline FallbackPlan<kBoxCount> fallbackFor(const Slots& values)
{
    return planFallback(values);
}

} // namespace mizong::sim
