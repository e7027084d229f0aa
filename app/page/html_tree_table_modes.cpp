#include "html_tree_builder_p.h"

#include <algorithm>
#include <initializer_list>

// The table and select insertion modes of the HTML standard's tree
// construction.
namespace mizong::page::dom::tree {

namespace {

bool isOneOf(Tag tag, std::initializer_list<Tag> tags)
{
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

} // namespace

void Builder::clearBackTo(std::initializer_list<Tag> tags)
{
    while (m_open.size() > 1 &&
           !std::any_of(tags.begin(), tags.end(), [this](Tag t) { return isHtml(current(), t); }))
        pop();
}

void Builder::inTable(Tok& tok)
{
    if (tok.kind == Tok::Start) {
        switch (tok.tag) {
        case k_caption:
            clearBackTo({k_table, k_template_, k_html});
            pushMarker();
            if (insertElement(tok) != kNone)
                m_mode = Mode::InCaption;
            return;
        case k_colgroup:
            clearBackTo({k_table, k_template_, k_html});
            if (insertElement(tok) != kNone)
                m_mode = Mode::InColumnGroup;
            return;
        case k_col:
            clearBackTo({k_table, k_template_, k_html});
            if (insertHtml(k_colgroup) == kNone)
                return;
            m_mode = Mode::InColumnGroup;
            return processInMode(tok);
        case k_tbody:
        case k_tfoot:
        case k_thead:
            clearBackTo({k_table, k_template_, k_html});
            if (insertElement(tok) != kNone)
                m_mode = Mode::InTableBody;
            return;
        case k_td:
        case k_th:
        case k_tr:
            clearBackTo({k_table, k_template_, k_html});
            if (insertHtml(k_tbody) == kNone)
                return;
            m_mode = Mode::InTableBody;
            return processInMode(tok);
        case k_table:
            if (!inScope(k_table, ScopeKind::Table))
                return;
            popUntil(k_table);
            resetInsertionMode();
            return processInMode(tok);
        case k_style:
        case k_script:
        case k_template_:
            return inHead(tok);
        case k_input:
            if (!hiddenInput(tok))
                break;
            if (insertElement(tok) != kNone)
                pop();
            return;
        case k_form:
            if (templateOnStack() || m_form != kNone)
                return;
            m_form = insertElement(tok);
            if (m_form != kNone)
                pop();
            return;
        default:
            break;
        }
    } else if (tok.kind == Tok::End) {
        if (tok.tag == k_table) {
            if (!inScope(k_table, ScopeKind::Table))
                return;
            popUntil(k_table);
            resetInsertionMode();
            return;
        }
        if (isOneOf(tok.tag, {k_body, k_caption, k_col, k_colgroup, k_html, k_tbody, k_td, k_tfoot,
                              k_th, k_thead, k_tr}))
            return;
        if (tok.tag == k_template_)
            return inHead(tok);
    } else {
        return inBody(tok);
    }
    // Anything else goes before the table, as browsers show it.
    m_foster = true;
    inBody(tok);
    m_foster = false;
}

void Builder::inCaption(Tok& tok)
{
    const bool endCaption = tok.isEnd(k_caption);
    if (endCaption || tok.isEnd(k_table) ||
        (tok.kind == Tok::Start && isOneOf(tok.tag, {k_caption, k_col, k_colgroup, k_tbody, k_td,
                                                     k_tfoot, k_th, k_thead, k_tr}))) {
        if (!inScope(k_caption, ScopeKind::Table))
            return;
        impliedEndTags();
        popUntil(k_caption);
        clearToMarker();
        m_mode = Mode::InTable;
        if (!endCaption)
            processInMode(tok);
        return;
    }
    if (tok.kind == Tok::End && isOneOf(tok.tag, {k_body, k_col, k_colgroup, k_html, k_tbody, k_td,
                                                  k_tfoot, k_th, k_thead, k_tr}))
        return;
    inBody(tok);
}

void Builder::inColumnGroup(Tok& tok)
{
    if (tok.isStart(k_html) || tok.kind == Tok::Eof)
        return inBody(tok);
    if (tok.isStart(k_col)) {
        if (insertElement(tok) != kNone)
            pop();
        return;
    }
    if (tok.isStart(k_template_) || tok.isEnd(k_template_))
        return inHead(tok);
    if (tok.isEnd(k_col))
        return;
    if (!isHtml(current(), k_colgroup))
        return;
    pop();
    m_mode = Mode::InTable;
    if (!tok.isEnd(k_colgroup))
        processInMode(tok);
}

void Builder::inTableBody(Tok& tok)
{
    if (tok.isStart(k_tr)) {
        clearBackTo({k_tbody, k_tfoot, k_thead, k_template_, k_html});
        if (insertElement(tok) != kNone)
            m_mode = Mode::InRow;
        return;
    }
    if (tok.isStart(k_th) || tok.isStart(k_td)) {
        clearBackTo({k_tbody, k_tfoot, k_thead, k_template_, k_html});
        if (insertHtml(k_tr) == kNone)
            return;
        m_mode = Mode::InRow;
        return processInMode(tok);
    }
    if (tok.kind == Tok::End && isOneOf(tok.tag, {k_tbody, k_tfoot, k_thead})) {
        if (!inScope(tok.tag, ScopeKind::Table))
            return;
        clearBackTo({k_tbody, k_tfoot, k_thead, k_template_, k_html});
        pop();
        m_mode = Mode::InTable;
        return;
    }
    if ((tok.kind == Tok::Start &&
         isOneOf(tok.tag, {k_caption, k_col, k_colgroup, k_tbody, k_tfoot, k_thead})) ||
        tok.isEnd(k_table)) {
        if (!inScope(k_tbody, ScopeKind::Table) && !inScope(k_thead, ScopeKind::Table) &&
            !inScope(k_tfoot, ScopeKind::Table))
            return;
        clearBackTo({k_tbody, k_tfoot, k_thead, k_template_, k_html});
        pop();
        m_mode = Mode::InTable;
        return processInMode(tok);
    }
    if (tok.kind == Tok::End &&
        isOneOf(tok.tag, {k_body, k_caption, k_col, k_colgroup, k_html, k_td, k_th, k_tr}))
        return;
    inTable(tok);
}

void Builder::inRow(Tok& tok)
{
    if (tok.isStart(k_th) || tok.isStart(k_td)) {
        clearBackTo({k_tr, k_template_, k_html});
        if (insertElement(tok) == kNone)
            return;
        m_mode = Mode::InCell;
        pushMarker();
        return;
    }
    const bool endRow = tok.isEnd(k_tr);
    const bool sectionEnd = tok.kind == Tok::End && isOneOf(tok.tag, {k_tbody, k_tfoot, k_thead});
    if (endRow || sectionEnd || tok.isEnd(k_table) ||
        (tok.kind == Tok::Start &&
         isOneOf(tok.tag, {k_caption, k_col, k_colgroup, k_tbody, k_tfoot, k_thead, k_tr}))) {
        if (sectionEnd && !inScope(tok.tag, ScopeKind::Table))
            return;
        if (!inScope(k_tr, ScopeKind::Table))
            return;
        clearBackTo({k_tr, k_template_, k_html});
        pop();
        m_mode = Mode::InTableBody;
        if (!endRow)
            processInMode(tok);
        return;
    }
    if (tok.kind == Tok::End &&
        isOneOf(tok.tag, {k_body, k_caption, k_col, k_colgroup, k_html, k_td, k_th}))
        return;
    inTable(tok);
}

void Builder::closeCell()
{
    impliedEndTags();
    while (!m_open.empty()) {
        const bool cell = isHtml(current(), k_td) || isHtml(current(), k_th);
        pop();
        if (cell)
            break;
    }
    clearToMarker();
    m_mode = Mode::InRow;
}

void Builder::inCell(Tok& tok)
{
    if (tok.isEnd(k_td) || tok.isEnd(k_th)) {
        if (!inScope(tok.tag, ScopeKind::Table))
            return;
        impliedEndTags();
        popUntil(tok.tag);
        clearToMarker();
        m_mode = Mode::InRow;
        return;
    }
    if (tok.kind == Tok::Start && isOneOf(tok.tag, {k_caption, k_col, k_colgroup, k_tbody, k_td,
                                                    k_tfoot, k_th, k_thead, k_tr})) {
        if (!inScope(k_td, ScopeKind::Table) && !inScope(k_th, ScopeKind::Table))
            return;
        closeCell();
        return processInMode(tok);
    }
    if (tok.kind == Tok::End && isOneOf(tok.tag, {k_body, k_caption, k_col, k_colgroup, k_html}))
        return;
    if (tok.kind == Tok::End && isOneOf(tok.tag, {k_table, k_tbody, k_tfoot, k_thead, k_tr})) {
        if (!inScope(tok.tag, ScopeKind::Table))
            return;
        closeCell();
        return processInMode(tok);
    }
    inBody(tok);
}

void Builder::inSelect(Tok& tok)
{
    const bool tableTag =
        isOneOf(tok.tag, {k_caption, k_table, k_tbody, k_tfoot, k_thead, k_tr, k_td, k_th});
    if (m_mode == Mode::InSelectInTable && tableTag && tok.kind != Tok::Eof) {
        if (tok.kind == Tok::End && !inScope(tok.tag, ScopeKind::Table))
            return;
        popUntil(k_select);
        resetInsertionMode();
        return processInMode(tok);
    }
    if (tok.kind == Tok::Eof || tok.isStart(k_html))
        return inBody(tok);
    if (tok.kind == Tok::Start) {
        switch (tok.tag) {
        case k_option:
            if (isHtml(current(), k_option))
                pop();
            insertElement(tok);
            return;
        case k_optgroup:
            if (isHtml(current(), k_option))
                pop();
            if (isHtml(current(), k_optgroup))
                pop();
            insertElement(tok);
            return;
        case k_select:
        case k_input:
        case k_keygen:
        case k_textarea:
            if (!inScope(k_select, ScopeKind::Select))
                return;
            popUntil(k_select);
            resetInsertionMode();
            if (tok.tag != k_select)
                processInMode(tok);
            return;
        case k_script:
        case k_template_:
            return inHead(tok);
        default:
            return;
        }
    }
    switch (tok.tag) {
    case k_optgroup:
        if (isHtml(current(), k_option) && m_open.size() > 1 &&
            isHtml(m_open[m_open.size() - 2], k_optgroup))
            pop();
        if (isHtml(current(), k_optgroup))
            pop();
        return;
    case k_option:
        if (isHtml(current(), k_option))
            pop();
        return;
    case k_select:
        if (!inScope(k_select, ScopeKind::Select))
            return;
        popUntil(k_select);
        resetInsertionMode();
        return;
    case k_template_:
        return inHead(tok);
    default:
        return;
    }
}

} // namespace mizong::page::dom::tree
