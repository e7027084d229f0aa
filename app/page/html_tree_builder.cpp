#include "character_references.h"
#include "html_tokenizer.h"
#include "html_tree_builder_p.h"
#include "markup_output.h"

#include <QSet>

#include <algorithm>
#include <array>

namespace mizong::page::dom {

namespace tree {

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

// CR LF and CR become LF, as the HTML standard's input stream has them.
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

Builder::Builder(Document& doc, const TreeLimits& limits)
    : m_doc(doc), m_limits(limits), m_htmlOpen(kTagCount)
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
    if (html.startsWith(QChar(0xFEFF))) // a byte order mark the decoder left
        html = html.sliced(1);
    const QString input = normalizedNewlines(html);
    QStringView rest(input);
    const Doctype doctype = readDoctype(rest);
    m_doc.quirks = doctype.quirks;
    if (doctype.end > 0) {
        rest = rest.sliced(doctype.end);
        m_mode = Mode::BeforeHtml;
    }
    feed(rest);
    Tok tok;
    if (!m_stopped && !dropping())
        processToken(tok);
    finish();
}

// Tokenizes `input` and builds the tree from its tokens.
void Builder::feed(QStringView input)
{
    markup::Tokenizer tokenizer(input);
    markup::Token token;
    Tok tok;
    const QChar* lastEnd = input.data(); // where the last token ended
    for (;;) {
        const int node = current();
        tokenizer.setForeign(node != kNone && m_doc.nodes[node].ns != Namespace::Html &&
                             !isHtmlIntegrationPoint(node) && !isMathTextIntegrationPoint(node));
        if (!tokenizer.next(token)) {
            if (!tokenizer.unread().isEmpty() && !dropping())
                processCharacters(tokenizer.unread());
            return;
        }
        if (m_stopped || m_elements >= m_limits.maxElements) {
            m_doc.capped = true;
            m_stopped = true;
            return;
        }
        if (token.type == markup::Token::Text) {
            // A comment before it, which the tokenizer passes over, ends a
            // table's text and keeps the newline after <pre>.
            const bool adjacent = token.text.data() == lastEnd;
            lastEnd = input.data() + tokenizer.position();
            const bool skipNewline = std::exchange(m_skipNewline, false) && adjacent;
            if (dropping())
                continue;
            if (!adjacent && m_mode == Mode::InTableText)
                flushTableText();
            QString text;
            if (token.hasContent)
                text = token.text.toString();
            else
                appendDecoded(text, token.text, false);
            QStringView view(text);
            if (skipNewline && view.startsWith(u'\n'))
                view = view.sliced(1);
            processCharacters(view);
            continue;
        }
        m_skipNewline = false;
        lastEnd = input.data() + tokenizer.position();
        tok.kind = token.type == markup::Token::StartTag ? Tok::Start : Tok::End;
        tok.name = token.name;
        tok.name.replace(QChar(0), QChar(markup::kReplacement));
        tok.tag = tagOf(tok.name);
        tok.attributes = tok.kind == Tok::Start ? attributesOf(token) : QList<Attribute>{};
        tok.selfClosing = token.selfClosing;
        tok.hasContent = token.hasContent;
        tok.content = token.text;
        if (!m_dropped.empty()) {
            dropToken(tok);
            continue;
        }
        m_contentTaken = false;
        processToken(tok);
        if (tok.hasContent && !m_contentTaken && !m_stopped) {
            // The tag was ignored: what it took as raw text is markup after all.
            tokenizer.seek(tok.content.data() - input.data());
            lastEnd = tok.content.data();
        }
    }
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
    m_position.push_back(-1);
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
        const int lastTemplate = topmost(k_template_, {});
        const int lastTable = topmost(k_table, {});
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

} // namespace tree

Document buildDocumentTree(QStringView html, const TreeLimits& limits)
{
    Document doc;
    tree::Builder builder(doc, limits);
    builder.run(html);
    return doc;
}

} // namespace mizong::page::dom
