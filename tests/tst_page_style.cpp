#include "character_references.h"
#include "css_cascade.h"
#include "html_tokenizer.h"

#include <QObject>
#include <QTest>

using namespace mizong::page;
using namespace Qt::StringLiterals;

namespace {

bool isVoid(QStringView name)
{
    static const QStringList names = {u"area"_s,  u"base"_s, u"br"_s,     u"col"_s,
                                      u"embed"_s, u"hr"_s,   u"img"_s,    u"input"_s,
                                      u"link"_s,  u"meta"_s, u"source"_s, u"wbr"_s};
    return names.contains(name);
}

// A document for well-formed markup: what goes in <body>, whose own start
// tag, if written, gives the body its attributes.
dom::Document documentOf(const QString& markup, bool quirks = false)
{
    dom::Document d;
    d.quirks = quirks;
    const auto append = [&d](int parent, dom::Node node) {
        node.parent = parent;
        const int index = int(d.nodes.size());
        if (parent != dom::kNone) {
            dom::Node& p = d.nodes[parent];
            node.previousSibling = p.lastChild;
            if (p.lastChild != dom::kNone)
                d.nodes[p.lastChild].nextSibling = index;
            else
                p.firstChild = index;
            p.lastChild = index;
        }
        d.nodes.append(std::move(node));
        return index;
    };
    const auto element = [](const QString& name) {
        dom::Node n;
        n.name = name;
        return n;
    };
    dom::Node document;
    document.type = dom::Node::Type::Document;
    append(dom::kNone, document);
    d.html = append(0, element(u"html"_s));
    d.head = append(d.html, element(u"head"_s));
    d.body = append(d.html, element(u"body"_s));
    QList<int> open = {d.body};
    markup::Tokenizer tokenizer(markup);
    markup::Token token;
    while (tokenizer.next(token)) {
        if (token.type == markup::Token::Text) {
            dom::Node text;
            text.type = dom::Node::Type::Text;
            appendDecoded(text.text, token.text, false);
            append(open.last(), std::move(text));
            continue;
        }
        if (token.type == markup::Token::EndTag) {
            if (token.name != u"body" && open.size() > 1)
                open.removeLast();
            continue;
        }
        dom::Node n = element(token.name);
        for (const markup::Attribute& a : token.attributes) {
            dom::Attribute attribute{a.name.toString().toLower(), {}};
            appendDecoded(attribute.value, a.value, true);
            n.attributes.append(attribute);
        }
        if (token.name == u"body") {
            d.nodes[d.body].attributes = n.attributes;
            continue;
        }
        const int index = append(open.last(), std::move(n));
        if (token.hasContent) {
            dom::Node text;
            text.type = dom::Node::Type::Text;
            text.text = token.text.toString();
            append(index, std::move(text));
        } else if (!isVoid(token.name) && !token.selfClosing) {
            open.append(index);
        }
    }
    return d;
}

int byId(const dom::Document& d, QStringView id)
{
    for (int i = 0; i < int(d.nodes.size()); ++i)
        if (const QString* v = d[i].attribute(u"id"); v && *v == id)
            return i;
    return id == u"body" ? d.body : id == u"html" ? d.html : dom::kNone;
}

QString number(qreal v)
{
    return QString::number(std::round(v * 100) / 100);
}

QString colorName(const css::Color& c)
{
    if (c.alpha <= 0)
        return u"transparent"_s;
    const QString hex = u"#%1%2%3"_s.arg(c.red, 2, 16, QChar(u'0'))
                            .arg(c.green, 2, 16, QChar(u'0'))
                            .arg(c.blue, 2, 16, QChar(u'0'));
    return c.alpha >= 1 ? hex : hex + u'/' + number(c.alpha);
}

QString sizeName(const css::Size& s)
{
    return s.isAuto() ? u"auto"_s
                      : number(s.value) + (s.unit == css::Size::Unit::Px ? u"px"_s : u"%"_s);
}

template <typename T, size_t N>
QString fourSides(const std::array<T, 4>& v, const std::array<bool, 4>* autos = nullptr)
{
    QStringList out;
    for (size_t i = 0; i < 4; ++i)
        out << (autos && (*autos)[i] ? u"auto"_s : number(v[i]));
    return out.join(u' ');
}

// One computed property as the tables write it.
QString describe(const css::ComputedStyle& s, QStringView property)
{
    using namespace css;
    static const QStringList displays = {
        u"none"_s,        u"inline"_s,       u"block"_s,     u"inline-block"_s, u"list-item"_s,
        u"table"_s,       u"inline-table"_s, u"row-group"_s, u"row"_s,          u"cell"_s,
        u"caption"_s,     u"column"_s,       u"flex"_s,      u"inline-flex"_s,  u"grid"_s,
        u"inline-grid"_s, u"contents"_s};
    static const QStringList borderStyles = {u"none"_s,   u"hidden"_s, u"solid"_s,  u"dashed"_s,
                                             u"dotted"_s, u"double"_s, u"groove"_s, u"ridge"_s,
                                             u"inset"_s,  u"outset"_s};
    static const QStringList aligns = {u"start"_s, u"left"_s, u"right"_s, u"center"_s,
                                       u"justify"_s};
    static const QStringList valigns = {u"baseline"_s, u"sub"_s,        u"super"_s,
                                        u"top"_s,      u"middle"_s,     u"bottom"_s,
                                        u"text-top"_s, u"text-bottom"_s};
    static const QStringList spaces = {u"normal"_s, u"pre"_s, u"pre-wrap"_s, u"pre-line"_s,
                                       u"nowrap"_s};
    static const QStringList floats = {u"none"_s, u"left"_s, u"right"_s};
    if (property == u"display")
        return displays[int(s.display)];
    if (property == u"visible")
        return s.visible ? u"yes"_s : u"no"_s;
    if (property == u"color")
        return colorName(s.color);
    if (property == u"background-color")
        return colorName(s.backgroundColor);
    if (property == u"background-image")
        return s.backgroundImage;
    if (property == u"background-repeat")
        return s.backgroundTiles ? u"tiles"_s : u"strip"_s;
    if (property == u"font-size")
        return number(s.fontSize);
    if (property == u"font-weight")
        return QString::number(s.fontWeight);
    if (property == u"font-style")
        return s.italic ? u"italic"_s : u"normal"_s;
    if (property == u"font-family")
        return s.fontFamilies.join(u',');
    if (property == u"line-height")
        return s.lineHeight ? number(*s.lineHeight) : u"normal"_s;
    if (property == u"text-indent")
        return number(s.textIndent);
    if (property == u"white-space")
        return spaces[int(s.whiteSpace)];
    if (property == u"text-align")
        return aligns[int(s.textAlign)];
    if (property == u"vertical-align")
        return valigns[int(s.verticalAlign)];
    if (property == u"list-style-type")
        return s.listStyleType;
    if (property == u"border-spacing")
        return number(s.borderSpacing);
    if (property == u"border-collapse")
        return s.borderCollapse ? u"collapse"_s : u"separate"_s;
    if (property == u"text-decoration") {
        QStringList lines;
        if (s.textDecoration & Underline)
            lines << u"underline"_s;
        if (s.textDecoration & Overline)
            lines << u"overline"_s;
        if (s.textDecoration & LineThrough)
            lines << u"line-through"_s;
        return lines.isEmpty() ? u"none"_s : lines.join(u' ');
    }
    if (property == u"text-decoration-color")
        return colorName(s.textDecorationColor);
    if (property == u"margin")
        return fourSides<qreal, 4>(s.margin, &s.marginAuto);
    if (property == u"padding")
        return fourSides<qreal, 4>(s.padding);
    if (property.startsWith(u"border-")) {
        static const QStringList sides = {u"top"_s, u"right"_s, u"bottom"_s, u"left"_s};
        const BorderSide& b = s.border[size_t(sides.indexOf(property.sliced(7)))];
        return number(b.width) + u' ' + borderStyles[int(b.style)] + u' ' + colorName(b.color);
    }
    if (property == u"width")
        return sizeName(s.width);
    if (property == u"height")
        return sizeName(s.height);
    if (property == u"max-width")
        return sizeName(s.maxWidth);
    if (property == u"float")
        return floats[int(s.floating)];
    if (property == u"flex")
        return u"%1 %2"_s.arg(s.flexRow ? u"row" : u"column", s.flexWrap ? u"wrap" : u"nowrap");
    if (property == u"grid-columns")
        return QString::number(s.gridColumns);
    if (property == u"grid-tracks") {
        QStringList tracks;
        for (const qreal t : s.gridTracks)
            tracks << (t < 0 ? number(-t) + u"fr"_s : t > 0 ? number(t) : u"auto"_s);
        return tracks.join(u' ');
    }
    if (property == u"flex-grow")
        return number(s.flexGrow);
    if (property == u"justify-content")
        return QString::number(int(s.justifyContent));
    if (property == u"gap")
        return number(s.rowGap) + u' ' + number(s.columnGap);
    if (property == u"align-items")
        return QString::number(int(s.alignItems));
    if (property == u"out-of-flow")
        return s.outOfFlow ? u"yes"_s : u"no"_s;
    return u"?"_s;
}

css::ComputedStyle styleOf(const dom::Document& d, const QString& css, QStringView id,
                           const css::ViewMetrics& view = {})
{
    const css::Cascaded c = css::cascade(d, {{css, QUrl(u"https://example.com/css/a.css"_s)}}, view,
                                         {}, QUrl(u"https://example.com/page/"_s));
    const int node = byId(d, id);
    if (node == dom::kNone || c.styles.size() != d.nodes.size())
        return {};
    return c.styles[node];
}

} // namespace

class TestPageStyle : public QObject
{
    Q_OBJECT

private slots:
    void computed_data();
    void computed();
    void legacyColors_data();
    void legacyColors();
    void quirks_data();
    void quirks();
    void textNodesTakeTheirParentsStyle();
    void mediaFollowsTheView_data();
    void mediaFollowsTheView();
    void matchingStepsAreCapped();
    void descendantSelectorsFailEarly();
    void rulesBeyondTheLimitAreDropped();
};

void TestPageStyle::computed_data()
{
    QTest::addColumn<QString>("markup");
    QTest::addColumn<QString>("css");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QString& markup, const QString& css,
                        const QString& property, const QString& expected) {
        QTest::newRow(name) << markup << css << u"t"_s << property << expected;
    };
    const QString p = u"<p id=t class=c>x</p>"_s;

    // Specificity, order and origin.
    row("id over class over type", p, u"#t{color:red} .c{color:green} p{color:blue}"_s, u"color"_s,
        u"#ff0000"_s);
    row("class over a later type", p, u".c{color:green} p{color:blue}"_s, u"color"_s, u"#008000"_s);
    row("later of equals", p, u"p{color:blue} p{color:green}"_s, u"color"_s, u"#008000"_s);
    row(":not takes its argument's", p, u"p:not(#x){color:red} p.c{color:green}"_s, u"color"_s,
        u"#ff0000"_s);
    row(":is takes its most specific", p, u":is(p, #t){color:red} p.c.c{color:green}"_s, u"color"_s,
        u"#ff0000"_s);
    row(":where counts nothing", p, u":where(#t){color:red} p{color:green}"_s, u"color"_s,
        u"#008000"_s);
    row("important over id", p, u"p{color:red !important} #t{color:green}"_s, u"color"_s,
        u"#ff0000"_s);
    row("inline over id", u"<p id=t style='color:green'>x</p>"_s, u"#t{color:red}"_s, u"color"_s,
        u"#008000"_s);
    row("important over inline", u"<p id=t style='color:green'>x</p>"_s,
        u"#t{color:red !important}"_s, u"color"_s, u"#ff0000"_s);
    row("inline important over important", u"<p id=t style='color:green !important'>x</p>"_s,
        u"#t{color:red !important}"_s, u"color"_s, u"#008000"_s);
    row("author over the default sheet", u"<p id=t hidden>x</p>"_s, u"p{display:block}"_s,
        u"display"_s, u"block"_s);
    row("attribute over the default sheet", u"<table><tr><th id=t align=left>x</th></tr></table>"_s,
        {}, u"text-align"_s, u"left"_s);
    row("any author rule over an attribute", u"<table id=t bgcolor=red></table>"_s,
        u":where(table){background-color:green}"_s, u"background-color"_s, u"#008000"_s);

    // Selectors.
    row("type in any case", p, u"P{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("universal", p, u"*{color:red}"_s, u"color"_s, u"#ff0000"_s);
    const QString a = u"<p id=t title=hello lang=en-US class='a b'>x</p>"_s;
    row("[attr]", a, u"[title]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[ATTR] in any case", a, u"[TITLE]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[attr=v]", a, u"[title=hello]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[attr=V] is case-sensitive", a, u"[title=HELLO]{color:red}"_s, u"color"_s, u"#000000"_s);
    row("[attr=V i]", a, u"[title=HELLO i]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[attr~=v]", a, u"[class~=b]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[attr|=v]", a, u"[lang|=en]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[attr^=v]", a, u"[title^=he]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[attr$=v]", a, u"[title$=lo]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[attr*=v]", a, u"[title*=ell]{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("[attr*=v] missing", a, u"[title*=xyz]{color:red}"_s, u"color"_s, u"#000000"_s);
    const QString tree =
        u"<div class=d><p id=f>1</p><p id=m class=c>2</p><span id=s>3</span><p id=t>4</p></div>"_s;
    row("descendant", tree, u"body p{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("child", tree, u"div > p{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("child is not grandchild", tree, u"body > p{color:red}"_s, u"color"_s, u"#000000"_s);
    row("next sibling", tree, u"span + p{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("next sibling only", tree, u".c + p{color:red}"_s, u"color"_s, u"#000000"_s);
    row("subsequent sibling", tree, u".c ~ p{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":first-child", tree, u"p:first-child{color:red}"_s, u"color"_s, u"#000000"_s);
    row(":last-child", tree, u"p:last-child{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":only-child", tree, u"div:only-child p:only-child{color:red}"_s, u"color"_s, u"#000000"_s);
    row(":nth-child(2n)", tree, u"p:nth-child(2n){color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":nth-child(2n + 2)", tree, u"p:nth-child(2n + 2){color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":nth-child(odd)", tree, u"p:nth-child(odd){color:red}"_s, u"color"_s, u"#000000"_s);
    row(":nth-child(-n+3)", tree, u"p:nth-child(-n+3){color:red}"_s, u"color"_s, u"#000000"_s);
    row(":nth-child(3 of p)", tree, u":nth-child(3 of p){color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":nth-last-child(1)", tree, u"p:nth-last-child(1){color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":nth-of-type(3)", tree, u"p:nth-of-type(3){color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":nth-last-of-type(1)", tree, u"p:nth-last-of-type(1){color:red}"_s, u"color"_s,
        u"#ff0000"_s);
    row(":first-of-type", tree, u"p:first-of-type{color:red}"_s, u"color"_s, u"#000000"_s);
    row(":last-of-type", tree, u"p:last-of-type{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":only-of-type", u"<div><span>1</span><p id=t>2</p></div>"_s,
        u"p:only-of-type{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":not(list)", tree, u"p:not(.c, #f){color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":root", p, u":root{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":empty", u"<p id=t></p>"_s, u"p:empty{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":link", u"<a id=t href=x>x</a>"_s, {}, u"color"_s, u"#0000ee"_s);
    row("no :link without href", u"<a id=t>x</a>"_s, {}, u"color"_s, u"#000000"_s);
    row(":any-link", u"<a id=t href=x>x</a>"_s, u":any-link{color:red}"_s, u"color"_s,
        u"#ff0000"_s);
    row(":checked", u"<input id=t type=checkbox checked>"_s, u":checked{color:red}"_s, u"color"_s,
        u"#ff0000"_s);
    row(":disabled", u"<button id=t disabled>x</button>"_s, u":disabled{color:red}"_s, u"color"_s,
        u"#ff0000"_s);
    row(":lang", u"<div lang=zh-CN><p id=t>x</p></div>"_s, u":lang(zh){color:red}"_s, u"color"_s,
        u"#ff0000"_s);
    row(":lang not a prefix", u"<div lang=zhx><p id=t>x</p></div>"_s, u":lang(zh){color:red}"_s,
        u"color"_s, u"#000000"_s);
    row(":hover never", p, u"p:hover{color:red}"_s, u"color"_s, u"#000000"_s);
    row(":hover's list still counts", p, u"p:hover, p{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("::before never", p, u"p::before{color:red}"_s, u"color"_s, u"#000000"_s);
    row(":before never", p, u"p:before{color:red}"_s, u"color"_s, u"#000000"_s);
    row("invalid selector drops its rule", p, u"p:bogus, p{color:red} p{font-weight:bold}"_s,
        u"color"_s, u"#000000"_s);
    row("invalid selector drops only its rule", p, u"p:bogus, p{color:red} p{font-weight:bold}"_s,
        u"font-weight"_s, u"700"_s);
    row(":is forgives", p, u":is(p, :bogus){color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":not does not", p, u"p:not(:bogus){color:red}"_s, u"color"_s, u"#000000"_s);
    row("invalid declaration drops itself", p, u"p{color:nonsense; font-weight:bold}"_s,
        u"font-weight"_s, u"700"_s);
    row("invalid declaration keeps the earlier", p, u"p{color:red; color:nonsense}"_s, u"color"_s,
        u"#ff0000"_s);
    row("@supports", p, u"@supports (display:grid){p{color:red}}"_s, u"color"_s, u"#ff0000"_s);
    row("@supports not", p, u"@supports (display:nonsense){p{color:red}}"_s, u"color"_s,
        u"#000000"_s);
    row("@media print", p, u"@media print{p{color:red}}"_s, u"color"_s, u"#000000"_s);
    row("style attribute drops only the invalid",
        u"<p id=t style='color:nonsense; font-weight:bold'>x</p>"_s, {}, u"font-weight"_s,
        u"700"_s);
    row("other at-rules dropped", p, u"@font-face{font-family:x} @import 'y.css'; p{color:red}"_s,
        u"color"_s, u"#ff0000"_s);

    // Error recovery: what a sheet gets wrong drops only itself.
    row("a rule after a custom property", p, u".x{--a:red}p{color:blue}"_s, u"color"_s,
        u"#0000ff"_s);
    row("a rule after @media with a feature", p,
        u"@media (max-width:480px){.m{color:red}}p{color:blue}"_s, u"color"_s, u"#0000ff"_s);
    const QString invalid = u"p{color red;margin:calc(1px + 2px) 5;;x{y:z};width:10px;"
                            u"background:url(a b);font-size:12px}"_s;
    row("invalid declarations drop alone", p, invalid, u"font-size"_s, u"12"_s);
    row("invalid declarations drop alone, the next", p, invalid, u"width"_s, u"10px"_s);
    row("invalid declarations drop alone, themselves", p, invalid, u"color"_s, u"#000000"_s);
    row("invalid declarations drop alone, a length without a unit", p, invalid, u"margin"_s,
        u"12 0 12 0"_s);
    const QString badString = u"p{font-family:\"a\n;color:red}q{color:blue}"_s;
    row("a bad string ends its declaration at the line", p, badString, u"color"_s, u"#ff0000"_s);
    row("a bad string ends no rule", u"<p>x</p><q id=t>y</q>"_s, badString, u"color"_s,
        u"#0000ff"_s);
    row("rules after invalid selectors", p,
        u"p..x{color:red}p:nth-child(x){color:red}p:bogus(){color:red}p{font-weight:bold}"_s,
        u"font-weight"_s, u"700"_s);
    const QString escaped = u"<p id=t class='a:b 1x'>x</p>"_s;
    row("names escaped, a type in any case", escaped, u"P.a\\:b#t{color:red}"_s, u"color"_s,
        u"#ff0000"_s);
    row("a class escaped to start with a digit", escaped, u".\\31 x{color:red}"_s, u"color"_s,
        u"#ff0000"_s);
    const QString unknown = u"@keyframes k{from{color:red}}@foo bar{p{color:red}}@page{margin:1px}"
                            u"@namespace svg url(x);p{font-weight:bold}"_s;
    row("unknown at-rules drop alone", p, unknown, u"font-weight"_s, u"700"_s);
    row("unknown at-rules apply nothing", p, unknown, u"color"_s, u"#000000"_s);
    row("markup comment marks around rules", p, u"<!-- p{color:red} -->"_s, u"color"_s,
        u"#ff0000"_s);
    row("important with spaces and capitals", p, u"p{color:red ! IMPORTANT} #t{color:green}"_s,
        u"color"_s, u"#ff0000"_s);
    row("@supports and, not", p,
        u"@supports (color:red) and (not (display:nonsense)){p{color:red}}"_s, u"color"_s,
        u"#ff0000"_s);
    row("@supports or selector()", p,
        u"@supports (display:nonsense) or selector(a:hover){p{color:red}}"_s, u"color"_s,
        u"#ff0000"_s);
    row("@supports not selector()", p, u"@supports not selector(p:bogus){p{color:red}}"_s,
        u"color"_s, u"#ff0000"_s);

    // Colours.
    row("a name in any case", p, u"p{color:RebeccaPurple}"_s, u"color"_s, u"#663399"_s);
    row("hex of four", p, u"p{background-color:#f00c}"_s, u"background-color"_s, u"#ff0000/0.8"_s);
    row("hex of eight", p, u"p{border:1px solid #11223344}"_s, u"border-top"_s,
        u"1 solid #112233/0.27"_s);
    row("hex of three in capitals", p, u"p{color:#ABC}"_s, u"color"_s, u"#aabbcc"_s);
    row("hsl, spaces", p, u"p{color:hsl(120 100% 25%)}"_s, u"color"_s, u"#008000"_s);
    row("hsla, commas", p, u"p{color:hsla(240,100%,50%,.5)}"_s, u"color"_s, u"#0000ff/0.5"_s);
    row("rgb of percentages and a slash", p, u"p{color:rgb(10% 20% 30% / 50%)}"_s, u"color"_s,
        u"#1a334d/0.5"_s);
    row("rgba of three", p, u"p{color:rgba(1,2,3)}"_s, u"color"_s, u"#010203"_s);
    row("transparent", p, u"p{color:red; color:transparent}"_s, u"color"_s, u"transparent"_s);
    row("a colour's name in a font's place", p, u"p{font-family:Red,serif}"_s, u"font-family"_s,
        u"Red,serif"_s);
    row("not a colour", p, u"p{color:red; color:reddish}"_s, u"color"_s, u"#ff0000"_s);
    row("radial gradient middle", p,
        u"p{background-image:radial-gradient(circle,white 0%,black 20%,navy)}"_s,
        u"background-color"_s, u"#000030"_s);

    // Sheets made to cost: nothing grows past its bounds, and what follows
    // them still applies.
    QString doubling = u":root{--v0:1px"_s;
    for (int i = 1; i < 60; ++i)
        doubling += u";--v%1:var(--v%2) var(--v%2)"_s.arg(i).arg(i - 1);
    row("var doubling sixty times", p, doubling + u"}p{margin:var(--v59);color:red}"_s, u"color"_s,
        u"#ff0000"_s);
    QString chain = u":root{--c0:red"_s;
    for (int i = 1; i < 5000; ++i)
        chain += u";--c%1:var(--c%2)"_s.arg(i).arg(i - 1);
    row("a chain of five thousand vars", p, chain + u"}p{color:var(--c4999);margin:1px}"_s,
        u"margin"_s, u"1 1 1 1"_s);
    row("@media nested a thousand deep", p,
        u"@media all{"_s.repeated(1000) + u"p{color:red}"_s + u"}"_s.repeated(1000) +
            u"p{font-weight:bold}"_s,
        u"font-weight"_s, u"700"_s);
    row("@media nested a thousand deep applies nothing", p,
        u"@media all{"_s.repeated(1000) + u"p{color:red}"_s + u"}"_s.repeated(1000), u"color"_s,
        u"#000000"_s);
    row("parentheses a hundred thousand deep", p,
        u"p{font-weight:bold}@media "_s + u"("_s.repeated(100000) + u"{p{color:red}}"_s,
        u"font-weight"_s, u"700"_s);
    row("@supports nested deep", p,
        u"@supports "_s + u"(not "_s.repeated(1000) + u"(color:red)"_s + u")"_s.repeated(1000) +
            u"{p{color:red}}p{font-weight:bold}"_s,
        u"font-weight"_s, u"700"_s);
    row("a selector of a thousand compounds", p,
        u"p "_s.repeated(1000) + u"{color:red}p{font-weight:bold}"_s, u"font-weight"_s, u"700"_s);
    row("unclosed blocks", p, u"p{color:red;x:(["_s, u"color"_s, u"#ff0000"_s);

    // Inheritance.
    const QString nested = u"<div><span id=t>x</span></div>"_s;
    row("color inherits", nested, u"div{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("margin does not", nested, u"div{margin:10px}"_s, u"margin"_s, u"0 0 0 0"_s);
    row("background does not", nested, u"div{background:red}"_s, u"background-color"_s,
        u"transparent"_s);
    row("inherit", nested, u"div{border:2px solid red} span{border:inherit}"_s, u"border-top"_s,
        u"2 solid #ff0000"_s);
    row("initial", nested, u"div{color:red} span{color:initial}"_s, u"color"_s, u"#000000"_s);
    row("unset inherits", nested, u"div{color:red} span{color:blue; color:unset}"_s, u"color"_s,
        u"#ff0000"_s);
    row("visibility inherits", nested, u"div{visibility:hidden}"_s, u"visible"_s, u"no"_s);
    row("visibility back", nested, u"div{visibility:hidden} span{visibility:visible}"_s,
        u"visible"_s, u"yes"_s);

    row("each selector of a list its own specificity", p, u"#t, div{color:red} p.c{color:green}"_s,
        u"color"_s, u"#ff0000"_s);
    row("@media inside @supports", p,
        u"@supports (display:block){@media (min-width:1px){p{color:red}}}"_s, u"color"_s,
        u"#ff0000"_s);
    row("revert", nested, u"div{color:red} span{color:blue; color:revert}"_s, u"color"_s,
        u"#ff0000"_s);
    row("custom property initial", p, u":root{--c:red} p{--c:initial; color:var(--c, green)}"_s,
        u"color"_s, u"#008000"_s);
    row("border-collapse inherits", u"<table><tr><td id=t>x</td></tr></table>"_s,
        u"table{border-collapse:collapse}"_s, u"border-collapse"_s, u"collapse"_s);
    row("cellspacing inherits", u"<table cellspacing=5><tr><td id=t>x</td></tr></table>"_s, {},
        u"border-spacing"_s, u"5"_s);
    row("line-height % is computed", u"<div><p id=t>x</p></div>"_s,
        u"div{font-size:20px; line-height:150%} p{font-size:10px}"_s, u"line-height"_s, u"30"_s);
    row("unset on a property not inherited", p, u"p{margin:unset}"_s, u"margin"_s, u"0 0 0 0"_s);
    row("inherit a shorthand", nested, u"div{margin:3px} span{margin:inherit}"_s, u"margin"_s,
        u"3 3 3 3"_s);
    row(":not(:hover)", p, u"p:not(:hover){color:red}"_s, u"color"_s, u"#ff0000"_s);
    row(":is() of nothing valid", p, u"p:is(:bogus){color:red}"_s, u"color"_s, u"#000000"_s);
    row("@supports selector()", p, u"@supports selector(p > span){p{color:red}}"_s, u"color"_s,
        u"#ff0000"_s);
    row("style attribute url", u"<p id=t style='background-image:url(b.png)'>x</p>"_s, {},
        u"background-image"_s, u"https://example.com/page/b.png"_s);
    row("shorthand repeat-x", p, u"p{background:url(b.png) repeat-x #eee}"_s,
        u"background-repeat"_s, u"strip"_s);
    row("repeat on both axes", p,
        u"p{background-repeat:no-repeat;background-repeat:repeat round}"_s, u"background-repeat"_s,
        u"tiles"_s);
    row("repeat-x takes no second value", p,
        u"p{background-repeat:no-repeat;background-repeat:repeat-x repeat}"_s,
        u"background-repeat"_s, u"strip"_s);
    row("shorthand resets repeat", p, u"p{background-repeat:no-repeat;background:url(b.png)}"_s,
        u"background-repeat"_s, u"tiles"_s);

    // Units.
    row("em and % chain", u"<div><p><span id=t>x</span></p></div>"_s,
        u"div{font-size:20px} p{font-size:1.5em} span{font-size:50%}"_s, u"font-size"_s, u"15"_s);
    row("rem", nested, u"html{font-size:10px} div{font-size:30px} span{padding-left:2rem}"_s,
        u"padding"_s, u"0 0 0 20"_s);
    row("em on the own font size", p, u"p{font-size:20px; margin:1em}"_s, u"margin"_s,
        u"20 20 20 20"_s);
    row("ex", nested, u"span{font-size:20px; text-indent:2ex}"_s, u"text-indent"_s, u"20"_s);
    row("vw", nested, u"span{width:50vw}"_s, u"width"_s, u"184.5px"_s);
    row("pt", nested, u"span{font-size:12pt}"_s, u"font-size"_s, u"16"_s);
    row("in", nested, u"span{width:1in}"_s, u"width"_s, u"96px"_s);
    row("%", nested, u"span{width:50%; max-width:none}"_s, u"width"_s, u"50%"_s);
    row("calc", nested, u"span{font-size:20px; padding-left:calc(1em + 2px * 3)}"_s, u"padding"_s,
        u"0 0 0 26"_s);
    row("calc of a %", nested, u"span{margin-left:calc(50% - 4.5px)}"_s, u"margin"_s,
        u"0 0 0 180"_s);
    row("clamp", nested, u"span{font-size:clamp(10px, 10vw, 20px)}"_s, u"font-size"_s, u"20"_s);
    row("min", nested, u"span{width:min(100px, 2em)}"_s, u"width"_s, u"32px"_s);
    row("calc mixing a number in", nested, u"span{width:10px; width:calc(1px + 2)}"_s, u"width"_s,
        u"10px"_s);
    row("keyword size", nested, u"span{font-size:xx-large}"_s, u"font-size"_s, u"32"_s);
    row("larger", nested, u"div{font-size:20px} span{font-size:larger}"_s, u"font-size"_s, u"24"_s);
    row("small", u"<small id=t>x</small>"_s, {}, u"font-size"_s, u"13.33"_s);
    row("h1", u"<h1 id=t>x</h1>"_s, {}, u"font-size"_s, u"32"_s);
    row("h1 margins", u"<h1 id=t>x</h1>"_s, {}, u"margin"_s, u"21.44 0 21.44 0"_s);
    row("h1 in small text", u"<div><h1 id=t>x</h1></div>"_s, u"div{font-size:10px}"_s,
        u"font-size"_s, u"20"_s);
    row("font size 5", u"<font id=t size=5>x</font>"_s, {}, u"font-size"_s, u"24"_s);
    row("font size +1", u"<font id=t size=+1>x</font>"_s, {}, u"font-size"_s, u"18"_s);
    row("font size -2", u"<font id=t size=-2>x</font>"_s, {}, u"font-size"_s, u"10"_s);
    row("font size 9", u"<font id=t size=9>x</font>"_s, {}, u"font-size"_s, u"48"_s);
    row("line-height number inherits as a number", u"<div><p id=t>x</p></div>"_s,
        u"div{font-size:10px; line-height:2} p{font-size:20px}"_s, u"line-height"_s, u"40"_s);
    row("font", p, u"p{font:italic bold 20px/1.5 Georgia, serif}"_s, u"line-height"_s, u"30"_s);
    row("font family", p, u"p{font:italic bold 20px/1.5 Georgia, 'Times New Roman', serif}"_s,
        u"font-family"_s, u"Georgia,Times New Roman,serif"_s);
    row("font resets line-height", p, u"p{line-height:40px; font:12px serif}"_s, u"line-height"_s,
        u"normal"_s);
    row("lighter", u"<b><span id=t>x</span></b>"_s, u"span{font-weight:lighter}"_s,
        u"font-weight"_s, u"400"_s);
    row("weight number", p, u"p{font-weight:600}"_s, u"font-weight"_s, u"600"_s);
    row("oblique with its angle", p, u"p{font-style:oblique 10deg}"_s, u"font-style"_s,
        u"italic"_s);
    row("em height", p, u"p{font-size:10px; height:3em}"_s, u"height"_s, u"30px"_s);
    row("max-width", p, u"p{max-width:20em}"_s, u"max-width"_s, u"320px"_s);
    row("bolder twice", u"<b><b id=t>x</b></b>"_s, {}, u"font-weight"_s, u"900"_s);

    // The default sheet.
    row("body margin", p, {}, u"margin"_s, u"16 0 16 0"_s);
    row("blockquote", u"<blockquote id=t>x</blockquote>"_s, {}, u"margin"_s, u"16 40 16 40"_s);
    row("dd", u"<dl><dd id=t>x</dd></dl>"_s, {}, u"margin"_s, u"0 0 0 40"_s);
    row("ul padding", u"<ul id=t><li>x</li></ul>"_s, {}, u"padding"_s, u"0 0 0 40"_s);
    row("nested ul", u"<ul><li><ul id=t><li>x</li></ul></li></ul>"_s, {}, u"list-style-type"_s,
        u"circle"_s);
    row("nested ul in ol", u"<ol><li><ul><li><ul id=t></ul></li></ul></li></ol>"_s, {},
        u"list-style-type"_s, u"square"_s);
    row("li", u"<ul><li id=t>x</li></ul>"_s, {}, u"display"_s, u"list-item"_s);
    row("script", u"<script id=t>x</script>"_s, {}, u"display"_s, u"none"_s);
    row("hidden", u"<p id=t hidden>x</p>"_s, {}, u"display"_s, u"none"_s);
    row("display:none", u"<div id=t style='display:none'>x</div>"_s, {}, u"display"_s, u"none"_s);
    row("tbody", u"<table><tbody id=t><tr><td>x</td></tr></tbody></table>"_s, {}, u"display"_s,
        u"row-group"_s);
    row("th", u"<table><tr><th id=t>x</th></tr></table>"_s, {}, u"font-weight"_s, u"700"_s);
    row("td padding", u"<table><tr><td id=t>x</td></tr></table>"_s, {}, u"padding"_s, u"1 1 1 1"_s);
    row("table spacing", u"<table id=t></table>"_s, {}, u"border-spacing"_s, u"2"_s);
    row("hr", u"<hr id=t>"_s, {}, u"border-top"_s, u"1 inset #808080"_s);
    row("hr margin", u"<hr id=t>"_s, {}, u"margin"_s, u"8 auto 8 auto"_s);
    row("pre", u"<pre id=t>x</pre>"_s, {}, u"white-space"_s, u"pre"_s);
    row("code", u"<code id=t>x</code>"_s, {}, u"font-family"_s, u"monospace"_s);
    row("nobr", u"<nobr id=t>x</nobr>"_s, {}, u"white-space"_s, u"nowrap"_s);
    row("mark", u"<mark id=t>x</mark>"_s, {}, u"background-color"_s, u"#ffff00"_s);
    row("sub", u"<sub id=t>x</sub>"_s, {}, u"vertical-align"_s, u"sub"_s);
    row("center", u"<center><p id=t>x</p></center>"_s, {}, u"text-align"_s, u"center"_s);

    // Presentational attributes.
    const auto cell = [](const QString& table, const QString& td) {
        return u"<table "_s + table + u"><tr><td id=t "_s + td + u">x</td></tr></table>"_s;
    };
    row("bgcolor hex without #", cell({}, u"bgcolor=ff0000"_s), {}, u"background-color"_s,
        u"#ff0000"_s);
    row("bgcolor chucknorris", cell({}, u"bgcolor=chucknorris"_s), {}, u"background-color"_s,
        u"#c00000"_s);
    row("bgcolor #fff", cell({}, u"bgcolor=#fff"_s), {}, u"background-color"_s, u"#ffffff"_s);
    row("bgcolor transparent", cell({}, u"bgcolor=transparent"_s), {}, u"background-color"_s,
        u"transparent"_s);
    row("table border", u"<table id=t border=2></table>"_s, {}, u"border-top"_s,
        u"2 outset #000000"_s);
    row("table border to cells", cell(u"border=2"_s, {}), {}, u"border-left"_s,
        u"1 inset #000000"_s);
    row("table border in the text's colour", u"<table id=t border=1 style=color:red></table>"_s, {},
        u"border-top"_s, u"1 outset #ff0000"_s);
    row("table border 0", cell(u"border=0"_s, {}), {}, u"border-left"_s, u"0 none #808080"_s);
    row("bordercolor", cell(u"border=1 bordercolor=green"_s, {}), {}, u"border-left"_s,
        u"1 inset #008000"_s);
    row("cellpadding", cell(u"cellpadding=5"_s, {}), {}, u"padding"_s, u"5 5 5 5"_s);
    row("cellspacing", u"<table id=t cellspacing=0></table>"_s, {}, u"border-spacing"_s, u"0"_s);
    row("td width", cell({}, u"width=100"_s), {}, u"width"_s, u"100px"_s);
    row("table width", u"<table id=t width=80%></table>"_s, {}, u"width"_s, u"80%"_s);
    row("td nowrap", cell({}, u"nowrap"_s), {}, u"white-space"_s, u"nowrap"_s);
    row("td valign", cell({}, u"valign=top"_s), {}, u"vertical-align"_s, u"top"_s);
    row("tr align", u"<table><tr align=right><td id=t>x</td></tr></table>"_s, {}, u"text-align"_s,
        u"right"_s);
    row("div align", u"<div id=t align=center>x</div>"_s, {}, u"text-align"_s, u"center"_s);
    row("table align center", u"<table id=t align=center></table>"_s, {}, u"margin"_s,
        u"0 auto 0 auto"_s);
    row("table align right", u"<table id=t align=right></table>"_s, {}, u"float"_s, u"right"_s);
    row("img align left", u"<img id=t align=left>"_s, {}, u"float"_s, u"left"_s);
    row("img align middle", u"<img id=t align=middle>"_s, {}, u"vertical-align"_s, u"middle"_s);
    row("img hspace vspace", u"<img id=t hspace=5 vspace=3>"_s, {}, u"margin"_s, u"3 5 3 5"_s);
    row("hr color", u"<hr id=t color=red>"_s, {}, u"border-top"_s, u"1 solid #ff0000"_s);
    row("hr color background", u"<hr id=t color=red>"_s, {}, u"background-color"_s, u"#ff0000"_s);
    row("hr size", u"<hr id=t size=4>"_s, {}, u"height"_s, u"2px"_s);
    row("hr noshade size", u"<hr id=t noshade size=4>"_s, {}, u"border-top"_s,
        u"2 solid #808080"_s);
    row("hr align left", u"<hr id=t align=left>"_s, {}, u"margin"_s, u"8 auto 8 0"_s);
    row("font color", u"<font id=t color=blue>x</font>"_s, {}, u"color"_s, u"#0000ff"_s);
    row("font face", u"<font id=t face='Arial, Helvetica'>x</font>"_s, {}, u"font-family"_s,
        u"Arial,Helvetica"_s);
    row("body text", u"<body text=red><p id=t>x</p>"_s, {}, u"color"_s, u"#ff0000"_s);
    row("body leftmargin", u"<body id=t leftmargin=0>"_s, {}, u"margin"_s, u"8 0 8 0"_s);
    row("body topmargin", u"<body id=t topmargin=3>"_s, {}, u"margin"_s, u"3 8 3 8"_s);
    row("body marginwidth", u"<body id=t marginwidth=4 leftmargin=0>"_s, {}, u"margin"_s,
        u"8 4 8 4"_s);
    row("body background", u"<body id=t background=img.png>"_s, {}, u"background-image"_s,
        u"https://example.com/page/img.png"_s);
    row("body link", u"<body link=green><a id=t href=x>x</a>"_s, {}, u"color"_s, u"#008000"_s);
    row("body link under author rules", u"<body link=green><a id=t href=x>x</a>"_s,
        u"a{color:red}"_s, u"color"_s, u"#ff0000"_s);
    row("img width", u"<img id=t width=50 height=20>"_s, {}, u"width"_s, u"50px"_s);
    row("tr valign reaches its cells", u"<table><tr valign=bottom><td id=t>x</td></tr></table>"_s,
        {}, u"vertical-align"_s, u"bottom"_s);
    row("hidden input", u"<input id=t type=HIDDEN>"_s, {}, u"display"_s, u"none"_s);
    row("closed dialog", u"<dialog id=t>x</dialog>"_s, {}, u"display"_s, u"none"_s);
    row("open dialog", u"<dialog id=t open>x</dialog>"_s, {}, u"display"_s, u"block"_s);
    row("ol type a", u"<ol id=t type=a></ol>"_s, {}, u"list-style-type"_s, u"lower-alpha"_s);
    row("ol type A", u"<ol id=t type=A></ol>"_s, {}, u"list-style-type"_s, u"upper-alpha"_s);
    row("ul type", u"<ul id=t type=square></ul>"_s, {}, u"list-style-type"_s, u"square"_s);

    // var().
    row("var from :root", p, u":root{--c:red} p{color:var(--c)}"_s, u"color"_s, u"#ff0000"_s);
    row("var inherited", u"<div><p id=t>x</p></div>"_s,
        u":root{--c:red} div{--c:green} p{color:var(--c)}"_s, u"color"_s, u"#008000"_s);
    row("var per subtree",
        u"<div style='--c:red'><p>x</p></div><div style='--c:green'><p id=t>x</p></div>"_s,
        u"p{color:var(--c)}"_s, u"color"_s, u"#008000"_s);
    row("var invalid for the property unsets", u"<div><p id=t>x</p></div>"_s,
        u"div{color:green} p{--c:10px; color:red; color:var(--c)}"_s, u"color"_s, u"#008000"_s);
    row("var in a shorthand", p, u"p{--w:2px; border:var(--w) solid red}"_s, u"border-top"_s,
        u"2 solid #ff0000"_s);
    row("var fallback", p, u"p{color:var(--none, blue)}"_s, u"color"_s, u"#0000ff"_s);
    row("var cycle inherits", u"<div><p id=t>x</p></div>"_s,
        u"div{color:green} p{--a:var(--b); --b:var(--a); color:red; color:var(--a)}"_s, u"color"_s,
        u"#008000"_s);
    row("var cycle to initial", p,
        u"p{--a:var(--a); background-color:red; background-color:var(--a)}"_s,
        u"background-color"_s, u"transparent"_s);
    row("var tokens computed where used", u"<div><p id=t>x</p></div>"_s,
        u"div{--s:2em; font-size:10px} p{font-size:20px; padding-left:var(--s)}"_s, u"padding"_s,
        u"0 0 0 40"_s);

    // Shorthands and values.
    row("border", p, u"p{border:3px dashed blue}"_s, u"border-left"_s, u"3 dashed #0000ff"_s);
    row("border-style alone", p, u"p{border-style:solid}"_s, u"border-top"_s, u"3 solid #000000"_s);
    row("border without style", p, u"p{border-width:5px}"_s, u"border-top"_s, u"0 none #000000"_s);
    row("border side", p, u"p{border:1px solid; border-right:thick double}"_s, u"border-right"_s,
        u"5 double #000000"_s);
    row("currentColor", p, u"p{border:1px solid currentColor; color:blue}"_s, u"border-top"_s,
        u"1 solid #0000ff"_s);
    row("border colour by default", p, u"p{color:red; border:1px solid}"_s, u"border-top"_s,
        u"1 solid #ff0000"_s);
    row("margin three", p, u"p{margin:1px 2px 3px}"_s, u"margin"_s, u"1 2 3 2"_s);
    row("margin auto", p, u"p{margin:0 auto}"_s, u"margin"_s, u"0 auto 0 auto"_s);
    row("margin then side", p, u"p{margin:5px; margin-left:7px}"_s, u"margin"_s, u"5 5 5 7"_s);
    row("margin-inline", p, u"p{margin-inline:auto 4px}"_s, u"margin"_s, u"16 4 16 auto"_s);
    row("padding-block-start", p, u"p{padding-block-start:3px}"_s, u"padding"_s, u"3 0 0 0"_s);
    row("negative padding invalid", p, u"p{padding:5px; padding:-1px}"_s, u"padding"_s,
        u"5 5 5 5"_s);
    row("background", p, u"p{background:url(i.png) red no-repeat}"_s, u"background-image"_s,
        u"https://example.com/css/i.png"_s);
    row("background colour", p, u"p{background:url(i.png) red no-repeat}"_s, u"background-color"_s,
        u"#ff0000"_s);
    row("background resets colour", p, u"p{background-color:red; background:url(x.png)}"_s,
        u"background-color"_s, u"transparent"_s);
    row("gradient middle", p,
        u"p{background:linear-gradient(to right, black, #ff0000 50%, blue)}"_s,
        u"background-color"_s, u"#ff0000"_s);
    row("underline carried", u"<u><span id=t>x</span></u>"_s, {}, u"text-decoration"_s,
        u"underline"_s);
    row("decorations add up", u"<u><s><span id=t>x</span></s></u>"_s, {}, u"text-decoration"_s,
        u"underline line-through"_s);
    row("none does not undo", u"<u><span id=t>x</span></u>"_s, u"span{text-decoration:none}"_s,
        u"text-decoration"_s, u"underline"_s);
    row("not into floats", u"<u><span id=t style='float:left'>x</span></u>"_s, {},
        u"text-decoration"_s, u"none"_s);
    row("decoration colour", u"<u style='color:red'><span id=t style='color:blue'>x</span></u>"_s,
        {}, u"text-decoration-color"_s, u"#ff0000"_s);
    row("grid repeat", u"<div id=t></div>"_s,
        u"div{display:grid; grid-template-columns:repeat(3, 1fr) 100px}"_s, u"grid-columns"_s,
        u"4"_s);
    row("grid names", u"<div id=t></div>"_s, u"div{grid-template-columns:[a] 1fr [b] 2fr}"_s,
        u"grid-columns"_s, u"2"_s);
    row("grid auto-fill", u"<div id=t></div>"_s,
        u"div{grid-template-columns:repeat(auto-fill, 100px)}"_s, u"grid-columns"_s, u"3"_s);
    row("grid tracks' sizes", u"<div id=t style='font-size:13px'></div>"_s,
        u"div{grid-template-columns:5em 1fr minmax(0,2fr) auto}"_s, u"grid-tracks"_s,
        u"65 1fr auto auto"_s);
    row("grid tracks repeated", u"<div id=t></div>"_s,
        u"div{grid-template-columns:repeat(2, 80px 1fr) 3fr}"_s, u"grid-tracks"_s,
        u"80 1fr 80 1fr 3fr"_s);
    row("grid tracks none", u"<div id=t></div>"_s,
        u"div{grid-template-columns:1fr;grid-template-columns:none}"_s, u"grid-tracks"_s, u""_s);
    row("flex-flow", u"<div id=t></div>"_s, u"div{flex-flow:column wrap}"_s, u"flex"_s,
        u"column wrap"_s);
    const QString box = u"<div id=t></div>"_s;
    row("gap, one value for both", box, u"div{gap:1em}"_s, u"gap"_s, u"16 16"_s);
    row("gap, row then column", box, u"div{gap:4px 8px}"_s, u"gap"_s, u"4 8"_s);
    row("grid-gap alias", box, u"div{grid-gap:3px}"_s, u"gap"_s, u"3 3"_s);
    row("column-gap alone", box, u"div{gap:2px;column-gap:9px}"_s, u"gap"_s, u"2 9"_s);
    row("grid-row-gap alias", box, u"div{grid-row-gap:5px}"_s, u"gap"_s, u"5 0"_s);
    row("gap normal", box, u"div{gap:4px;gap:normal}"_s, u"gap"_s, u"0 0"_s);
    row("negative gap dropped", box, u"div{gap:4px;gap:-2px}"_s, u"gap"_s, u"4 4"_s);
    row("three gaps dropped", box, u"div{gap:4px;gap:1px 2px 3px}"_s, u"gap"_s, u"4 4"_s);
    row("gap not inherited", nested, u"div{gap:4px}"_s, u"gap"_s, u"0 0"_s);
    row("gap inherit", nested, u"div{gap:4px} span{gap:inherit}"_s, u"gap"_s, u"4 4"_s);
    row("align-items center", box, u"div{align-items:center}"_s, u"align-items"_s, u"2"_s);
    row("align-items flex-end", box, u"div{align-items:flex-end}"_s, u"align-items"_s, u"3"_s);
    row("align-items unknown dropped", box, u"div{align-items:center;align-items:middle}"_s,
        u"align-items"_s, u"2"_s);
    row("flex a number", box, u"div{flex:2}"_s, u"flex-grow"_s, u"2"_s);
    row("flex three values", box, u"div{flex:1 1 0%}"_s, u"flex-grow"_s, u"1"_s);
    row("flex none", box, u"div{flex:3;flex:none}"_s, u"flex-grow"_s, u"0"_s);
    row("flex auto", box, u"div{flex:auto}"_s, u"flex-grow"_s, u"1"_s);
    row("flex a lone basis grows", box, u"div{flex:100px}"_s, u"flex-grow"_s, u"1"_s);
    row("flex-grow negative dropped", box, u"div{flex-grow:2;flex-grow:-1}"_s, u"flex-grow"_s,
        u"2"_s);
    row("flex-grow not inherited", nested, u"div{flex:1}"_s, u"flex-grow"_s, u"0"_s);
    row("justify-content space-between", box, u"div{justify-content:space-between}"_s,
        u"justify-content"_s, u"3"_s);
    row("justify-content flex-end", box, u"div{justify-content:flex-end}"_s, u"justify-content"_s,
        u"1"_s);
    row("justify-content unknown dropped", box,
        u"div{justify-content:center;justify-content:middle}"_s, u"justify-content"_s, u"2"_s);
    row("absolute", nested, u"span{position:absolute}"_s, u"out-of-flow"_s, u"yes"_s);
    row("absolute is a block", nested, u"span{position:absolute}"_s, u"display"_s, u"block"_s);
    row("float is a block", nested, u"span{float:right}"_s, u"display"_s, u"block"_s);
    row("display two words", u"<div id=t></div>"_s, u"div{display:inline flex}"_s, u"display"_s,
        u"inline-flex"_s);
    row("display contents", u"<div id=t></div>"_s, u"div{display:contents}"_s, u"display"_s,
        u"contents"_s);
    row("visibility collapse", p, u"p{visibility:collapse}"_s, u"visible"_s, u"no"_s);
    row("list-style none", u"<ul id=t></ul>"_s, u"ul{list-style:none}"_s, u"list-style-type"_s,
        u"none"_s);
    row("text-align end", p, u"p{text-align:end}"_s, u"text-align"_s, u"right"_s);
    row("-webkit-center", p, u"p{text-align:-webkit-center}"_s, u"text-align"_s, u"center"_s);
    row("list-style", u"<ul id=t></ul>"_s, u"ul{list-style:square inside}"_s, u"list-style-type"_s,
        u"square"_s);
}

void TestPageStyle::computed()
{
    QFETCH(QString, markup);
    QFETCH(QString, css);
    QFETCH(QString, id);
    QFETCH(QString, property);
    QFETCH(QString, expected);
    const dom::Document d = documentOf(markup);
    QVERIFY(byId(d, id) != dom::kNone);
    QCOMPARE(describe(styleOf(d, css, id), property), expected);
}

void TestPageStyle::legacyColors_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name") << u"RED"_s << u"#ff0000"_s;
    QTest::newRow("hex without #") << u"ff0000"_s << u"#ff0000"_s;
    QTest::newRow("three digits") << u" #0f0 "_s << u"#00ff00"_s;
    QTest::newRow("four digits") << u"#abcd"_s << u"#abcd00"_s;
    QTest::newRow("seven digits") << u"#1234567"_s << u"#124570"_s;
    QTest::newRow("chucknorris") << u"chucknorris"_s << u"#c00000"_s;
    QTest::newRow("ninjaturtle") << u"ninjaturtle"_s << u"#00a000"_s;
    QTest::newRow("crap") << u"crap"_s << u"#c0a000"_s;
    QTest::newRow("transparent") << u"transparent"_s << u"transparent"_s;
    QTest::newRow("empty") << QString() << u"transparent"_s;
}

void TestPageStyle::legacyColors()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    const dom::Document d =
        documentOf(u"<table><tr><td id=t bgcolor='"_s + value + u"'>x</td></tr></table>"_s);
    QCOMPARE(describe(styleOf(d, {}, u"t"), u"background-color"), expected);
}

void TestPageStyle::quirks_data()
{
    QTest::addColumn<QString>("markup");
    QTest::addColumn<QString>("css");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("standards");
    QTest::addColumn<QString>("quirks");
    const QString cell = u"<div><table><tr><td id=t>x</td></tr></table></div>"_s;
    QTest::newRow("table font size")
        << cell << u"div{font-size:20px}"_s << u"font-size"_s << u"20"_s << u"16"_s;
    QTest::newRow("table font weight")
        << cell << u"div{font-weight:bold}"_s << u"font-weight"_s << u"700"_s << u"400"_s;
    QTest::newRow("table colour inherits")
        << cell << u"div{color:red}"_s << u"color"_s << u"#ff0000"_s << u"#ff0000"_s;
    QTest::newRow("id in any case") << u"<p id=T>x</p><p id=t>y</p>"_s << u"#T{color:red}"_s
                                    << u"color"_s << u"#000000"_s << u"#ff0000"_s;
    QTest::newRow("class in any case") << u"<p id=t class=Big>x</p>"_s << u".big{color:red}"_s
                                       << u"color"_s << u"#000000"_s << u"#ff0000"_s;
}

void TestPageStyle::quirks()
{
    QFETCH(QString, markup);
    QFETCH(QString, css);
    QFETCH(QString, property);
    QFETCH(QString, standards);
    QFETCH(QString, quirks);
    QCOMPARE(describe(styleOf(documentOf(markup), css, u"t"), property), standards);
    QCOMPARE(describe(styleOf(documentOf(markup, true), css, u"t"), property), quirks);
}

void TestPageStyle::textNodesTakeTheirParentsStyle()
{
    const dom::Document d = documentOf(u"<p id=t>text</p>"_s);
    const css::Cascaded c = css::cascade(d, {{u"p{color:red; margin:3px}"_s, {}}}, {});
    const int p = byId(d, u"t");
    const int text = d[p].firstChild;
    QCOMPARE(d[text].type, dom::Node::Type::Text);
    QCOMPARE(c.styles[text], c.styles[p]);
    QCOMPARE(describe(c.styles[0], u"color"), u"#000000"_s);
    QCOMPARE(describe(c.styles[0], u"display"), u"inline"_s);
}

void TestPageStyle::mediaFollowsTheView_data()
{
    QTest::addColumn<qreal>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("narrow") << qreal(300) << u"#000000"_s;
    QTest::newRow("wide") << qreal(600) << u"#ff0000"_s;
}

void TestPageStyle::mediaFollowsTheView()
{
    QFETCH(qreal, width);
    QFETCH(QString, expected);
    const dom::Document d = documentOf(u"<p id=t>x</p>"_s);
    css::ViewMetrics view;
    view.width = width;
    QCOMPARE(describe(styleOf(d, u"@media (min-width: 500px) { p { color: red } }"_s, u"t", view),
                      u"color"),
             expected);
}

static QString nestedDivs(int depth, const QString& inside)
{
    return u"<div>"_s.repeated(depth) + inside + u"</div>"_s.repeated(depth);
}

void TestPageStyle::matchingStepsAreCapped()
{
    const dom::Document d =
        documentOf(nestedDivs(40, u"<p>x</p>"_s) + u"<ul id=t><li>x</li></ul>"_s);
    const QString css = u"span p{color:red} ul{color:green}"_s;
    css::CascadeLimits limits;
    limits.maxMatchSteps = 20;
    const css::Cascaded c = css::cascade(d, {{css, {}}}, {}, limits);
    QVERIFY(c.capped);
    // Past the cap the page's rules are passed over, the browser's are not.
    const css::ComputedStyle& after = c.styles[byId(d, u"t")];
    QCOMPARE(describe(after, u"color"), u"#000000"_s);
    QCOMPARE(describe(after, u"display"), u"block"_s);
    QCOMPARE(describe(after, u"padding"), u"0 0 0 40"_s);
    const css::Cascaded uncapped = css::cascade(d, {{css, {}}}, {});
    QVERIFY(!uncapped.capped);
    QCOMPARE(describe(uncapped.styles[byId(d, u"t")], u"color"), u"#008000"_s);
}

void TestPageStyle::descendantSelectorsFailEarly()
{
    // Ten descendant compounds over forty nested divs, the leftmost in none
    // of them: trying every way to place the other nine would take 10^8
    // steps and meet the cap.
    const dom::Document d = documentOf(nestedDivs(40, u"<p id=t>x</p>"_s));
    const QString divs = u"div "_s.repeated(10);
    const css::Cascaded c = css::cascade(
        d, {{u"span "_s + divs + u"p{color:red} "_s + divs + u"p{font-weight:bold}"_s, {}}}, {});
    QVERIFY(!c.capped);
    QCOMPARE(describe(c.styles[byId(d, u"t")], u"color"), u"#000000"_s);
    QCOMPARE(describe(c.styles[byId(d, u"t")], u"font-weight"), u"700"_s);
}

void TestPageStyle::rulesBeyondTheLimitAreDropped()
{
    const dom::Document d = documentOf(u"<p id=t>x</p>"_s);
    css::CascadeLimits limits;
    limits.maxRules = 1;
    const css::Cascaded c =
        css::cascade(d, {{u"p{color:red}"_s, {}}, {u"p{color:green}"_s, {}}}, {}, limits);
    QVERIFY(c.capped);
    QCOMPARE(describe(c.styles[byId(d, u"t")], u"color"), u"#ff0000"_s);
}

QTEST_GUILESS_MAIN(TestPageStyle)
#include "tst_page_style.moc"
