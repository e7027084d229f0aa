#pragma once

#include "computed_style.h"
#include "css_selectors.h"
#include "css_syntax.h"
#include "css_values.h"
#include "document_tree.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

// Internal to mizong_page_markup: css_cascade.h is the interface. What the
// cascade is made of: selectors compiled and matched against the document
// tree, the default style sheet and presentational attributes, and declared
// values turned into computed ones.
namespace mizong::page::css {

// --- Selectors (css_matching.cpp) ---

// (ids, classes and pseudo-classes, types) packed so that they compare as
// one number; each count saturates at 1023.
using Specificity = quint32;

struct CompiledSelector;

struct CompiledSimple
{
    enum class Kind : quint8
    {
        Type,
        Universal,
        Id,
        Class,
        Attribute,
        Root,
        Empty,
        Link,
        Checked,
        Disabled,
        Enabled,
        NthChild, // also :first-child and :last-child, by a, b and `fromEnd`
        NthOfType,
        OnlyChild,
        OnlyOfType,
        Not,
        Is,   // :is(), :where(), :matches()
        Lang, // its ranges in `value`, separated by commas
        Never,
    };
    Kind kind = Kind::Universal;
    AttributeMatch match = AttributeMatch::Exists;
    bool caseInsensitive = false;
    bool fromEnd = false;
    int a = 0;
    int b = 0;
    QString name;
    QString value;
    QList<CompiledSelector> arguments; // :not, :is, nth-child's "of S"
};

struct CompiledCompound
{
    Combinator combinator = Combinator::Descendant;
    QList<CompiledSimple> simple;
};

struct CompiledSelector
{
    QList<CompiledCompound> compounds;
    Specificity specificity = 0;
};

// A selector ready to match, or nothing when it is invalid (an unknown
// pseudo-class, a malformed argument), which drops its whole rule.
std::optional<CompiledSelector> compileSelector(const Selector& selector,
                                                const SelectorLimits& limits, int depth = 0);

// Sibling positions, computed once for the whole tree.
struct Positions
{
    int index = 0;     // among element siblings, from 1
    int count = 0;     // element siblings, itself included
    int typeIndex = 0; // among siblings of its type, from 1
    int typeCount = 0;
};

class Matcher
{
public:
    Matcher(const dom::Document& document, qint64 maxSteps);

    bool matches(const CompiledSelector& selector, int element);
    // The keys an element is found under in a rule index.
    QString idOf(int element) const;
    const QStringList& classesOf(int element) const;
    QString key(QStringView name) const
    {
        return m_document.quirks ? name.toString().toLower() : name.toString();
    }
    bool capped() const { return m_steps > m_maxSteps; }
    // Whether the cap applies: not to the default sheet, whose rules are few
    // and fixed, so that a page past it keeps the browser's own layout.
    void setBounded(bool bounded) { m_bounded = bounded; }

private:
    enum class Result : quint8
    {
        Matches,
        FailsLocally,
        FailsAllSiblings,
        FailsCompletely,
    };
    Result matchFrom(const CompiledSelector& s, qsizetype compound, int element);
    bool matchCompound(const CompiledCompound& c, int element);
    bool matchSimple(const CompiledSimple& s, int element);
    bool nthMatches(const CompiledSimple& s, int element);
    int previousElement(int node) const;
    int nextElement(int node) const;

    const dom::Document& m_document;
    std::vector<Positions> m_positions;
    mutable std::vector<std::optional<QStringList>> m_classes;
    qint64 m_steps = 0;
    qint64 m_maxSteps;
    bool m_bounded = true;
};

// --- The browser's own style (css_default_style.cpp) ---

// The default style sheet, parsed once for the process; quirks mode's rules
// come in a second sheet.
const StyleSheet& defaultStyleSheet();
const StyleSheet& quirksStyleSheet();

// The presentational attributes of `element` as declarations (CSS text),
// empty when it has none; `pageUrl` resolves background images.
QString presentationalHints(const dom::Document& document, int element, const QUrl& pageUrl);

// The HTML standard's rules for parsing a legacy colour value.
std::optional<Color> parseLegacyColor(QStringView value);

// --- Computing values (css_computed.cpp) ---

// What an element's values are computed against, besides its parent.
struct ComputeContext
{
    const ComputedStyle* parent = nullptr;
    qreal rootFontSize = 16;
    ViewMetrics view;
    QUrl base; // what the declaration's url()s resolve against
    // An inherited line-height written as a number, which each element
    // multiplies by its own font size.
    std::optional<qreal> parentLineFactor;
};

// The per-element state between declarations: what the computed style alone
// cannot keep until all declarations are in.
struct Computing
{
    ComputedStyle style;
    std::optional<qreal> lineFactor;
    std::array<qreal, 4> borderWidth{3, 3, 3, 3};
    quint8 ownDecoration = 0;
    std::optional<Color> decorationColor;
    // line-height as last declared, computed once the font size is known.
    std::optional<Tokens> pendingLineHeight;
};

// A style with the parent's inherited values and the initial others.
Computing startComputing(const ComputeContext& context);

// Applies one declaration of `name` (lowered) to `c`; false (nothing
// changed) when the value is invalid for it. With `fontPass` only the
// properties others are computed against (font-size, font), without it only
// the others.
bool applyDeclaration(Computing& c, const QString& name, Tokens value,
                      const ComputeContext& context, bool fontPass);

enum class WideKeyword : quint8
{
    Inherit,
    Initial,
    Unset,
};

// inherit, initial or unset (revert is read as unset) for a property and,
// for a shorthand, each of its longhands; false for an unknown property.
bool applyWideKeyword(Computing& c, const QString& name, WideKeyword keyword,
                      const ComputeContext& context);

// Whether a property is known here, and whether it is a font pass one.
bool isKnownProperty(const QString& name);
bool isFontProperty(const QString& name);

// After every declaration: border widths of sides without a style, colours
// written as currentColor, decorations carried down from the parent.
void finishComputing(Computing& c, const ComputeContext& context);

// @supports conditions (css_supports.cpp): `declaration` and `selector` say
// whether a name and value, or a selector() argument, are supported.
bool evaluateSupports(Tokens condition,
                      const std::function<bool(const QString& name, Tokens value)>& declaration,
                      const std::function<bool(Tokens selector)>& selector);

// Whether the cascade supports a condition (an @supports prelude, an
// @import's supports()): a declaration it computes for `view`, a selector()
// it matches.
bool supportsCondition(Tokens condition, const ViewMetrics& view,
                       const SelectorLimits& limits = {});

} // namespace mizong::page::css
