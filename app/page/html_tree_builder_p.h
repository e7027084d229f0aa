#pragma once

#include "document_tree.h"
#include "html_tree_tables.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <initializer_list>
#include <vector>

// Internal to mizong_page_markup: the tree builder's state, split over
// html_tree_builder.cpp (the tree, the stacks, the adoption agency, foreign
// content) and html_tree_modes.cpp (the insertion modes).
namespace mizong::page::dom::tree {

enum class Mode : quint8
{
    Initial,
    BeforeHtml,
    BeforeHead,
    InHead,
    InHeadNoscript,
    AfterHead,
    InBody,
    InTable,
    InTableText,
    InCaption,
    InColumnGroup,
    InTableBody,
    InRow,
    InCell,
    InSelect,
    InSelectInTable,
    InTemplate,
    AfterBody,
    InFrameset,
    AfterFrameset,
    AfterAfterBody,
    AfterAfterFrameset,
};

struct Tok
{
    enum Kind : quint8
    {
        Start,
        End,
        Eof,
    };
    Kind kind = Eof;
    Tag tag = kOther;
    QString name; // lower-case
    QList<Attribute> attributes;
    bool selfClosing = false;
    bool hasContent = false; // raw text taken with the start tag
    QStringView content;

    bool is(Kind k, Tag t) const { return kind == k && tag == t; }
    bool isStart(Tag t) const { return is(Start, t); }
    bool isEnd(Tag t) const { return is(End, t); }
};

inline bool hiddenInput(const Tok& tok)
{
    for (const Attribute& a : tok.attributes)
        if (a.name == u"type")
            return a.value.compare(u"hidden", Qt::CaseInsensitive) == 0;
    return false;
}

// Where a node goes: appended to `parent`, or put before `before`.
struct Place
{
    int parent;
    int before = kNone;
};

// What ends a search down the stack of open elements: a scope's boundary,
// a special element, an HTML element.
enum class ScopeKind : quint8
{
    Default,
    ListItem,
    Button,
    Table,
    Select,
    Special,
    Html,
};
inline constexpr int kScopeKinds = 7;

class Builder
{
public:
    Builder(Document& doc, const TreeLimits& limits);
    void run(QStringView input);

private:
    void feed(QStringView input);

    // The tree.
    int newNode(Node::Type type);
    int createElement(Namespace ns, Tag tag, QString name, QList<Attribute> attributes);
    void insertAt(int node, Place place);
    void detach(int node);
    void insertText(QStringView text, Place place);
    Place appropriatePlace(int overrideTarget = kNone) const;
    int contentsOf(int templateElement);
    void addMissingAttributes(int element, const QList<Attribute>& attributes);
    void finish();
    void compact();

    // The stack of open elements.
    int current() const { return m_open.empty() ? kNone : m_open.back(); }
    bool isHtml(int node, Tag tag) const;
    bool isHtmlIn(int node, quint16 flags) const;
    bool isSpecial(int node) const;
    bool isHtmlIntegrationPoint(int node) const;
    bool isMathTextIntegrationPoint(int node) const;
    int insertElement(const Tok& tok, Namespace ns = Namespace::Html);
    int insertHtml(Tag tag);
    void push(int node);
    void pop();
    void stackChanged(int from);
    std::vector<int>& openOfName(int node);
    int topmost(Tag tag, const QString& name) const;
    void replaceInStack(int index, int node);
    void insertInStack(int index, int node);
    void popUntil(Tag tag);
    void popUntilHeading();
    void removeFromStack(int node);
    int stackIndexOf(int node) const;
    bool inScope(Tag tag, ScopeKind kind = ScopeKind::Default) const;
    bool nodeInScope(int node) const;
    bool boundary(int node, ScopeKind kind) const;
    bool templateOnStack() const { return m_templates > 0; }
    void impliedEndTags(Tag except = kOther, bool thorough = false);
    void closeP();

    // The list of active formatting elements.
    void pushFormatting(int node);
    void pushMarker() { m_formatting.push_back(kNone); }
    void clearToMarker();
    void removeFormatting(int node);
    int formattingIndexOf(int node) const;
    void reconstruct();
    bool sameElement(int a, int b) const;
    void adoptionAgency(const Tok& tok);
    void anyOtherEndTag(const Tok& tok);

    // Dispatch.
    void processToken(Tok& tok);
    void processCharacters(QStringView text);
    bool htmlRulesFor(const Tok* tok) const;
    void foreignStart(Tok& tok);
    void breakOut(Tok& tok);
    void foreignEnd(Tok& tok);
    void foreignCharacters(QStringView text);
    // Nothing more goes into the tree for now (too deep) or at all (too many).
    bool dropping() const { return m_stopped || !m_dropped.empty(); }
    void dropToken(Tok& tok);

    // Text handed to an element taken whole (script, style, title, textarea, ...).
    void insertRawElement(const Tok& tok, bool decode);
    void resetInsertionMode();
    void flushTableText();

    // The insertion modes.
    void processInMode(Tok& tok);
    void bodyCharacters(QStringView text);
    void inHead(Tok& tok);
    void afterHead(Tok& tok);
    void inBody(Tok& tok);
    void inBodyEnd(Tok& tok);
    void inTable(Tok& tok);
    void inCaption(Tok& tok);
    void inColumnGroup(Tok& tok);
    void inTableBody(Tok& tok);
    void inRow(Tok& tok);
    void inCell(Tok& tok);
    void closeCell();
    void inSelect(Tok& tok);
    void inTemplate(Tok& tok);
    void inFrameset(Tok& tok);
    void clearBackTo(std::initializer_list<Tag> tags);

    Document& m_doc;
    TreeLimits m_limits;
    Mode m_mode = Mode::Initial;
    Mode m_originalMode = Mode::InBody;
    std::vector<int> m_open;
    std::vector<int> m_formatting; // kNone: a marker
    std::vector<Mode> m_templateModes;
    // Per node, by index.
    std::vector<Tag> m_tag;
    std::vector<quint8> m_onStack;
    std::vector<quint8> m_listed; // entries in the list of active formatting elements
    std::vector<quint8> m_integration;
    std::vector<int> m_position; // in the stack of open elements
    // Per stack position, the nearest position at or below it that ends each
    // kind of search, -1 for none; and the open elements by name, bottom to
    // top: so that no end tag nor scope check walks a deep stack.
    std::vector<std::array<int, kScopeKinds>> m_ends;
    std::vector<std::vector<int>> m_htmlOpen;       // by tag
    QHash<QString, std::vector<int>> m_otherOpen;   // HTML of no known tag, by name
    QHash<QString, std::vector<int>> m_foreignOpen; // by lower-case name
    QHash<int, int> m_contents;                     // a <template>'s contents, kept out of the tree
    int m_templates = 0;                            // <template>s open
    int m_form = kNone;
    int m_elements = 0;
    int m_framesetDepth = 0;
    bool m_framesetOk = true;
    bool m_foster = false;
    bool m_skipNewline = false;
    bool m_detached = false; // some node left the tree
    bool m_stopped = false;
    bool m_contentTaken = false; // by the raw-text start tag at hand
    QString m_tableText;
    // Elements too deep for the tree, with what they hold.
    std::vector<QString> m_dropped;
    QHash<QString, int> m_droppedNames;
};

} // namespace mizong::page::dom::tree
