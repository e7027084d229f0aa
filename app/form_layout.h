#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QStringView>

#include <span>

// The window's fixed layout as data: every control with its kind, place,
// tab index, font and texts, from the one table app/form_layout.tsv.
namespace mizong::layout {

enum class Kind
{
    Label,   // a caption
    Verdict, // a label whose caption is condensed to fit (Label17)
    Link,    // the same, reporting clicks (Label18)
    Input,   // an editable box
    Result,  // a read-only box
    Button,  // a picture button
    Page     // the page view's frame
};

enum class Font
{
    Window,
    Box,
    BoxBold
};

struct Control
{
    QStringView name;
    Kind kind;
    int left, top, width, height; // twips
    int tabIndex;                 // labels never take the focus
    Font font;
    bool red;
    // A label's caption, or a button's picture: "query", "clear" or "shop".
    QStringView text;
    // The box a caption names; it takes the caption as its accessible name.
    QStringView buddy;
    QStringView accessibleName;
    QStringView accessibleDescription;

    bool takesFocus() const
    {
        return kind != Kind::Label && kind != Kind::Verdict && kind != Kind::Link;
    }
};

// In the order they are made: a later control is drawn over an earlier one.
std::span<const Control> controls();

// The control of that name; the program is wrong without it, so it aborts.
const Control& control(QStringView name);

// Twips to logical pixels (15 to a pixel); Qt's scaling takes it from there.
QRect pixels(const Control& control);

// The client area: 12060 by 9390 twips.
inline constexpr QSize kClientSize(804, 626);

QFont font(Font font);

// Maps the design's font names to the Simplified Chinese fonts a system may
// have instead. Process-wide; safe to call more than once.
void installFontSubstitutions();

} // namespace mizong::layout
