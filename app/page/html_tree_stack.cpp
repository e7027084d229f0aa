#include "html_tree_builder_p.h"

#include <algorithm>

// The tree builder's stack of open elements, kept with each element's
// position, the open elements by name and, per position, the nearest element
// below that ends each kind of search: so that no end tag, scope check or
// foster parenting walks a deep stack.
namespace mizong::page::dom::tree {

// The stack of open elements ------------------------------------------------

bool Builder::isHtml(int node, Tag tag) const
{
    return node != kNone && m_tag[node] == tag && m_doc.nodes[node].ns == Namespace::Html;
}

bool Builder::isHtmlIn(int node, quint16 flags) const
{
    return node != kNone && m_doc.nodes[node].ns == Namespace::Html &&
           (flagsOf(m_tag[node]) & flags) != 0;
}

bool Builder::isSpecial(int node) const
{
    const Node& n = m_doc.nodes[node];
    const Tag t = m_tag[node];
    switch (n.ns) {
    case Namespace::Html:
        return flagsOf(t) & Special;
    case Namespace::MathMl:
        return t == k_mi || t == k_mo || t == k_mn || t == k_ms || t == k_mtext ||
               t == k_annotation_xml;
    case Namespace::Svg:
        return t == k_foreignobject || t == k_desc || t == k_title;
    }
    return false;
}

bool Builder::isHtmlIntegrationPoint(int node) const
{
    return m_integration[node];
}

bool Builder::isMathTextIntegrationPoint(int node) const
{
    const Tag t = m_tag[node];
    return m_doc.nodes[node].ns == Namespace::MathMl &&
           (t == k_mi || t == k_mo || t == k_mn || t == k_ms || t == k_mtext);
}

// Inserts an element for the token where it belongs and opens it; kNone when
// it is too deep, and then it and its content are dropped.
int Builder::insertElement(const Tok& tok, Namespace ns)
{
    const bool root = tok.tag == k_html || tok.tag == k_head || tok.tag == k_body;
    if (!root && m_elements >= m_limits.maxElements) {
        m_stopped = true;
        m_doc.capped = true;
        return kNone;
    }
    if (!root && int(m_open.size()) >= m_limits.maxDepth) {
        m_doc.capped = true;
        Tok start = tok;
        start.kind = Tok::Start;
        dropToken(start);
        return kNone;
    }
    QString name = tok.name;
    QList<Attribute> attributes = tok.attributes;
    if (ns == Namespace::Svg) {
        name = svgElementName(name);
        for (Attribute& a : attributes)
            a.name = svgAttributeName(a.name);
    } else if (ns == Namespace::MathMl) {
        for (Attribute& a : attributes)
            a.name = mathAttributeName(a.name);
    }
    const int element = createElement(ns, tok.tag, name, std::move(attributes));
    insertAt(element, appropriatePlace());
    if (isHtml(element, k_template_))
        contentsOf(element);
    push(element);
    return element;
}

// An element the markup implies (html, head, body, p, tbody, tr, colgroup).
int Builder::insertHtml(Tag tag)
{
    Tok tok;
    tok.kind = Tok::Start;
    tok.tag = tag;
    tok.name = nameOf(tag).toString();
    return insertElement(tok);
}

void Builder::push(int node)
{
    m_open.push_back(node);
    m_onStack[node] = 1;
    if (isHtml(node, k_template_))
        ++m_templates;
    openOfName(node).push_back(node);
    stackChanged(int(m_open.size()) - 1);
}

void Builder::pop()
{
    const int node = m_open.back();
    m_open.pop_back();
    m_ends.pop_back();
    m_onStack[node] = 0;
    if (isHtml(node, k_template_))
        --m_templates;
    openOfName(node).pop_back();
}

std::vector<int>& Builder::openOfName(int node)
{
    const Node& n = m_doc.nodes[node];
    if (n.ns != Namespace::Html)
        return m_foreignOpen[n.name.toLower()];
    if (m_tag[node] != kOther)
        return m_htmlOpen[m_tag[node]];
    return m_otherOpen[n.name];
}

// The position of the topmost open HTML element of the tag (or name, for an
// unknown one), -1 for none.
int Builder::topmost(Tag tag, const QString& name) const
{
    const std::vector<int>* open = &m_htmlOpen[tag];
    if (tag == kOther) {
        const auto it = m_otherOpen.constFind(name);
        if (it == m_otherOpen.constEnd())
            return -1;
        open = &*it;
    }
    return open->empty() ? -1 : m_position[open->back()];
}

void Builder::stackChanged(int from)
{
    m_ends.resize(m_open.size());
    for (int i = from; i < int(m_open.size()); ++i) {
        const int node = m_open[i];
        m_position[node] = i;
        std::array<int, kScopeKinds> ends;
        if (i > 0)
            ends = m_ends[i - 1];
        else
            ends.fill(-1);
        for (int kind = 0; kind < kScopeKinds; ++kind)
            if (boundary(node, ScopeKind(kind)))
                ends[kind] = i;
        m_ends[i] = ends;
    }
}

void Builder::replaceInStack(int index, int node)
{
    const int old = m_open[index];
    std::vector<int>& named = openOfName(old);
    *std::find(named.begin(), named.end(), old) = node;
    m_onStack[old] = 0;
    m_onStack[node] = 1;
    m_open[index] = node;
    stackChanged(index);
}

void Builder::insertInStack(int index, int node)
{
    m_open.insert(m_open.begin() + index, node);
    m_onStack[node] = 1;
    stackChanged(index);
    std::vector<int>& named = openOfName(node);
    named.insert(std::find_if(named.begin(), named.end(),
                              [this, index](int other) { return m_position[other] > index; }),
                 node);
}

void Builder::popUntil(Tag tag)
{
    while (!m_open.empty()) {
        const bool last = isHtml(current(), tag);
        pop();
        if (last)
            return;
    }
}

void Builder::popUntilHeading()
{
    while (!m_open.empty()) {
        const bool last = isHtmlIn(current(), Heading);
        pop();
        if (last)
            return;
    }
}

void Builder::removeFromStack(int node)
{
    const int i = stackIndexOf(node);
    if (i < 0)
        return;
    m_open.erase(m_open.begin() + i);
    m_onStack[node] = 0;
    if (isHtml(node, k_template_))
        --m_templates;
    std::vector<int>& named = openOfName(node);
    named.erase(std::find(named.begin(), named.end(), node));
    stackChanged(i);
}

int Builder::stackIndexOf(int node) const
{
    return m_onStack[node] ? m_position[node] : -1;
}

bool Builder::boundary(int node, ScopeKind kind) const
{
    const Node& n = m_doc.nodes[node];
    const Tag t = m_tag[node];
    switch (kind) {
    case ScopeKind::Table:
        return n.ns == Namespace::Html && (t == k_html || t == k_table || t == k_template_);
    case ScopeKind::Select:
        return !(n.ns == Namespace::Html && (t == k_optgroup || t == k_option));
    case ScopeKind::ListItem:
        if (n.ns == Namespace::Html && (t == k_ol || t == k_ul))
            return true;
        break;
    case ScopeKind::Button:
        if (n.ns == Namespace::Html && t == k_button)
            return true;
        break;
    case ScopeKind::Special:
        return isSpecial(node);
    case ScopeKind::Html:
        return n.ns == Namespace::Html;
    case ScopeKind::Default:
        break;
    }
    if (n.ns == Namespace::Html)
        return flagsOf(t) & Scope;
    return isSpecial(node); // MathML's and SVG's scope ends are their special elements
}

// Whether the tag (kOther: any heading) is open above the nearest boundary.
bool Builder::inScope(Tag tag, ScopeKind kind) const
{
    int position = -1;
    if (tag == kOther) {
        for (Tag heading : {k_h1, k_h2, k_h3, k_h4, k_h5, k_h6})
            position = std::max(position, topmost(heading, {}));
    } else {
        position = topmost(tag, {});
    }
    return position >= 0 && position >= m_ends.back()[int(kind)];
}

bool Builder::nodeInScope(int node) const
{
    return m_onStack[node] && m_position[node] >= m_ends.back()[int(ScopeKind::Default)];
}

} // namespace mizong::page::dom::tree
