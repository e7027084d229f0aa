#include "html_tree_builder_p.h"
#include "markup_output.h"

#include <algorithm>

// The tree builder's list of active formatting elements with the adoption
// agency algorithm, content too deep for the tree, and SVG and MathML.
namespace mizong::page::dom::tree {

using markup::isHtmlSpace;

// The list of active formatting elements ------------------------------------

bool Builder::sameElement(int a, int b) const
{
    const Node& x = m_doc.nodes[a];
    const Node& y = m_doc.nodes[b];
    if (x.name != y.name || x.ns != y.ns || x.attributes.size() != y.attributes.size())
        return false;
    for (const Attribute& attribute : x.attributes) {
        const QString* other = y.attribute(attribute.name);
        if (!other || *other != attribute.value)
            return false;
    }
    return true;
}

void Builder::pushFormatting(int node)
{
    // Noah's Ark: no more than three alike since the last marker.
    int alike = 0;
    int earliest = -1;
    for (int i = int(m_formatting.size()) - 1; i >= 0 && m_formatting[i] != kNone; --i) {
        if (sameElement(m_formatting[i], node)) {
            ++alike;
            earliest = i;
        }
    }
    if (alike >= 3) {
        m_listed[m_formatting[earliest]] = 0;
        m_formatting.erase(m_formatting.begin() + earliest);
    }
    m_formatting.push_back(node);
    m_listed[node] = 1;
}

void Builder::clearToMarker()
{
    while (!m_formatting.empty()) {
        const int entry = m_formatting.back();
        m_formatting.pop_back();
        if (entry == kNone)
            return;
        m_listed[entry] = 0;
    }
}

int Builder::formattingIndexOf(int node) const
{
    if (!m_listed[node])
        return -1;
    for (int i = int(m_formatting.size()) - 1; i >= 0; --i)
        if (m_formatting[i] == node)
            return i;
    return -1;
}

void Builder::removeFormatting(int node)
{
    const int i = formattingIndexOf(node);
    if (i < 0)
        return;
    m_formatting.erase(m_formatting.begin() + i);
    m_listed[node] = 0;
}

void Builder::reconstruct()
{
    if (m_formatting.empty())
        return;
    const auto open = [this](int entry) { return entry == kNone || m_onStack[entry]; };
    int i = int(m_formatting.size()) - 1;
    if (open(m_formatting[i]))
        return;
    while (i > 0 && !open(m_formatting[i - 1]))
        --i;
    for (; i < int(m_formatting.size()); ++i) {
        const int old = m_formatting[i];
        const Node& node = m_doc.nodes[old];
        if (int(m_open.size()) >= m_limits.maxDepth || m_elements >= m_limits.maxElements) {
            Tok tok;
            tok.kind = Tok::Start;
            tok.name = node.name;
            insertElement(tok); // dropped: too deep, or too many
            return;
        }
        const int element = createElement(Namespace::Html, m_tag[old], node.name, node.attributes);
        insertAt(element, appropriatePlace());
        push(element);
        m_listed[old] = 0;
        m_listed[element] = 1;
        m_formatting[i] = element;
    }
}

void Builder::anyOtherEndTag(const Tok& tok)
{
    // The topmost open element of the name, unless a special one is above it.
    const int position = topmost(tok.tag, tok.name);
    if (position < 0 || position < m_ends.back()[int(ScopeKind::Special)])
        return;
    impliedEndTags(tok.tag);
    while (int(m_open.size()) > position)
        pop();
}

// The adoption agency algorithm, as the HTML standard writes it.
void Builder::adoptionAgency(const Tok& tok)
{
    const int cur = current();
    if (isHtml(cur, tok.tag) && !m_listed[cur]) {
        pop();
        return;
    }
    for (int outer = 0; outer < 8; ++outer) {
        int formatting = kNone;
        for (int i = int(m_formatting.size()) - 1; i >= 0 && m_formatting[i] != kNone; --i) {
            if (isHtml(m_formatting[i], tok.tag)) {
                formatting = m_formatting[i];
                break;
            }
        }
        if (formatting == kNone) {
            anyOtherEndTag(tok);
            return;
        }
        const int feIndex = stackIndexOf(formatting);
        if (feIndex < 0) {
            removeFormatting(formatting);
            return;
        }
        if (!nodeInScope(formatting))
            return;
        int fbIndex = -1;
        for (int i = feIndex + 1; i < int(m_open.size()); ++i) {
            if (isSpecial(m_open[i])) {
                fbIndex = i;
                break;
            }
        }
        if (fbIndex < 0) {
            while (int(m_open.size()) > feIndex)
                pop();
            removeFormatting(formatting);
            return;
        }
        // The rest of a round makes up to four elements: past the cap, the
        // page ends here, as at any other element past it.
        if (m_elements + 4 > m_limits.maxElements) {
            m_doc.capped = true;
            m_stopped = true;
            return;
        }
        const int furthest = m_open[fbIndex];
        const int commonAncestor = m_open[feIndex - 1];
        int bookmarkAfter = kNone; // kNone: where the formatting element is
        int node = furthest;
        int lastNode = furthest;
        int nodeIndex = fbIndex;
        for (int inner = 1;; ++inner) {
            node = m_open[--nodeIndex];
            if (node == formatting)
                break;
            if (inner > 3 && m_listed[node])
                removeFormatting(node);
            if (!m_listed[node]) {
                removeFromStack(node);
                continue;
            }
            const Node& n = m_doc.nodes[node];
            const int element = createElement(Namespace::Html, m_tag[node], n.name, n.attributes);
            m_formatting[formattingIndexOf(node)] = element;
            m_listed[node] = 0;
            m_listed[element] = 1;
            replaceInStack(nodeIndex, element);
            node = element;
            if (lastNode == furthest)
                bookmarkAfter = element;
            detach(lastNode);
            insertAt(lastNode, {node});
            lastNode = node;
        }
        detach(lastNode);
        insertAt(lastNode, appropriatePlace(commonAncestor));
        const Node& fe = m_doc.nodes[formatting];
        const int element =
            createElement(Namespace::Html, m_tag[formatting], fe.name, fe.attributes);
        while (m_doc.nodes[furthest].firstChild != kNone) {
            const int child = m_doc.nodes[furthest].firstChild;
            detach(child);
            insertAt(child, {element});
        }
        insertAt(element, {furthest});
        if (bookmarkAfter == kNone) {
            m_formatting[formattingIndexOf(formatting)] = element;
        } else {
            removeFormatting(formatting);
            m_formatting.insert(m_formatting.begin() + formattingIndexOf(bookmarkAfter) + 1,
                                element);
        }
        m_listed[formatting] = 0;
        m_listed[element] = 1;
        removeFromStack(formatting);
        insertInStack(stackIndexOf(furthest) + 1, element);
    }
}

// Dropped content: too deep for the tree ---------------------------------

void Builder::dropToken(Tok& tok)
{
    if (tok.kind == Tok::Start) {
        if ((flagsOf(tok.tag) & Void) || tok.hasContent || tok.selfClosing)
            return;
        m_dropped.push_back(tok.name);
        ++m_droppedNames[tok.name];
        return;
    }
    if (tok.kind != Tok::End)
        return;
    // An end tag closes the innermost dropped element of its name and all
    // those inside it. One that closes an element of the tree ends them all,
    // so that an unclosed inline element does not take the rest of the page.
    if (m_droppedNames.value(tok.name) == 0) {
        if (std::none_of(m_open.cbegin(), m_open.cend(),
                         [&](int node) { return m_doc.nodes[node].name == tok.name; }))
            return;
        m_dropped.clear();
        m_droppedNames.clear();
        processToken(tok);
        return;
    }
    for (;;) {
        const QString name = std::move(m_dropped.back());
        m_dropped.pop_back();
        --m_droppedNames[name];
        if (name == tok.name)
            return;
    }
}

// Foreign content --------------------------------------------------------

bool Builder::htmlRulesFor(const Tok* tok) const
{
    const int node = current();
    if (node == kNone || m_doc.nodes[node].ns == Namespace::Html)
        return true;
    if (tok && tok->kind == Tok::Eof)
        return true;
    const bool start = tok && tok->kind == Tok::Start;
    if (isMathTextIntegrationPoint(node) &&
        (!tok || (start && tok->tag != k_mglyph && tok->tag != k_malignmark)))
        return true;
    if (start && tok->tag == k_svg && m_doc.nodes[node].ns == Namespace::MathMl &&
        m_tag[node] == k_annotation_xml)
        return true;
    return isHtmlIntegrationPoint(node) && (!tok || start);
}

void Builder::foreignCharacters(QStringView text)
{
    QString replaced = text.toString();
    replaced.replace(QChar(0), QChar(markup::kReplacement));
    if (std::any_of(replaced.cbegin(), replaced.cend(),
                    [](QChar c) { return !isHtmlSpace(c.unicode()); }))
        m_framesetOk = false;
    insertText(replaced, appropriatePlace());
}

// An HTML element in SVG or MathML ends them where browsers do.
void Builder::breakOut(Tok& tok)
{
    while (!m_open.empty()) {
        const int node = current();
        if (m_doc.nodes[node].ns == Namespace::Html || isMathTextIntegrationPoint(node) ||
            isHtmlIntegrationPoint(node))
            break;
        pop();
    }
    processInMode(tok);
}

void Builder::foreignStart(Tok& tok)
{
    const bool breakout =
        (flagsOf(tok.tag) & Breakout) ||
        (tok.tag == k_font &&
         std::any_of(tok.attributes.cbegin(), tok.attributes.cend(), [](const Attribute& a) {
             return a.name == u"color" || a.name == u"face" || a.name == u"size";
         }));
    if (breakout)
        return breakOut(tok);
    const Namespace ns = m_doc.nodes[current()].ns;
    const int element = insertElement(tok, ns);
    if (element != kNone && tok.selfClosing)
        pop();
}

void Builder::foreignEnd(Tok& tok)
{
    // The topmost SVG or MathML element of the name, unless an HTML element
    // is above it, which then takes the tag by the mode's rules.
    const int html = m_ends.back()[int(ScopeKind::Html)];
    const auto it = m_foreignOpen.constFind(tok.name);
    const int position =
        it == m_foreignOpen.constEnd() || it->empty() ? -1 : m_position[it->back()];
    if (position > html && position > 0) {
        while (int(m_open.size()) > position)
            pop();
        return;
    }
    if (html > 0)
        processInMode(tok);
}

} // namespace mizong::page::dom::tree
