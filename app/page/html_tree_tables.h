#pragma once

#include <QString>
#include <QStringView>

// Internal to mizong_page_markup: the tree builder's element categories
// (the HTML standard's tree construction names them), the foreign content's
// name adjustments and the DOCTYPEs that mean quirks mode.
namespace mizong::page::dom::tree {

// clang-format off
#define MIZONG_TREE_TAGS(X) \
    X(a) X(address) X(annotation_xml) X(applet) X(area) X(article) X(aside) X(b) X(base) \
    X(basefont) X(bgsound) X(big) X(blockquote) X(body) X(br) X(button) X(caption) X(center) \
    X(code) X(col) X(colgroup) X(dd) X(desc) X(details) X(dialog) X(dir) X(div) X(dl) X(dt) \
    X(em) X(embed) X(fieldset) X(figcaption) X(figure) X(font) X(footer) X(foreignobject) \
    X(form) X(frame) X(frameset) X(h1) X(h2) X(h3) X(h4) X(h5) X(h6) X(head) X(header) X(hgroup) \
    X(hr) X(html) X(i) X(iframe) X(image) X(img) X(input) X(keygen) X(li) X(link) X(listing) \
    X(main) X(malignmark) X(marquee) X(math) X(menu) X(meta) X(mglyph) X(mi) X(mn) X(mo) X(ms) \
    X(mtext) X(nav) X(nobr) X(noembed) X(noframes) X(noscript) X(object) X(ol) X(optgroup) \
    X(option) X(p) X(param) X(plaintext) X(pre) X(rb) X(rp) X(rt) X(rtc) X(ruby) X(s) X(script) \
    X(section) X(select) X(small) X(source) X(span) X(strike) X(strong) X(style) X(sub) \
    X(summary) X(sup) X(svg) X(table) X(tbody) X(td) X(template_) X(textarea) X(tfoot) X(th) \
    X(thead) X(title) X(tr) X(track) X(tt) X(u) X(ul) X(var) X(wbr) X(xmp)
// clang-format on

enum Tag : quint16
{
    kOther,
#define MIZONG_TREE_TAG_ENUM(t) k_##t,
    MIZONG_TREE_TAGS(MIZONG_TREE_TAG_ENUM)
#undef MIZONG_TREE_TAG_ENUM
        kTagCount
};

// The tag of a lower-case name; kOther for a name the builder has no rule for.
Tag tagOf(QStringView lowerName);
// The lower-case name of a tag.
QStringView nameOf(Tag tag);

enum TagFlag : quint16
{
    Special = 0x01,         // HTML's special category
    Formatting = 0x02,      // kept in the list of active formatting elements
    Scope = 0x04,           // ends "in scope" for HTML
    ImpliedEnd = 0x08,      // generate implied end tags
    ImpliedThorough = 0x10, // ... thoroughly
    ClosesP = 0x20,         // a block start that ends an open <p> in button scope
    Heading = 0x40,
    Breakout = 0x80, // ends SVG or MathML left open
    Void = 0x100,
};

// The flags of an HTML element.
quint16 flagsOf(Tag tag);

// SVG's mixed-case element name for a lower-case one ("foreignObject"), or
// the name itself.
QString svgElementName(const QString& lowerName);
// SVG's and MathML's mixed-case attribute names ("viewBox", "definitionURL").
QString svgAttributeName(const QString& lowerName);
QString mathAttributeName(const QString& lowerName);

struct Doctype
{
    qsizetype end = 0; // just past the DOCTYPE, 0 when the input has none
    bool quirks = true;
};

// The DOCTYPE that may open `input` after blanks and comments, and whether
// it means quirks mode (limited quirks counts as none).
Doctype readDoctype(QStringView input);

} // namespace mizong::page::dom::tree
