#pragma once

#include "lookup_common.h"

#include <QLineEdit>

#include <algorithm>
#include <array>

// What a lookup does to its result boxes, and the watchdog's question about
// them. The boxes come in the order of their lookup's field slots.
namespace mizong::binding {

// A field that did not match leaves its box as it is: empty, since the
// lookup cleared it.
template <std::size_t N>
void writeValues(const std::array<QLineEdit*, N>& boxes, const FieldSlots<N>& values)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (values[i])
            boxes[i]->setText(*values[i]);
    }
}

// "Empty" is the empty string exactly: blanks and the fallback text are values.
template <std::size_t N> bool allEmpty(const std::array<QLineEdit*, N>& boxes)
{
    return std::all_of(boxes.begin(), boxes.end(),
                       [](const QLineEdit* box) { return box->text().isEmpty(); });
}

// When any box has a value, the boxes that stayed empty get the fallback
// text and the lookup is over for its watchdog: true. When none has, nothing
// is written, so that the watchdog reports.
template <std::size_t N> bool fillEmptyBoxes(const std::array<QLineEdit*, N>& boxes)
{
    if (allEmpty(boxes))
        return false;
    for (QLineEdit* box : boxes) {
        if (box->text().isEmpty())
            box->setText(kFallbackText.toString());
    }
    return true;
}

} // namespace mizong::binding
