#include "html_tree_builder_p.h"

#include <algorithm>
#include <initializer_list>

// The "in body" insertion mode of the HTML standard's tree construction.
namespace mizong::page::dom::tree {

namespace {

bool isOneOf(Tag tag, std::initializer_list<Tag> tags)
{
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

} // namespace

void Builder::inBody(Tok& tok)
{
    if (tok.kind == Tok::Eof) {
        if (!m_templateModes.empty())
            inTemplate(tok);
        return;
    }
    if (tok.kind == Tok::End)
        return inBodyEnd(tok);
    const quint16 flags = flagsOf(tok.tag);
    if (flags & ClosesP) {
        closeP();
        insertElement(tok);
        return;
    }
    if (flags & Heading) {
        closeP();
        if (isHtmlIn(current(), Heading))
            pop();
        insertElement(tok);
        return;
    }
    switch (tok.tag) {
    case k_html:
        if (!templateOnStack() && !m_open.empty())
            addMissingAttributes(m_open.front(), tok.attributes);
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
        return inHead(tok);
    case k_body:
        if (m_open.size() < 2 || !isHtml(m_open[1], k_body) || templateOnStack())
            return;
        m_framesetOk = false;
        addMissingAttributes(m_open[1], tok.attributes);
        return;
    case k_frameset:
        if (m_open.size() < 2 || !isHtml(m_open[1], k_body) || !m_framesetOk)
            return;
        // Frames are not shown: the body is given up and a new, empty one
        // made at the end.
        detach(m_open[1]);
        m_detached = true;
        m_doc.body = kNone;
        while (m_open.size() > 1)
            pop();
        m_framesetDepth = 1;
        m_mode = Mode::InFrameset;
        return;
    case k_pre:
    case k_listing:
        closeP();
        insertElement(tok);
        m_skipNewline = true;
        m_framesetOk = false;
        return;
    case k_form:
        if (m_form != kNone && !templateOnStack())
            return;
        closeP();
        if (const int form = insertElement(tok); form != kNone && !templateOnStack())
            m_form = form;
        return;
    case k_li:
    case k_dd:
    case k_dt: {
        m_framesetOk = false;
        for (int i = int(m_open.size()) - 1; i >= 0; --i) {
            const int node = m_open[i];
            const Tag match = tok.tag == k_li ? k_li : m_tag[node];
            if ((tok.tag == k_li && isHtml(node, k_li)) ||
                (tok.tag != k_li && (isHtml(node, k_dd) || isHtml(node, k_dt)))) {
                impliedEndTags(match);
                popUntil(match);
                break;
            }
            if (isSpecial(node) && !isHtml(node, k_address) && !isHtml(node, k_div) &&
                !isHtml(node, k_p))
                break;
        }
        closeP();
        insertElement(tok);
        return;
    }
    case k_plaintext: {
        closeP();
        m_contentTaken = true;
        if (insertElement(tok) == kNone)
            return;
        // Its text is the body's (formatting reopened in it), never a tag again.
        QString text = tok.content.toString();
        text.replace(QChar(0), QChar(0xFFFD));
        processCharacters(text);
        return;
    }
    case k_button:
        if (inScope(k_button)) {
            impliedEndTags();
            popUntil(k_button);
        }
        reconstruct();
        if (!dropping())
            insertElement(tok);
        m_framesetOk = false;
        return;
    case k_a:
        for (int i = int(m_formatting.size()) - 1; i >= 0 && m_formatting[i] != kNone; --i) {
            const int a = m_formatting[i];
            if (isHtml(a, k_a)) {
                Tok end = tok;
                end.kind = Tok::End;
                adoptionAgency(end);
                removeFormatting(a);
                removeFromStack(a);
                break;
            }
        }
        break;
    case k_nobr:
        reconstruct();
        if (dropping())
            return;
        if (inScope(k_nobr)) {
            Tok end = tok;
            end.kind = Tok::End;
            adoptionAgency(end);
        }
        break;
    case k_applet:
    case k_marquee:
    case k_object:
        reconstruct();
        if (!dropping() && insertElement(tok) != kNone)
            pushMarker();
        m_framesetOk = false;
        return;
    case k_table:
        if (!m_doc.quirks)
            closeP();
        if (insertElement(tok) != kNone)
            m_mode = Mode::InTable;
        m_framesetOk = false;
        return;
    case k_area:
    case k_br:
    case k_embed:
    case k_img:
    case k_keygen:
    case k_wbr:
    case k_input:
        reconstruct();
        if (!dropping() && insertElement(tok) != kNone)
            pop();
        if (tok.tag != k_input || !hiddenInput(tok))
            m_framesetOk = false;
        return;
    case k_param:
    case k_source:
    case k_track:
        if (insertElement(tok) != kNone)
            pop();
        return;
    case k_hr:
        closeP();
        if (insertElement(tok) != kNone)
            pop();
        m_framesetOk = false;
        return;
    case k_image:
        tok.tag = k_img;
        tok.name = QStringLiteral("img");
        return inBody(tok);
    case k_textarea:
        m_framesetOk = false;
        return insertRawElement(tok, true);
    case k_xmp:
        closeP();
        reconstruct();
        m_framesetOk = false;
        if (!dropping())
            insertRawElement(tok, false);
        return;
    case k_iframe:
        m_framesetOk = false;
        return insertRawElement(tok, false);
    case k_noembed:
        return insertRawElement(tok, false);
    case k_select:
        reconstruct();
        if (dropping() || insertElement(tok) == kNone)
            return;
        m_framesetOk = false;
        m_mode = (m_mode == Mode::InTable || m_mode == Mode::InCaption ||
                  m_mode == Mode::InTableBody || m_mode == Mode::InRow || m_mode == Mode::InCell)
                     ? Mode::InSelectInTable
                     : Mode::InSelect;
        return;
    case k_optgroup:
    case k_option:
        if (isHtml(current(), k_option))
            pop();
        break;
    case k_rb:
    case k_rtc:
        if (inScope(k_ruby))
            impliedEndTags();
        insertElement(tok);
        return;
    case k_rp:
    case k_rt:
        if (inScope(k_ruby))
            impliedEndTags(k_rtc);
        insertElement(tok);
        return;
    case k_math:
    case k_svg:
        reconstruct();
        if (!dropping() &&
            insertElement(tok, tok.tag == k_svg ? Namespace::Svg : Namespace::MathMl) != kNone &&
            tok.selfClosing)
            pop();
        return;
    case k_caption:
    case k_col:
    case k_colgroup:
    case k_frame:
    case k_head:
    case k_tbody:
    case k_td:
    case k_tfoot:
    case k_th:
    case k_thead:
    case k_tr:
        return;
    default:
        break;
    }
    // Formatting elements, <nobr>, <a>, option, and any other start tag.
    reconstruct();
    if (dropping())
        return;
    const int element = insertElement(tok);
    if (element != kNone && (flags & Formatting))
        pushFormatting(element);
}

void Builder::inBodyEnd(Tok& tok)
{
    const quint16 flags = flagsOf(tok.tag);
    if (flags & Formatting)
        return adoptionAgency(tok);
    if (flags & Heading) {
        if (!inScope(kOther))
            return;
        impliedEndTags();
        popUntilHeading();
        return;
    }
    switch (tok.tag) {
    case k_template_:
        return inHead(tok);
    case k_body:
    case k_html:
        if (!inScope(k_body))
            return;
        m_mode = Mode::AfterBody;
        if (tok.tag == k_html)
            processInMode(tok);
        return;
    case k_form:
        if (!templateOnStack()) {
            const int form = std::exchange(m_form, kNone);
            if (form == kNone || !nodeInScope(form))
                return;
            impliedEndTags();
            removeFromStack(form);
            return;
        }
        if (!inScope(k_form))
            return;
        impliedEndTags();
        popUntil(k_form);
        return;
    case k_p:
        if (!inScope(k_p, ScopeKind::Button))
            insertHtml(k_p);
        closeP();
        return;
    case k_li:
        if (!inScope(k_li, ScopeKind::ListItem))
            return;
        impliedEndTags(k_li);
        popUntil(k_li);
        return;
    case k_dd:
    case k_dt:
        if (!inScope(tok.tag))
            return;
        impliedEndTags(tok.tag);
        popUntil(tok.tag);
        return;
    case k_applet:
    case k_marquee:
    case k_object:
        if (!inScope(tok.tag))
            return;
        impliedEndTags();
        popUntil(tok.tag);
        clearToMarker();
        return;
    case k_br: {
        Tok start;
        start.kind = Tok::Start;
        start.tag = k_br;
        start.name = QStringLiteral("br");
        return inBody(start);
    }
    default:
        break;
    }
    if ((flags & ClosesP) || isOneOf(tok.tag, {k_button, k_listing, k_pre})) {
        if (!inScope(tok.tag))
            return;
        impliedEndTags();
        popUntil(tok.tag);
        return;
    }
    anyOtherEndTag(tok);
}

} // namespace mizong::page::dom::tree
