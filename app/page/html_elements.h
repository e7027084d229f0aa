#pragma once

#include <QString>
#include <QStringView>

// Internal to mizong_page_markup: page_markup.h is the interface.
// What becomes of each HTML element: kept under a name Qt's importer knows,
// its tags dropped, or dropped with its content (scripts, forms, frames,
// embedded objects), and the part it plays in HTML's tree building (implied
// ends, scopes). Qt's importer takes an element it does not know for an
// inline one that stays open, and reads attributes a page must not give it.
namespace mizong::page::markup {

// What becomes of an element and its content.
enum class Treatment : quint8
{
    Element,     // kept, under its output name
    Transparent, // its tags dropped, its content kept
    Drop,        // dropped with its content
    Ignore,      // a void element dropped
};

enum class Role : quint8
{
    None,
    Anchor,
    Nobr,
    Heading,
    ListItem,
    DefinitionItem,
    Image,
    Table,
    Section,
    Row,
    Cell,
    Caption,
    Option,
    OptGroup,
    Body,
    Link,
    Style,
    Title,
    Preformatted,
};

enum Flag : quint8
{
    Void = 0x01,
    ClosesP = 0x02, // its start tag ends an open <p>
    Special = 0x04, // ends the search for an open <li>, <dd> or <dt>
    Foreign = 0x10, // honours "/>"
};

struct ElementRule
{
    QStringView name;
    Treatment treatment;
    QStringView out;
    Role role;
    quint8 flags;
};

// The rule for a lower-case element name; an unknown element is a <span>.
const ElementRule* ruleFor(const QString& name);

// Attributes Qt's importer reads, by output element; every other attribute
// (event handlers, background, ...) is dropped.
bool attributeAllowed(QStringView element, QStringView attribute);

} // namespace mizong::page::markup
