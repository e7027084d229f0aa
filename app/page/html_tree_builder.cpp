#include "character_references.h"
#include "html_tokenizer.h"
#include "html_tree_builder_p.h"
#include "markup_output.h"

#include <QSet>

#include <algorithm>

namespace mizong::page::dom {

namespace tree {

using markup::isHtmlSpace;

namespace {

QList<Attribute> attributesOf(const markup::Token& token)
{
    QList<Attribute> out;
    out.reserve(token.attributes.size());
    QSet<QString> seen; // only for long lists, which a plain search would make quadratic
    const bool many = token.attributes.size() > 16;
    for (const markup::Attribute& a : token.attributes) {
        QString name = markup::lowered(a.name);
        const bool duplicate =
            many ? seen.contains(name)
                 : std::any_of(out.cbegin(), out.cend(),
                               [&name](const Attribute& b) { return b.name == name; });
        if (duplicate)
            continue;
        if (many)
            seen.insert(name);
        QString value;
        appendDecoded(value, a.value, true);
        value.replace(QChar(0), QChar(markup::kReplacement));
        out.append({std::move(name), std::move(value)});
    }
    return out;
}

// CR LF and CR become LF, as the standard's input stream has it.
QString normalizedNewlines(QStringView in)
{
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == u'\r') {
            out += u'\n';
            if (i + 1 < in.size() && in[i + 1] == u'\n')
                ++i;
        } else {
            out += in[i];
        }
    }
    return out;
}

} // namespace

Builder::Builder(Document& doc, const TreeLimits& limits) : m_doc(doc), m_limits(limits)
{
    newNode(Node::Type::Document);
}

void Builder::run(QStringView html)
{
    if (html.size() > m_limits.maxChars) {
        qsizetype cut = std::max<qsizetype>(0, m_limits.maxChars);
        if (cut > 0 && html[cut - 1].isHighSurrogate())
            --cut;
        html = html.first(cut);
        m_doc.capped = true;
    }
    const QString input = normalizedNewlines(html);
    QStringView rest(input);
    const Doctype doctype = readDoctype(rest);
    m_doc.quirks = doctype.quirks;
    if (doctype.end > 0) {
        rest = rest.sliced(doctype.end);
        m_mode = Mode::BeforeHtml;
    }
    markup::Tokenizer tokenizer(rest);
    markup::Token token;
    Tok tok;
    for (;;) {
        const int node = current();
        tokenizer.setForeign(node != kNone && m_doc.nodes[node].ns != Namespace::Html &&
                             !isHtmlIntegrationPoint(node) && !isMathTextIntegrationPoint(node));
        if (!tokenizer.next(token))
            break;
        if (m_stopped || m_elements >= m_limits.maxElements) {
            m_doc.capped = true;
            break;
        }
        const bool skipNewline = std::exchange(m_skipNewline, false);
        if (token.type == markup::Token::Text) {
            QString text;
            if (token.hasContent)
                text = token.text.toString();
            else
                appendDecoded(text, token.text, false);
            QStringView view(text);
            if (skipNewline && view.startsWith(u'\n'))
                view = view.sliced(1);
            if (!dropping())
                processCharacters(view);
            continue;
        }
        tok.kind = token.type == markup::Token::StartTag ? Tok::Start : Tok::End;
        tok.name = token.name;
        tok.name.replace(QChar(0), QChar(markup::kReplacement));
        tok.tag = tagOf(tok.name);
        tok.attributes = tok.kind == Tok::Start ? attributesOf(token) : QList<Attribute>{};
        tok.selfClosing = token.selfClosing;
        tok.hasContent = token.hasContent;
        tok.content = token.text;
        if (!m_dropped.empty())
            dropToken(tok);
        else
            processToken(tok);
    }
    if (!m_stopped && !dropping()) {
        tok = Tok{};
        processToken(tok);
    }
    finish();
}

// The tree ---------------------------------------------------------------

int Builder::newNode(Node::Type type)
{
    Node node;
    node.type = type;
    m_doc.nodes.append(std::move(node));
    m_tag.push_back(kOther);
    m_onStack.push_back(0);
    m_listed.push_back(0);
    m_integration.push_back(0);
    return int(m_doc.nodes.size() - 1);
}

int Builder::createElement(Namespace ns, Tag tag, QString name, QList<Attribute> attributes)
{
    const int index = newNode(Node::Type::Element);
    Node& node = m_doc.nodes[index];
    node.ns = ns;
    node.name = std::move(name);
    node.attributes = std::move(attributes);
    m_tag[index] = tag;
    ++m_elements;
    if (ns == Namespace::Svg) {
        m_integration[index] = tag == k_foreignobject || tag == k_desc || tag == k_title;
    } else if (ns == Namespace::MathMl && tag == k_annotation_xml) {
        const QString* encoding = node.attribute(u"encoding");
        m_integration[index] =
            encoding && (encoding->compare(u"text/html", Qt::CaseInsensitive) == 0 ||
                         encoding->compare(u"application/xhtml+xml", Qt::CaseInsensitive) == 0);
    }
    return index;
}

void Builder::insertAt(int index, Place place)
{
    QList<Node>& nodes = m_doc.nodes;
    Node& node = nodes[index];
    node.parent = place.parent;
    Node& parent = nodes[place.parent];
    if (place.before == kNone) {
        node.previousSibling = parent.lastChild;
        node.nextSibling = kNone;
        if (parent.lastChild != kNone)
            nodes[parent.lastChild].nextSibling = index;
        else
            parent.firstChild = index;
        parent.lastChild = index;
        return;
    }
    Node& before = nodes[place.before];
    node.nextSibling = place.before;
    node.previousSibling = before.previousSibling;
    if (before.previousSibling != kNone)
        nodes[before.previousSibling].nextSibling = index;
    else
        parent.firstChild = index;
    before.previousSibling = index;
}

void Builder::detach(int index)
{
    QList<Node>& nodes = m_doc.nodes;
    Node& node = nodes[index];
    if (node.parent == kNone)
        return;
    Node& parent = nodes[node.parent];
    if (node.previousSibling != kNone)
        nodes[node.previousSibling].nextSibling = node.nextSibling;
    else
        parent.firstChild = node.nextSibling;
    if (node.nextSibling != kNone)
        nodes[node.nextSibling].previousSibling = node.previousSibling;
    else
        parent.lastChild = node.previousSibling;
    node.parent = node.previousSibling = node.nextSibling = kNone;
}

void Builder::insertText(QStringView text, Place place)
{
    if (text.isEmpty())
        return;
    const Node& parent = m_doc.nodes[place.parent];
    if (parent.type == Node::Type::Document)
        return;
    // Text next to text joins it, as the DOM does.
    const int previous =
        place.before == kNone ? parent.lastChild : m_doc.nodes[place.before].previousSibling;
    if (previous != kNone && m_doc.nodes[previous].type == Node::Type::Text) {
        m_doc.nodes[previous].text += text;
        return;
    }
    const int index = newNode(Node::Type::Text);
    m_doc.nodes[index].text = text.toString();
    insertAt(index, place);
}

Place Builder::appropriatePlace(int target) const
{
    if (target == kNone)
        target = current();
    if (target == kNone)
        return {0}; // <html> goes to the document
    if (m_foster && (isHtml(target, k_table) || isHtml(target, k_tbody) ||
                     isHtml(target, k_tfoot) || isHtml(target, k_thead) || isHtml(target, k_tr))) {
        int lastTemplate = -1;
        int lastTable = -1;
        for (int i = int(m_open.size()) - 1; i >= 0 && (lastTable < 0 || lastTemplate < 0); --i) {
            if (lastTable < 0 && isHtml(m_open[i], k_table))
                lastTable = i;
            if (lastTemplate < 0 && isHtml(m_open[i], k_template_))
                lastTemplate = i;
        }
        if (lastTemplate >= 0 && (lastTable < 0 || lastTemplate > lastTable))
            return {m_contents.value(m_open[lastTemplate])};
        if (lastTable < 0)
            return {m_open.front()};
        const int table = m_open[lastTable];
        if (m_doc.nodes[table].parent != kNone)
            return {m_doc.nodes[table].parent, table};
        return {m_open[lastTable - 1]};
    }
    if (isHtml(target, k_template_))
        return {m_contents.value(target)};
    return {target};
}

int Builder::contentsOf(int templateElement)
{
    const int fragment = newNode(Node::Type::Document);
    m_contents.insert(templateElement, fragment);
    m_detached = true;
    return fragment;
}

void Builder::addMissingAttributes(int element, const QList<Attribute>& attributes)
{
    QSet<QString> present;
    for (const Attribute& a : m_doc.nodes[element].attributes)
        present.insert(a.name);
    for (const Attribute& a : attributes)
        if (!present.contains(a.name))
            m_doc.nodes[element].attributes.append(a);
}

void Builder::finish()
{
    if (m_mode == Mode::InTableText)
        flushTableText();
    QList<Node>& nodes = m_doc.nodes;
    if (m_doc.html == kNone) {
        m_doc.html = createElement(Namespace::Html, k_html, QStringLiteral("html"), {});
        insertAt(m_doc.html, {0});
    }
    if (m_doc.head == kNone) {
        m_doc.head = createElement(Namespace::Html, k_head, QStringLiteral("head"), {});
        insertAt(m_doc.head, {m_doc.html, nodes[m_doc.html].firstChild});
    }
    if (m_doc.body == kNone) {
        m_doc.body = createElement(Namespace::Html, k_body, QStringLiteral("body"), {});
        insertAt(m_doc.body, {m_doc.html});
    }
    if (m_detached)
        compact();
}

// Drops the nodes outside the tree (template contents, a body a frameset
// replaced), so that whoever walks the array sees only the document's.
void Builder::compact()
{
    const QList<Node>& old = m_doc.nodes;
    std::vector<int> renumber(old.size(), kNone);
    QList<Node> kept;
    kept.reserve(old.size());
    // Document order, without recursion: pages nest deep.
    for (int n = 0; n != kNone;) {
        renumber[n] = int(kept.size());
        kept.append(old[n]);
        if (old[n].firstChild != kNone) {
            n = old[n].firstChild;
            continue;
        }
        while (n != kNone && old[n].nextSibling == kNone)
            n = old[n].parent;
        if (n != kNone)
            n = old[n].nextSibling;
    }
    const auto map = [&renumber](int& i) {
        if (i != kNone)
            i = renumber[i];
    };
    for (Node& node : kept) {
        map(node.parent);
        map(node.firstChild);
        map(node.lastChild);
        map(node.previousSibling);
        map(node.nextSibling);
    }
    map(m_doc.html);
    map(m_doc.head);
    map(m_doc.body);
    m_doc.nodes = std::move(kept);
}

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

int Builder::insertHtml(Tag tag)
{
    Tok tok;
    tok.kind = Tok::Start;
    tok.tag = tag;
    tok.name = tag == k_template_ ? QStringLiteral("template") : QString();
    static const char* const names[] = {"html", "head", "body", "p", "tbody", "tr", "colgroup"};
    static const Tag tags[] = {k_html, k_head, k_body, k_p, k_tbody, k_tr, k_colgroup};
    for (size_t i = 0; i < std::size(tags); ++i)
        if (tags[i] == tag)
            tok.name = QString::fromLatin1(names[i]);
    return insertElement(tok);
}

void Builder::push(int node)
{
    m_open.push_back(node);
    m_onStack[node] = 1;
    if (isHtml(node, k_template_))
        ++m_templates;
}

void Builder::pop()
{
    const int node = m_open.back();
    m_open.pop_back();
    m_onStack[node] = 0;
    if (isHtml(node, k_template_))
        --m_templates;
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
}

int Builder::stackIndexOf(int node) const
{
    if (!m_onStack[node])
        return -1;
    for (int i = int(m_open.size()) - 1; i >= 0; --i)
        if (m_open[i] == node)
            return i;
    return -1;
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
    case ScopeKind::Default:
        break;
    }
    if (n.ns == Namespace::Html)
        return flagsOf(t) & Scope;
    return isSpecial(node); // MathML's and SVG's scope ends are their special elements
}

bool Builder::inScope(Tag tag, ScopeKind kind) const
{
    for (auto it = m_open.rbegin(); it != m_open.rend(); ++it) {
        if (tag == kOther ? isHtmlIn(*it, Heading) : isHtml(*it, tag))
            return true;
        if (boundary(*it, kind))
            return false;
    }
    return false;
}

bool Builder::nodeInScope(int node) const
{
    for (auto it = m_open.rbegin(); it != m_open.rend(); ++it) {
        if (*it == node)
            return true;
        if (boundary(*it, ScopeKind::Default))
            return false;
    }
    return false;
}

void Builder::impliedEndTags(Tag except, bool thorough)
{
    const quint16 flag = thorough ? ImpliedThorough : ImpliedEnd;
    while (!m_open.empty() && isHtmlIn(current(), flag) && !isHtml(current(), except))
        pop();
}

void Builder::closeP()
{
    if (!inScope(k_p, ScopeKind::Button))
        return;
    impliedEndTags(k_p);
    popUntil(k_p);
}

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
    for (int i = int(m_open.size()) - 1; i >= 0; --i) {
        const int node = m_open[i];
        const Node& n = m_doc.nodes[node];
        if (n.ns == Namespace::Html && n.name == tok.name) {
            impliedEndTags(tok.tag == kOther ? k_template_ /* none alike */ : tok.tag);
            while (int(m_open.size()) > i)
                pop();
            return;
        }
        if (isSpecial(node))
            return;
    }
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
            m_open[nodeIndex] = element;
            m_onStack[node] = 0;
            m_onStack[element] = 1;
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
        m_open.insert(m_open.begin() + stackIndexOf(furthest) + 1, element);
        m_onStack[element] = 1;
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

void Builder::foreignStart(Tok& tok)
{
    const bool breakout =
        (flagsOf(tok.tag) & Breakout) ||
        (tok.tag == k_font &&
         std::any_of(tok.attributes.cbegin(), tok.attributes.cend(), [](const Attribute& a) {
             return a.name == u"color" || a.name == u"face" || a.name == u"size";
         }));
    if (breakout) {
        while (!m_open.empty()) {
            const int node = current();
            if (m_doc.nodes[node].ns == Namespace::Html || isMathTextIntegrationPoint(node) ||
                isHtmlIntegrationPoint(node))
                break;
            pop();
        }
        processToken(tok);
        return;
    }
    const Namespace ns = m_doc.nodes[current()].ns;
    const int element = insertElement(tok, ns);
    if (element != kNone && tok.selfClosing)
        pop();
}

void Builder::foreignEnd(Tok& tok)
{
    for (int i = int(m_open.size()) - 1; i > 0;) {
        if (m_doc.nodes[m_open[i]].name.compare(tok.name, Qt::CaseInsensitive) == 0) {
            while (int(m_open.size()) > i)
                pop();
            return;
        }
        --i;
        // The first HTML element down the stack takes the tag by the mode's rules.
        if (m_doc.nodes[m_open[i]].ns == Namespace::Html) {
            processInMode(tok);
            return;
        }
    }
}

} // namespace tree

Document buildDocumentTree(QStringView html, const TreeLimits& limits)
{
    Document doc;
    tree::Builder builder(doc, limits);
    builder.run(html);
    return doc;
}

} // namespace mizong::page::dom
