#pragma once

#include "form_layout.h"
#include "lookup_common.h"

#include <QHash>
#include <QLineEdit>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <array>

// How a lookup's field slots meet the window's boxes: which box each field
// fills, the filling with the fallback rule, and the watchdog's question.
namespace mizong::binding {

// Which box of `Window` a lookup's field fills, and the box's control name.
template <typename Window, typename Box> struct FieldBox
{
    Box field;
    QLineEdit* Window::*box;
    QStringView name;
};

// True when the table lists the fields in their slots' order; the window
// checks its tables at compile time with it.
template <typename Window, typename Box, std::size_t N>
constexpr bool followsBoxOrder(const std::array<FieldBox<Window, Box>, N>& table)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(table[i].field) != i)
            return false;
    }
    return true;
}

// The boxes of a table, in the order of its lookup's slots.
template <typename Window, typename Box, std::size_t N>
std::array<QLineEdit*, N> boxesOf(const Window& window,
                                  const std::array<FieldBox<Window, Box>, N>& table)
{
    std::array<QLineEdit*, N> boxes{};
    for (std::size_t i = 0; i < N; ++i)
        boxes[i] = window.*table[i].box;
    return boxes;
}

// Takes each table's box from the controls made by name.
template <typename Window, typename Box, std::size_t N>
void bindBoxes(Window& window, const std::array<FieldBox<Window, Box>, N>& table,
               const QHash<QString, QWidget*>& controls)
{
    for (const FieldBox<Window, Box>& entry : table)
        window.*entry.box = layout::controlOf<QLineEdit>(controls, entry.name);
}

// Writes each value into its box, then the fallback text into the boxes
// that stayed empty when any got a value. True when the watchdog is to be
// disarmed.
template <std::size_t N>
bool fillBoxes(const std::array<QLineEdit*, N>& boxes, const FieldSlots<N>& values)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (values[i])
            boxes[i]->setText(*values[i]);
    }
    const FallbackPlan<N> plan = planFallback(values);
    for (std::size_t i = 0; i < N; ++i) {
        if (plan.fill[i])
            boxes[i]->setText(kFallbackText.toString());
    }
    return plan.disarmWatchdog;
}

// "Empty" is the empty string exactly: blanks and the fallback text are values.
template <std::size_t N> bool allEmpty(const std::array<QLineEdit*, N>& boxes)
{
    return std::all_of(boxes.begin(), boxes.end(),
                       [](const QLineEdit* box) { return box->text().isEmpty(); });
}

} // namespace mizong::binding
