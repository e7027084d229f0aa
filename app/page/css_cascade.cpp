#include "css_cascade.h"

#include "css_cascade_p.h"
#include "css_media.h"

#include <QHash>

#include <algorithm>
#include <list>
#include <map>

using namespace Qt::StringLiterals;

namespace mizong::page::css {

namespace {

// Where a declaration comes from, in the order it wins: the browser's
// normal ones lowest, its important ones highest.
enum Level : quint8
{
    DefaultNormal,
    Hints, // presentational attributes: author level, before every author rule
    AuthorNormal,
    InlineNormal,
    AuthorImportant,
    InlineImportant,
    DefaultImportant,
};

struct Block
{
    QList<Declaration> declarations;
    const QUrl* base = nullptr;
    bool author = false;
};

struct IndexedRule
{
    CompiledSelector selector;
    int block = 0;
    int order = 0;
    // Types, ids and classes some ancestor must have (AncestorFilter's keys).
    QList<quint32> ancestors;
};

enum KeyKind : quint32
{
    TypeKey = 1,
    IdKey = 2,
    ClassKey = 3,
};

quint32 keyHash(KeyKind kind, const QString& name)
{
    return quint32(qHash(name, kind));
}

// The types, ids and classes of the elements above the one being styled,
// counted in a small Bloom filter: a rule needing an ancestor that none of
// them can be is passed over without walking up the tree.
class AncestorFilter
{
public:
    void add(quint32 hash, int delta)
    {
        m_counts[hash & kMask] += delta;
        m_counts[(hash >> 12) & kMask] += delta;
    }
    bool mayContain(quint32 hash) const
    {
        return m_counts[hash & kMask] > 0 && m_counts[(hash >> 12) & kMask] > 0;
    }

private:
    static constexpr quint32 kMask = 4095;
    std::array<int, 4096> m_counts{};
};

// The keys of the compounds that must match an ancestor of the subject:
// those left of a descendant or child combinator.
QList<quint32> ancestorKeys(const CompiledSelector& s, bool quirks)
{
    QList<quint32> out;
    bool ancestor = false;
    for (qsizetype i = s.compounds.size() - 1; i > 0 && out.size() < 8; --i) {
        const Combinator c = s.compounds[i].combinator;
        ancestor = ancestor || c == Combinator::Descendant || c == Combinator::Child;
        if (!ancestor)
            continue;
        for (const CompiledSimple& simple : s.compounds[i - 1].simple) {
            using Kind = CompiledSimple::Kind;
            const QString key =
                quirks || simple.kind == Kind::Type ? simple.name.toLower() : simple.name;
            if (simple.kind == Kind::Type)
                out.append(keyHash(TypeKey, key));
            else if (simple.kind == Kind::Id)
                out.append(keyHash(IdKey, key));
            else if (simple.kind == Kind::Class)
                out.append(keyHash(ClassKey, key));
        }
    }
    return out;
}

struct Applied
{
    Level level;
    Specificity specificity;
    int order;
    const Declaration* declaration;
    const QUrl* base;
};

std::optional<WideKeyword> wideKeyword(Tokens value)
{
    if (value.size() != 1 || !value[0].is(TokenType::Ident))
        return std::nullopt;
    if (value[0].named(u"inherit"))
        return WideKeyword::Inherit;
    if (value[0].named(u"initial"))
        return WideKeyword::Initial;
    if (value[0].named(u"unset") || value[0].named(u"revert") || value[0].named(u"revert-layer"))
        return WideKeyword::Unset;
    return std::nullopt;
}

class RuleSet
{
public:
    RuleSet(const ViewMetrics& view, const CascadeLimits& limits, Cascaded& out)
        : m_view(view), m_limits(limits), m_out(out)
    {}

    void add(const QList<Rule>& rules, const QUrl* base, bool author)
    {
        for (const Rule& rule : rules) {
            if (rule.isAt()) {
                if (holds(rule))
                    add(parseRules(rule.block, rule.depth + 1), base, author);
                continue;
            }
            if (author && ++m_authorRules > m_limits.maxRules) {
                m_out.capped = true;
                continue;
            }
            styleRule(rule, base, author);
        }
    }

    // Rules whose rightmost compound could match `element`, by the keys
    // it is found under.
    void candidates(Matcher& matcher, const dom::Node& node, int element,
                    QList<const IndexedRule*>& out) const
    {
        out.clear();
        const auto take = [this, &out](const QList<int>* list) {
            if (list)
                for (int i : *list)
                    out.append(&m_rules[size_t(i)]);
        };
        take(&m_universal);
        take(find(m_tags, node.name.toLower()));
        if (const QString id = matcher.idOf(element); !id.isEmpty())
            take(find(m_ids, id));
        for (const QString& c : matcher.classesOf(element))
            take(find(m_classes, c));
    }

    const Block& block(int i) const { return m_blocks[size_t(i)]; }
    void setQuirks(bool quirks) { m_quirks = quirks; }

private:
    static const QList<int>* find(const QHash<QString, QList<int>>& hash, const QString& key)
    {
        const auto it = hash.constFind(key);
        return it == hash.cend() ? nullptr : &*it;
    }

    bool holds(const Rule& rule) const
    {
        if (!rule.hasBlock)
            return false;
        if (rule.atName.compare(u"media", Qt::CaseInsensitive) == 0)
            return matchesMedia(rule.prelude, m_view);
        return rule.atName.compare(u"supports", Qt::CaseInsensitive) == 0 &&
               supportsCondition(rule.prelude, m_view, m_limits.selectors);
    }

    void styleRule(const Rule& rule, const QUrl* base, bool author)
    {
        const std::optional<QList<Selector>> selectors =
            parseSelectorList(rule.prelude, m_limits.selectors);
        if (!selectors)
            return;
        QList<CompiledSelector> compiled;
        for (const Selector& s : *selectors) {
            std::optional<CompiledSelector> c = compileSelector(s, m_limits.selectors);
            if (!c)
                return; // one invalid selector drops the whole rule
            compiled.append(std::move(*c));
        }
        Block block{parseDeclarations(rule.block), base, author};
        if (block.declarations.isEmpty())
            return;
        m_blocks.push_back(std::move(block));
        const int order = m_order++;
        for (CompiledSelector& s : compiled) {
            const int index = int(m_rules.size());
            bucket(s).append(index);
            QList<quint32> ancestors = ancestorKeys(s, m_quirks);
            m_rules.push_back(
                {std::move(s), int(m_blocks.size() - 1), order, std::move(ancestors)});
        }
    }

    // Rules are found by their rightmost compound's id, else a class, else
    // its type, so that an element meets only those that could match it.
    QList<int>& bucket(const CompiledSelector& s)
    {
        using Kind = CompiledSimple::Kind;
        const CompiledCompound& last = s.compounds.back();
        const QString* cls = nullptr;
        const QString* type = nullptr;
        for (const CompiledSimple& simple : last.simple) {
            if (simple.kind == Kind::Id)
                return m_ids[m_quirks ? simple.name.toLower() : simple.name];
            if (simple.kind == Kind::Class && !cls)
                cls = &simple.name;
            if (simple.kind == Kind::Type)
                type = &simple.name;
        }
        if (cls)
            return m_classes[m_quirks ? cls->toLower() : *cls];
        if (type)
            return m_tags[type->toLower()];
        return m_universal;
    }

    const ViewMetrics& m_view;
    const CascadeLimits& m_limits;
    Cascaded& m_out;
    bool m_quirks = false;
    int m_authorRules = 0;
    int m_order = 0;
    std::vector<Block> m_blocks;
    std::vector<IndexedRule> m_rules;
    QHash<QString, QList<int>> m_ids;
    QHash<QString, QList<int>> m_classes;
    QHash<QString, QList<int>> m_tags;
    QList<int> m_universal;
};

class Styler
{
public:
    Styler(const dom::Document& document, const RuleSet& rules, const ViewMetrics& view,
           const CascadeLimits& limits, const QUrl& pageUrl, Cascaded& out)
        : m_document(document), m_rules(rules), m_view(view), m_pageUrl(pageUrl), m_out(out),
          m_matcher(document, limits.maxMatchSteps), m_custom(size_t(document.nodes.size())),
          m_lineFactor(size_t(document.nodes.size())), m_version(size_t(document.nodes.size()))
    {}

    void run()
    {
        const qsizetype n = m_document.nodes.size();
        m_out.styles.resize(n);
        if (n == 0)
            return;
        // Depth first in tree order, so that a parent is styled before its
        // children whatever the order of the nodes' array.
        int node = 0;
        while (node != dom::kNone) {
            styleNode(node);
            const dom::Node& current = m_document[node];
            if (current.firstChild != dom::kNone) {
                enter(node, 1);
                node = current.firstChild;
                continue;
            }
            while (node != dom::kNone && m_document[node].nextSibling == dom::kNone) {
                node = m_document[node].parent;
                if (node != dom::kNone)
                    enter(node, -1);
            }
            if (node != dom::kNone)
                node = m_document[node].nextSibling;
        }
        m_out.capped = m_out.capped || m_matcher.capped();
    }

private:
    // Counts `element` into the ancestor filter (1) or out of it (-1).
    void enter(int element, int delta)
    {
        const dom::Node& n = m_document[element];
        if (!n.isElement())
            return;
        m_ancestors.add(keyHash(TypeKey, n.name.toLower()), delta);
        if (const QString id = m_matcher.idOf(element); !id.isEmpty())
            m_ancestors.add(keyHash(IdKey, id), delta);
        for (const QString& c : m_matcher.classesOf(element))
            m_ancestors.add(keyHash(ClassKey, c), delta);
    }

    void styleNode(int node)
    {
        const dom::Node& n = m_document[node];
        const int parent = n.parent;
        if (!n.isElement()) {
            if (parent != dom::kNone)
                m_out.styles[node] = m_out.styles[parent];
            return;
        }
        const bool hasParent = parent != dom::kNone;
        ComputeContext context;
        context.parent = hasParent ? &m_out.styles[parent] : nullptr;
        context.parentLineFactor = hasParent ? m_lineFactor[size_t(parent)] : std::nullopt;
        context.rootFontSize = m_rootFontSize;
        context.view = m_view;
        const CustomProperties inheritedCustom =
            hasParent ? m_custom[size_t(parent)] : CustomProperties();

        std::vector<Applied> applied;
        collect(node, applied);
        std::stable_sort(applied.begin(), applied.end(), [](const Applied& a, const Applied& b) {
            if (a.level != b.level)
                return a.level < b.level;
            if (a.specificity != b.specificity)
                return a.specificity < b.specificity;
            return a.order < b.order;
        });

        bool ownCustom = false;
        CustomProperties custom = customProperties(applied, inheritedCustom, ownCustom);
        const int version = ownCustom ? ++m_versions : hasParent ? m_version[size_t(parent)] : 0;
        Computing c = startComputing(context);
        std::list<std::optional<std::vector<Token>>> substituted;
        std::optional<VarResolver> resolver;
        for (const bool fontPass : {true, false}) {
            for (const Applied& a : applied) {
                const Declaration& d = *a.declaration;
                if (d.isCustom() || isFontProperty(d.name) != fontPass)
                    continue;
                Tokens value = d.value;
                const bool viaVar = VarResolver::containsVar(value);
                if (viaVar) {
                    // What a rule gives under the same custom properties is
                    // substituted once: most elements have their parent's.
                    std::optional<std::vector<Token>>* v = nullptr;
                    if (a.level != InlineNormal && a.level != InlineImportant) {
                        const auto key = std::pair(a.declaration, version);
                        auto it = m_substitutions.find(key);
                        if (it == m_substitutions.end()) {
                            if (!resolver)
                                resolver.emplace(custom, nullptr, &m_varBudget);
                            it = m_substitutions.emplace(key, resolver->substitute(value)).first;
                        }
                        v = &it->second;
                    } else {
                        if (!resolver)
                            resolver.emplace(custom, nullptr, &m_varBudget);
                        v = &substituted.emplace_back(resolver->substitute(value));
                    }
                    if (!*v) {
                        // Invalid once substituted: as if unset.
                        applyWideKeyword(c, d.name, WideKeyword::Unset, context);
                        continue;
                    }
                    value = trimmed(Tokens(**v));
                }
                if (const std::optional<WideKeyword> k = wideKeyword(value)) {
                    applyWideKeyword(c, d.name, *k, context);
                    continue;
                }
                context.base = a.base ? *a.base : m_pageUrl;
                // A value invalid only once var() is substituted cannot be
                // dropped as a parse error: it is too late, and unsets.
                if (!applyDeclaration(c, d.name, value, context, fontPass) && viaVar)
                    applyWideKeyword(c, d.name, WideKeyword::Unset, context);
            }
        }
        finishComputing(c, context);
        if (node == m_document.html)
            m_rootFontSize = c.style.fontSize;
        m_lineFactor[size_t(node)] = c.lineFactor;
        m_custom[size_t(node)] = std::move(custom);
        m_version[size_t(node)] = version;
        m_out.styles[node] = std::move(c.style);
    }

    // The element's custom properties: its parent's, with its own over them,
    // their var()s resolved here, so that children inherit values.
    CustomProperties customProperties(const std::vector<Applied>& applied,
                                      const CustomProperties& inherited, bool& ownChanged)
    {
        CustomProperties own;
        QSet<QString> removed;
        for (const Applied& a : applied) {
            const Declaration& d = *a.declaration;
            if (!d.isCustom())
                continue;
            const std::optional<WideKeyword> k = wideKeyword(d.value);
            if (k == WideKeyword::Initial) {
                own.remove(d.name);
                removed.insert(d.name);
            } else if (k) {
                own.remove(d.name);
                removed.remove(d.name);
            } else {
                own[d.name] = std::vector<Token>(d.value.begin(), d.value.end());
                removed.remove(d.name);
            }
        }
        if (own.isEmpty() && removed.isEmpty())
            return inherited;
        ownChanged = true;
        CustomProperties out = inherited;
        for (const QString& name : removed)
            out.remove(name);
        // Values without var() are taken as written, at no cost to the
        // page's budget; the others are resolved against the rest.
        QHash<QString, std::optional<std::vector<Token>>> resolved;
        std::optional<VarResolver> resolver;
        for (auto it = own.cbegin(); it != own.cend(); ++it) {
            if (!VarResolver::containsVar(it.value())) {
                resolved.insert(it.key(), it.value());
                continue;
            }
            if (!resolver)
                resolver.emplace(out, &own, &m_varBudget);
            const std::vector<Token>* v = resolver->property(it.key());
            resolved.insert(it.key(), v ? std::optional(*v) : std::nullopt);
        }
        for (auto it = resolved.cbegin(); it != resolved.cend(); ++it) {
            if (it.value())
                out.insert(it.key(), *it.value());
            else
                out.remove(it.key());
        }
        return out;
    }

    void add(std::vector<Applied>& applied, const QList<Declaration>& list, Level normal,
             Level important, Specificity specificity, int order, const QUrl* base)
    {
        for (const Declaration& d : list)
            applied.push_back({d.important ? important : normal, specificity, order, &d, base});
    }

    void collect(int element, std::vector<Applied>& applied)
    {
        const dom::Node& node = m_document[element];
        m_rules.candidates(m_matcher, node, element, m_candidates);
        for (const IndexedRule* rule : m_candidates) {
            const Block& b = m_rules.block(rule->block);
            // Past the cap the page's rules match nothing more.
            if (b.author && m_matcher.capped())
                continue;
            m_matcher.setBounded(b.author);
            const bool possible =
                std::all_of(rule->ancestors.begin(), rule->ancestors.end(),
                            [this](quint32 key) { return m_ancestors.mayContain(key); });
            if (!possible || !m_matcher.matches(rule->selector, element))
                continue;
            add(applied, b.declarations, b.author ? AuthorNormal : DefaultNormal,
                b.author ? AuthorImportant : DefaultImportant, rule->selector.specificity,
                rule->order, b.base);
        }
        // Both lists live until the element is styled.
        const QString hints = presentationalHints(m_document, element, m_pageUrl);
        m_hints.clear();
        m_hintStorage.clear();
        if (!hints.isEmpty()) {
            m_hints = parseDeclarations(hints, m_hintStorage);
            for (Declaration& d : m_hints)
                d.important = false;
            add(applied, m_hints, Hints, Hints, 0, 0, nullptr);
        }
        m_inline.clear();
        m_inlineStorage.clear();
        if (const QString* style = node.attribute(u"style")) {
            m_inline = parseDeclarations(*style, m_inlineStorage);
            add(applied, m_inline, InlineNormal, InlineImportant, 0, 0, nullptr);
        }
    }

    const dom::Document& m_document;
    const RuleSet& m_rules;
    const ViewMetrics& m_view;
    const QUrl& m_pageUrl;
    Cascaded& m_out;
    Matcher m_matcher;
    std::vector<CustomProperties> m_custom;
    std::vector<std::optional<qreal>> m_lineFactor;
    // Which set of custom properties each element has: the same number as
    // its parent's when it declares none.
    std::vector<int> m_version;
    AncestorFilter m_ancestors;
    int m_versions = 0;
    std::map<std::pair<const Declaration*, int>, std::optional<std::vector<Token>>> m_substitutions;
    qreal m_rootFontSize = 16;
    qsizetype m_varBudget = kVarBudget;
    QList<const IndexedRule*> m_candidates;
    QList<Declaration> m_hints;
    std::vector<Token> m_hintStorage;
    QList<Declaration> m_inline;
    std::vector<Token> m_inlineStorage;
};

} // namespace

bool supportsCondition(Tokens condition, const ViewMetrics& view, const SelectorLimits& limits)
{
    return evaluateSupports(
        condition,
        [&view](const QString& name, Tokens value) {
            if (VarResolver::containsVar(value) || wideKeyword(value))
                return isKnownProperty(name);
            Computing scratch;
            ComputeContext context;
            context.view = view;
            return applyDeclaration(scratch, name, value, context, isFontProperty(name));
        },
        [&limits](Tokens selector) {
            const std::optional<QList<Selector>> list = parseSelectorList(selector, limits);
            return list && list->size() == 1 && compileSelector(list->front(), limits).has_value();
        });
}

Cascaded cascade(const dom::Document& document, const QList<AuthorSheet>& sheets,
                 const ViewMetrics& view, const CascadeLimits& limits, const QUrl& pageUrl)
{
    Cascaded out;
    RuleSet rules(view, limits, out);
    rules.setQuirks(document.quirks);
    rules.add(defaultStyleSheet().rules, nullptr, false);
    if (document.quirks)
        rules.add(quirksStyleSheet().rules, nullptr, false);
    // Parsed sheets own the tokens their declarations refer to.
    std::vector<StyleSheet> parsed;
    parsed.reserve(size_t(sheets.size()));
    for (const AuthorSheet& sheet : sheets) {
        parsed.push_back(parseStyleSheet(sheet.text));
        rules.add(parsed.back().rules, &sheet.base, true);
    }
    Styler(document, rules, view, limits, pageUrl, out).run();
    return out;
}

} // namespace mizong::page::css
