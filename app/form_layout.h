#pragma once

#include <QFont>
#include <QHash>
#include <QLineEdit>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringView>
#include <QWidget>

#include <array>
#include <cstddef>
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

enum class Lookup
{
    None,
    Device,
    Sim
};

// The field of a lookup whose value a result box shows.
struct Fills
{
    Lookup lookup = Lookup::None;
    std::size_t slot = 0; // the field's slot in its lookup's values
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
    Fills fills;

    bool takesFocus() const
    {
        return kind != Kind::Label && kind != Kind::Verdict && kind != Kind::Link;
    }
};

// In the order they are made: a later control is drawn over an earlier one.
std::span<const Control> controls();

// Twips to logical pixels (15 to a pixel); Qt's scaling takes it from there.
QRect pixels(const Control& control);

// The client area: 12060 by 9390 twips.
inline constexpr QSize kClientSize(804, 626);

QFont font(Font font);

// The widget of a row, as a child of `parent`, with everything the table
// says of it but its buddy and tab order, which need the other controls.
QWidget* createWidget(const Control& row, QWidget* parent);

// Every control as a child of `window`, by name, with captions naming their
// boxes, the tab order and the focus in the first control of it.
QHash<QString, QWidget*> createControls(QWidget* window);

// The control of that name and kind among those made; the program is wrong
// without it, so it aborts.
template <typename T> T* controlOf(const QHash<QString, QWidget*>& controls, QStringView name)
{
    auto* widget = qobject_cast<T*>(controls.value(name.toString()));
    if (!widget)
        qFatal("the window has no control %s of the kind it needs", qPrintable(name.toString()));
    return widget;
}

// The result boxes of a lookup among those made, each at its field's slot.
// The build checks that the table gives each slot of N exactly one box.
template <std::size_t N>
std::array<QLineEdit*, N> resultBoxes(const QHash<QString, QWidget*>& controls, Lookup lookup)
{
    std::array<QLineEdit*, N> boxes{};
    for (const Control& row : layout::controls()) {
        if (row.fills.lookup == lookup)
            boxes.at(row.fills.slot) = controlOf<QLineEdit>(controls, row.name);
    }
    return boxes;
}

// Maps the design's font names to the Simplified Chinese fonts a system may
// have instead. Process-wide; safe to call more than once.
void installFontSubstitutions();

} // namespace mizong::layout
