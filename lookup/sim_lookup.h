#pragma once

#include "lookup_common.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The SIM card lookup by ICCID, as functions from text to values.
namespace mizong::sim {

// The four facts of a card's page, in the order the window clears and fills
// their boxes.
enum class Field
{
    Carrier,
    PhoneNumber,
    CardAge,
    HomeArea
};
inline constexpr std::size_t kFieldCount = 4;
using Slots = FieldSlots<kFieldCount>;

inline constexpr std::size_t slot(Field field)
{
    return static_cast<std::size_t>(field);
}

inline constexpr QStringView kEmptyMessage = u"ICCID不能为空！";
inline constexpr QStringView kInvalidMessage = u"你输入的不是一个有效的ICCID码！";
// Its presence anywhere on the page selects the two-line home-area form.
inline constexpr QStringView kAreaCodeLabel = u"归属地(区号)";

// The typed text without invisible characters (withoutInvisibles) and with
// blanks trimmed at both ends; no value when that is empty.
std::optional<QString> iccidFrom(QStringView input);

QString requestUrl(QStringView serviceBase, QStringView iccid);

// The four fields, indexed by slot().
Slots extractFields(QStringView page);

// All that a card's page tells the window.
struct Reading
{
    bool rejected = false; // the service's invalid-ICCID phrase is anywhere on it
    Slots values;          // none on a rejected page
};
Reading readPage(QStringView page);

// Every pattern the extraction applies (the home area has two forms), for
// the tools that check the matcher against QRegularExpression.
QStringList fieldPatterns();

} // namespace mizong::sim
