#pragma once

#include "css_syntax.h"

#include <QList>
#include <QString>

#include <optional>

// Selectors as a qualified rule's prelude writes them (Selectors Level 4's
// grammar, without namespaces): parsed only, never matched here. Whether a
// pseudo-class is one the reader knows is the reader's question.
namespace mizong::page::css {

enum class Combinator : quint8
{
    Descendant,
    Child,             // >
    NextSibling,       // +
    SubsequentSibling, // ~
};

enum class AttributeMatch : quint8
{
    Exists,
    Equals,    // =
    Includes,  // ~=
    DashMatch, // |=
    Prefix,    // ^=
    Suffix,    // $=
    Substring, // *=
};

struct SimpleSelector
{
    enum class Kind : quint8
    {
        Type, // name lowered
        Universal,
        Id,
        Class,
        Attribute,     // name lowered
        PseudoClass,   // name lowered
        PseudoElement, // name lowered
    };
    Kind kind = Kind::Universal;
    QString name;
    // Attribute: the value matched, and its "i" flag.
    QString value;
    AttributeMatch match = AttributeMatch::Exists;
    bool caseInsensitive = false;
    // A functional pseudo-class or element, and its arguments.
    bool functional = false;
    Tokens arguments;
};

struct CompoundSelector
{
    // How it relates to the compound before it (the first one's is unused).
    Combinator combinator = Combinator::Descendant;
    QList<SimpleSelector> simple;
};

struct Selector
{
    QList<CompoundSelector> compounds;
};

struct SelectorLimits
{
    // Matching costs grow with each; a rule beyond them is dropped.
    int maxSelectors = 64; // per rule
    int maxCompounds = 16; // per selector
    int maxSimple = 16;    // per compound
};

// A rule's selector list, or nothing when any selector in it is invalid
// (the whole rule is dropped then, as the standard says).
std::optional<QList<Selector>> parseSelectorList(Tokens prelude, const SelectorLimits& limits = {});

} // namespace mizong::page::css
