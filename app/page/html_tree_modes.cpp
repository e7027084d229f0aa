#include "character_references.h"
#include "html_tree_builder_p.h"
#include "markup_output.h"

#include <algorithm>
#include <initializer_list>

// The insertion modes of the HTML standard's tree construction, scripting
// off. Text comes decoded; raw-text elements come whole with their start tag.
namespace mizong::page::dom::tree {

using markup::isHtmlSpace;

namespace {

bool isOneOf(Tag tag, std::initializer_list<Tag> tags)
{
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

qsizetype leadingSpace(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && isHtmlSpace(text[i].unicode()))
        ++i;
    return i;
}

bool allSpace(QStringView text)
{
    return leadingSpace(text) == text.size();
}

QString withoutNul(QStringView text)
{
    QString out = text.toString();
    out.remove(QChar(0));
    return out;
}

} // namespace

void Builder::processToken(Tok& tok)
{
    if (m_mode == Mode::InTableText)
        flushTableText();
    if (htmlRulesFor(&tok))
        processInMode(tok);
    else if (tok.kind == Tok::Start)
        foreignStart(tok);
    else if (tok.tag == k_br || tok.tag == k_p)
        breakOut(tok);
    else
        foreignEnd(tok);
}

void Builder::insertRawElement(const Tok& tok, bool decode)
{
    m_contentTaken = true;
    if (insertElement(tok) == kNone)
        return;
    QString text;
    if (decode)
        appendDecoded(text, tok.content, false);
    else
        text = tok.content.toString();
    text.replace(QChar(0), QChar(markup::kReplacement));
    if (tok.tag == k_textarea && text.startsWith(u'\n'))
        text.remove(0, 1);
    insertText(text, appropriatePlace());
    if (tok.hasContent)
        pop();
}

void Builder::bodyCharacters(QStringView text)
{
    const QString kept = withoutNul(text);
    if (kept.isEmpty())
        return;
    reconstruct();
    if (dropping())
        return;
    insertText(kept, appropriatePlace());
    if (!allSpace(kept))
        m_framesetOk = false;
}

void Builder::flushTableText()
{
    m_mode = m_originalMode;
    const QString text = std::exchange(m_tableText, {});
    if (allSpace(text)) {
        insertText(text, appropriatePlace());
        return;
    }
    // Text in a table goes before it, as browsers show it.
    m_foster = true;
    bodyCharacters(text);
    m_foster = false;
}

void Builder::processCharacters(QStringView text)
{
    while (!text.isEmpty() && !dropping()) {
        if (!htmlRulesFor(nullptr)) {
            foreignCharacters(text);
            return;
        }
        const qsizetype space = leadingSpace(text);
        switch (m_mode) {
        case Mode::Initial:
            m_doc.quirks = true;
            m_mode = Mode::BeforeHtml;
            continue;
        case Mode::BeforeHtml:
        case Mode::BeforeHead:
            text = text.sliced(space);
            if (text.isEmpty())
                return;
            if (m_mode == Mode::BeforeHtml) {
                m_doc.html = insertHtml(k_html);
                m_mode = Mode::BeforeHead;
            } else {
                m_doc.head = insertHtml(k_head);
                m_mode = Mode::InHead;
            }
            continue;
        case Mode::InHead:
        case Mode::InHeadNoscript:
        case Mode::AfterHead:
        case Mode::InColumnGroup:
            insertText(text.first(space), appropriatePlace());
            text = text.sliced(space);
            if (text.isEmpty())
                return;
            if (m_mode == Mode::InHead) {
                pop();
                m_mode = Mode::AfterHead;
            } else if (m_mode == Mode::InHeadNoscript) {
                pop();
                m_mode = Mode::InHead;
            } else if (m_mode == Mode::AfterHead) {
                m_doc.body = insertHtml(k_body);
                m_mode = Mode::InBody;
            } else {
                if (!isHtml(current(), k_colgroup)) {
                    // Each other character is ignored; the blanks among them are not.
                    QString blanks;
                    for (QChar c : text)
                        if (isHtmlSpace(c.unicode()))
                            blanks += c;
                    insertText(blanks, appropriatePlace());
                    return;
                }
                pop();
                m_mode = Mode::InTable;
            }
            continue;
        case Mode::InBody:
        case Mode::InCaption:
        case Mode::InCell:
        case Mode::InTemplate:
            bodyCharacters(text);
            return;
        case Mode::InTable:
        case Mode::InTableBody:
        case Mode::InRow:
            if (isHtml(current(), k_table) || isHtml(current(), k_tbody) ||
                isHtml(current(), k_tfoot) || isHtml(current(), k_thead) ||
                isHtml(current(), k_tr)) {
                m_originalMode = m_mode;
                m_mode = Mode::InTableText;
                continue;
            }
            m_foster = true;
            bodyCharacters(text);
            m_foster = false;
            return;
        case Mode::InTableText:
            m_tableText += withoutNul(text);
            return;
        case Mode::InSelect:
        case Mode::InSelectInTable:
            insertText(withoutNul(text), appropriatePlace());
            return;
        case Mode::AfterBody:
        case Mode::AfterAfterBody:
            bodyCharacters(text.first(space));
            text = text.sliced(space);
            if (!text.isEmpty())
                m_mode = Mode::InBody;
            continue;
        case Mode::InFrameset:
        case Mode::AfterFrameset:
        case Mode::AfterAfterFrameset:
            return; // frames are not shown, nor what is around them
        }
    }
}

void Builder::processInMode(Tok& tok)
{
    switch (m_mode) {
    case Mode::Initial:
        m_doc.quirks = true;
        m_mode = Mode::BeforeHtml;
        return processInMode(tok);
    case Mode::BeforeHtml:
        if (tok.isStart(k_html)) {
            m_doc.html = insertElement(tok);
            m_mode = Mode::BeforeHead;
            return;
        }
        if (tok.kind == Tok::End && !isOneOf(tok.tag, {k_head, k_body, k_html, k_br}))
            return;
        m_doc.html = insertHtml(k_html);
        m_mode = Mode::BeforeHead;
        return processInMode(tok);
    case Mode::BeforeHead:
        if (tok.isStart(k_html))
            return inBody(tok);
        if (tok.isStart(k_head)) {
            m_doc.head = insertElement(tok);
            m_mode = Mode::InHead;
            return;
        }
        if (tok.kind == Tok::End && !isOneOf(tok.tag, {k_head, k_body, k_html, k_br}))
            return;
        m_doc.head = insertHtml(k_head);
        m_mode = Mode::InHead;
        return processInMode(tok);
    case Mode::InHead:
        return inHead(tok);
    case Mode::InHeadNoscript:
        if (tok.isStart(k_html))
            return inBody(tok);
        if (tok.isEnd(k_noscript)) {
            pop();
            m_mode = Mode::InHead;
            return;
        }
        if (tok.kind == Tok::Start &&
            isOneOf(tok.tag, {k_basefont, k_bgsound, k_link, k_meta, k_noframes, k_style}))
            return inHead(tok);
        if ((tok.kind == Tok::Start && isOneOf(tok.tag, {k_head, k_noscript})) ||
            (tok.kind == Tok::End && tok.tag != k_br))
            return;
        pop();
        m_mode = Mode::InHead;
        return processInMode(tok);
    case Mode::AfterHead:
        return afterHead(tok);
    case Mode::InBody:
        return inBody(tok);
    case Mode::InTable:
        return inTable(tok);
    case Mode::InTableText:
        flushTableText();
        return processInMode(tok);
    case Mode::InCaption:
        return inCaption(tok);
    case Mode::InColumnGroup:
        return inColumnGroup(tok);
    case Mode::InTableBody:
        return inTableBody(tok);
    case Mode::InRow:
        return inRow(tok);
    case Mode::InCell:
        return inCell(tok);
    case Mode::InSelect:
    case Mode::InSelectInTable:
        return inSelect(tok);
    case Mode::InTemplate:
        return inTemplate(tok);
    case Mode::AfterBody:
    case Mode::AfterAfterBody:
        if (tok.isStart(k_html) || tok.kind == Tok::Eof)
            return inBody(tok);
        if (tok.isEnd(k_html) && m_mode == Mode::AfterBody) {
            m_mode = Mode::AfterAfterBody;
            return;
        }
        m_mode = Mode::InBody;
        return processInMode(tok);
    case Mode::InFrameset:
    case Mode::AfterFrameset:
    case Mode::AfterAfterFrameset:
        return inFrameset(tok);
    }
}

void Builder::inHead(Tok& tok)
{
    if (tok.kind == Tok::Start) {
        switch (tok.tag) {
        case k_html:
            return inBody(tok);
        case k_base:
        case k_basefont:
        case k_bgsound:
        case k_link:
        case k_meta:
            if (insertElement(tok) != kNone)
                pop();
            return;
        case k_title:
            return insertRawElement(tok, true);
        case k_noscript:
            if (insertElement(tok) != kNone)
                m_mode = Mode::InHeadNoscript;
            return;
        case k_noframes:
        case k_style:
        case k_script:
            return insertRawElement(tok, false);
        case k_template_:
            if (insertElement(tok) == kNone)
                return;
            pushMarker();
            m_framesetOk = false;
            m_mode = Mode::InTemplate;
            m_templateModes.push_back(Mode::InTemplate);
            return;
        case k_head:
            return;
        default:
            break;
        }
    } else if (tok.kind == Tok::End) {
        if (tok.tag == k_head) {
            pop();
            m_mode = Mode::AfterHead;
            return;
        }
        if (tok.tag == k_template_) {
            if (!templateOnStack())
                return;
            impliedEndTags(kOther, true);
            popUntil(k_template_);
            clearToMarker();
            if (!m_templateModes.empty())
                m_templateModes.pop_back();
            resetInsertionMode();
            return;
        }
        if (!isOneOf(tok.tag, {k_body, k_html, k_br}))
            return;
    }
    pop();
    m_mode = Mode::AfterHead;
    processInMode(tok);
}

void Builder::afterHead(Tok& tok)
{
    if (tok.kind == Tok::Start) {
        switch (tok.tag) {
        case k_html:
            return inBody(tok);
        case k_body:
            m_doc.body = insertElement(tok);
            m_framesetOk = false;
            m_mode = Mode::InBody;
            return;
        case k_frameset:
            // Frames are not shown: the body stays empty.
            m_framesetDepth = 1;
            m_mode = Mode::InFrameset;
            return;
        case k_base:
        case k_basefont:
        case k_bgsound:
        case k_link:
        case k_meta:
        case k_noframes:
        case k_script:
        case k_style:
        case k_template_:
        case k_title:
            push(m_doc.head);
            inHead(tok);
            removeFromStack(m_doc.head);
            return;
        case k_head:
            return;
        default:
            break;
        }
    } else if (tok.kind == Tok::End) {
        if (tok.tag == k_template_)
            return inHead(tok);
        if (!isOneOf(tok.tag, {k_body, k_html, k_br}))
            return;
    }
    m_doc.body = insertHtml(k_body);
    m_mode = Mode::InBody;
    processInMode(tok);
}

void Builder::inFrameset(Tok& tok)
{
    if (tok.isStart(k_html))
        return inBody(tok);
    if (m_mode == Mode::InFrameset && tok.isStart(k_frameset) && !tok.selfClosing)
        ++m_framesetDepth;
    else if (m_mode == Mode::InFrameset && tok.isEnd(k_frameset) && --m_framesetDepth == 0)
        m_mode = Mode::AfterFrameset;
    else if (m_mode == Mode::AfterFrameset && tok.isEnd(k_html))
        m_mode = Mode::AfterAfterFrameset;
}

void Builder::resetInsertionMode()
{
    for (int i = int(m_open.size()) - 1; i >= 0; --i) {
        const int node = m_open[i];
        const bool last = i == 0;
        if (m_doc.nodes[node].ns != Namespace::Html) {
            if (last)
                break;
            continue;
        }
        switch (m_tag[node]) {
        case k_select:
            for (int j = i - 1; j > 0; --j) {
                if (isHtml(m_open[j], k_template_))
                    break;
                if (isHtml(m_open[j], k_table)) {
                    m_mode = Mode::InSelectInTable;
                    return;
                }
            }
            m_mode = Mode::InSelect;
            return;
        case k_td:
        case k_th:
            if (last)
                break;
            m_mode = Mode::InCell;
            return;
        case k_tr:
            m_mode = Mode::InRow;
            return;
        case k_tbody:
        case k_thead:
        case k_tfoot:
            m_mode = Mode::InTableBody;
            return;
        case k_caption:
            m_mode = Mode::InCaption;
            return;
        case k_colgroup:
            m_mode = Mode::InColumnGroup;
            return;
        case k_table:
            m_mode = Mode::InTable;
            return;
        case k_template_:
            m_mode = m_templateModes.empty() ? Mode::InBody : m_templateModes.back();
            return;
        case k_head:
            if (last)
                break;
            m_mode = Mode::InHead;
            return;
        case k_body:
            m_mode = Mode::InBody;
            return;
        case k_html:
            m_mode = m_doc.head == kNone ? Mode::BeforeHead : Mode::AfterHead;
            return;
        default:
            break;
        }
        if (last)
            break;
    }
    m_mode = Mode::InBody;
}

void Builder::inTemplate(Tok& tok)
{
    if (tok.kind == Tok::Start) {
        Mode next = Mode::InBody;
        switch (tok.tag) {
        case k_base:
        case k_basefont:
        case k_bgsound:
        case k_link:
        case k_meta:
        case k_noframes:
        case k_script:
        case k_style:
        case k_template_:
        case k_title:
            return inHead(tok);
        case k_caption:
        case k_colgroup:
        case k_tbody:
        case k_tfoot:
        case k_thead:
            next = Mode::InTable;
            break;
        case k_col:
            next = Mode::InColumnGroup;
            break;
        case k_tr:
            next = Mode::InTableBody;
            break;
        case k_td:
        case k_th:
            next = Mode::InRow;
            break;
        default:
            break;
        }
        m_templateModes.back() = next;
        m_mode = next;
        return processInMode(tok);
    }
    if (tok.kind == Tok::End) {
        if (tok.tag == k_template_)
            inHead(tok);
        return;
    }
    if (!templateOnStack())
        return;
    popUntil(k_template_);
    clearToMarker();
    m_templateModes.pop_back();
    resetInsertionMode();
    processInMode(tok);
}

} // namespace mizong::page::dom::tree
