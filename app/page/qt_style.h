#pragma once

#include "computed_style.h"

#include <QString>

// Internal to mizong_page_markup: page_markup.h is the interface.
// Computed values written as the inline style Qt's importer reads and draws:
// lengths in px, colours as #rrggbb or rgba(), line heights fixed (Qt takes
// a plain line-height for a minimum). Qt inherits character formats from
// the element around, so text properties are written only where they
// change; block properties are written on every block, since Qt inherits
// none of them into nested blocks and has margins of its own.
namespace mizong::page::markup {

QString colorText(const css::Color& color);

// The colour text is drawn in: its own, or none for visibility: hidden.
css::Color drawnColor(const css::ComputedStyle& style);

// Character properties of `style` that differ from `around` (the element
// written around it), or all of them without one.
void appendTextStyle(QString& out, const css::ComputedStyle& style,
                     const css::ComputedStyle* around);

// A block's margins (unless `withMargins` is false: its box carries them),
// alignment, indent and line height.
void appendBlockStyle(QString& out, const css::ComputedStyle& style, bool withMargins);

// A cell's (or a box's cell's) borders side by side, padding and background.
void appendCellStyle(QString& out, const css::ComputedStyle& style, bool withBackground);

// A length Qt's layout handles (it overflows or never ends on huge ones).
qreal boundedPx(qreal px);

} // namespace mizong::page::markup
