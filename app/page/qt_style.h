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

// The character properties Qt's importer sets by itself on an element it
// gives a look of its own (italic, bold, a size, a face, a line).
enum QtLook : quint16
{
    NoLook = 0,
    LooksColor = 1 << 0,
    LooksSize = 1 << 1,
    LooksWeight = 1 << 2,
    LooksItalic = 1 << 3,
    LooksFamily = 1 << 4,
    LooksWhiteSpace = 1 << 5,
    LooksDecoration = 1 << 6,
    LooksAll = 0x7f
};
quint16 qtLookOf(QStringView element);

// Character properties of `style` that differ from `around` (the element
// written around it), or all of them without one; and those in `look`,
// which Qt would otherwise set its own way.
void appendTextStyle(QString& out, const css::ComputedStyle& style,
                     const css::ComputedStyle* around, quint16 look = NoLook);

// A block's margins (unless `withMargins` is false: its box carries them),
// alignment, indent and line height: its own, else `normalLine` when given.
void appendBlockStyle(QString& out, const css::ComputedStyle& style, bool withMargins,
                      qreal normalLine = 0);

// A cell's (or a box's cell's) borders side by side, padding and background.
void appendCellStyle(QString& out, const css::ComputedStyle& style, bool withBackground);

// A length Qt's layout handles (it overflows or never ends on huge ones).
qreal boundedPx(qreal px);

} // namespace mizong::page::markup
