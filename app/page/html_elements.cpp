#include "html_elements.h"

#include <QHash>
#include <QSet>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;

namespace {

constexpr quint8 kBlock = ClosesP | Special;

// Every element kept is written under a name Qt's importer knows; Qt takes
// any other for an inline element that stays open.
constexpr ElementRule kRules[] = {
    {u"a", Kind::Element, u"a", Role::Anchor, 0},
    {u"address", Kind::Element, u"address", Role::None, ClosesP},
    {u"applet", Kind::Drop, {}, Role::None, Special | Boundary},
    {u"area", Kind::Ignore, {}, Role::None, 0},
    {u"article", Kind::Element, u"div", Role::None, kBlock},
    {u"aside", Kind::Element, u"div", Role::None, kBlock},
    {u"audio", Kind::Drop, {}, Role::None, 0},
    {u"b", Kind::Element, u"b", Role::None, 0},
    {u"base", Kind::Ignore, {}, Role::None, 0},
    {u"basefont", Kind::Ignore, {}, Role::None, 0},
    {u"bgsound", Kind::Ignore, {}, Role::None, 0},
    {u"big", Kind::Element, u"big", Role::None, 0},
    {u"blockquote", Kind::Element, u"blockquote", Role::None, kBlock},
    {u"body", Kind::Transparent, {}, Role::Body, 0},
    {u"br", Kind::Element, u"br", Role::None, Void | Special},
    {u"button", Kind::Drop, {}, Role::None, Special | Boundary},
    {u"canvas", Kind::Drop, {}, Role::None, 0},
    {u"caption", Kind::Element, u"caption", Role::Caption, Special | Boundary},
    {u"center", Kind::Element, u"center", Role::None, kBlock},
    {u"cite", Kind::Element, u"cite", Role::None, 0},
    {u"code", Kind::Element, u"code", Role::None, 0},
    {u"col", Kind::Ignore, {}, Role::None, 0},
    {u"colgroup", Kind::Transparent, {}, Role::None, 0},
    {u"datalist", Kind::Drop, {}, Role::None, 0},
    {u"dd", Kind::Element, u"dd", Role::DefinitionItem, kBlock},
    {u"del", Kind::Element, u"s", Role::None, 0},
    {u"details", Kind::Element, u"div", Role::None, kBlock},
    {u"dfn", Kind::Element, u"dfn", Role::None, 0},
    {u"dialog", Kind::Drop, {}, Role::None, kBlock},
    {u"dir", Kind::Element, u"ul", Role::None, kBlock | ListScope},
    {u"div", Kind::Element, u"div", Role::None, ClosesP},
    {u"dl", Kind::Element, u"dl", Role::None, kBlock},
    {u"dt", Kind::Element, u"dt", Role::DefinitionItem, kBlock},
    {u"em", Kind::Element, u"em", Role::None, 0},
    {u"embed", Kind::Ignore, {}, Role::None, 0},
    {u"fieldset", Kind::Element, u"div", Role::None, kBlock},
    {u"figcaption", Kind::Element, u"div", Role::None, kBlock},
    {u"figure", Kind::Element, u"div", Role::None, kBlock},
    {u"font", Kind::Element, u"font", Role::None, 0},
    {u"footer", Kind::Element, u"div", Role::None, kBlock},
    {u"form", Kind::Transparent, {}, Role::None, ClosesP},
    {u"frame", Kind::Ignore, {}, Role::None, 0},
    {u"frameset", Kind::Drop, {}, Role::None, Special},
    {u"h1", Kind::Element, u"h1", Role::Heading, kBlock},
    {u"h2", Kind::Element, u"h2", Role::Heading, kBlock},
    {u"h3", Kind::Element, u"h3", Role::Heading, kBlock},
    {u"h4", Kind::Element, u"h4", Role::Heading, kBlock},
    {u"h5", Kind::Element, u"h5", Role::Heading, kBlock},
    {u"h6", Kind::Element, u"h6", Role::Heading, kBlock},
    {u"head", Kind::Transparent, {}, Role::None, 0},
    {u"header", Kind::Element, u"div", Role::None, kBlock},
    {u"hgroup", Kind::Element, u"div", Role::None, kBlock},
    {u"hr", Kind::Element, u"hr", Role::None, Void | kBlock},
    {u"html", Kind::Transparent, {}, Role::None, 0},
    {u"i", Kind::Element, u"i", Role::None, 0},
    {u"iframe", Kind::Drop, {}, Role::None, 0},
    {u"image", Kind::Element, u"img", Role::Image, Void | Special},
    {u"img", Kind::Element, u"img", Role::Image, Void | Special},
    {u"input", Kind::Ignore, {}, Role::None, 0},
    {u"ins", Kind::Element, u"u", Role::None, 0},
    {u"isindex", Kind::Ignore, {}, Role::None, 0},
    {u"kbd", Kind::Element, u"kbd", Role::None, 0},
    {u"keygen", Kind::Ignore, {}, Role::None, 0},
    {u"label", Kind::Transparent, {}, Role::None, 0},
    {u"legend", Kind::Element, u"div", Role::None, 0},
    {u"li", Kind::Element, u"li", Role::ListItem, kBlock},
    {u"link", Kind::Element, u"link", Role::Link, Void},
    {u"listing", Kind::Element, u"pre", Role::None, kBlock},
    {u"main", Kind::Element, u"div", Role::None, kBlock},
    {u"map", Kind::Transparent, {}, Role::None, 0},
    {u"marquee", Kind::Element, u"div", Role::None, Special | Boundary},
    // MathML's text is drawn by browsers, as plain inline text here.
    {u"math", Kind::Element, u"span", Role::None, Special | Foreign},
    {u"menu", Kind::Element, u"ul", Role::None, kBlock | ListScope},
    {u"meta", Kind::Ignore, {}, Role::None, 0},
    {u"nav", Kind::Element, u"div", Role::None, kBlock},
    {u"nobr", Kind::Element, u"nobr", Role::Nobr, 0},
    {u"noembed", Kind::Drop, {}, Role::None, 0},
    {u"noframes", Kind::Drop, {}, Role::None, 0},
    {u"noscript", Kind::Transparent, {}, Role::None, 0},
    {u"object", Kind::Drop, {}, Role::None, Special | Boundary},
    {u"ol", Kind::Element, u"ol", Role::None, kBlock | ListScope},
    {u"optgroup", Kind::Drop, {}, Role::OptGroup, 0},
    {u"option", Kind::Drop, {}, Role::Option, 0},
    {u"p", Kind::Element, u"p", Role::None, ClosesP},
    {u"param", Kind::Ignore, {}, Role::None, 0},
    {u"picture", Kind::Transparent, {}, Role::None, 0},
    {u"plaintext", Kind::Element, u"pre", Role::Preformatted, kBlock},
    {u"pre", Kind::Element, u"pre", Role::None, kBlock},
    {u"rp", Kind::Drop, {}, Role::None, 0}, // ruby's fallback brackets, never shown beside ruby
    {u"s", Kind::Element, u"s", Role::None, 0},
    {u"samp", Kind::Element, u"samp", Role::None, 0},
    {u"script", Kind::Drop, {}, Role::None, 0},
    {u"search", Kind::Element, u"div", Role::None, kBlock},
    {u"section", Kind::Element, u"div", Role::None, kBlock},
    {u"select", Kind::Drop, {}, Role::None, Special},
    {u"small", Kind::Element, u"small", Role::None, 0},
    {u"source", Kind::Ignore, {}, Role::None, 0},
    {u"span", Kind::Element, u"span", Role::None, 0},
    {u"strike", Kind::Element, u"s", Role::None, 0},
    {u"strong", Kind::Element, u"strong", Role::None, 0},
    {u"style", Kind::Element, u"style", Role::Style, 0},
    {u"sub", Kind::Element, u"sub", Role::None, 0},
    {u"summary", Kind::Element, u"div", Role::None, kBlock},
    {u"sup", Kind::Element, u"sup", Role::None, 0},
    {u"svg", Kind::Drop, {}, Role::None, Special | Boundary | Foreign},
    {u"table", Kind::Element, u"table", Role::Table, kBlock | Boundary | TableScope},
    {u"tbody", Kind::Element, u"tbody", Role::Section, Special},
    {u"td", Kind::Element, u"td", Role::Cell, Special | Boundary},
    {u"template", Kind::Drop, {}, Role::None, Special | Boundary | TableScope},
    {u"textarea", Kind::Drop, {}, Role::None, 0},
    {u"tfoot", Kind::Element, u"tfoot", Role::Section, Special},
    {u"th", Kind::Element, u"th", Role::Cell, Special | Boundary},
    {u"thead", Kind::Element, u"thead", Role::Section, Special},
    {u"title", Kind::Element, u"title", Role::Title, 0},
    {u"tr", Kind::Element, u"tr", Role::Row, Special},
    {u"track", Kind::Ignore, {}, Role::None, 0},
    {u"tt", Kind::Element, u"tt", Role::None, 0},
    {u"u", Kind::Element, u"u", Role::None, 0},
    {u"ul", Kind::Element, u"ul", Role::None, kBlock | ListScope},
    {u"var", Kind::Element, u"var", Role::None, 0},
    {u"video", Kind::Drop, {}, Role::None, 0},
    {u"wbr", Kind::Ignore, {}, Role::None, 0},
    {u"xmp", Kind::Element, u"pre", Role::Preformatted, kBlock},
};

constexpr ElementRule kUnknownRule{{}, Kind::Element, u"span", Role::None, 0};

} // namespace

const ElementRule* ruleFor(const QString& name)
{
    static const QHash<QStringView, const ElementRule*> rules = [] {
        QHash<QStringView, const ElementRule*> h;
        for (const ElementRule& r : kRules)
            h.insert(r.name, &r);
        return h;
    }();
    return rules.value(QStringView(name), &kUnknownRule);
}

bool attributeAllowed(QStringView element, QStringView attribute)
{
    static constexpr QStringView everywhere[] = {u"id",    u"class",  u"title",
                                                 u"align", u"valign", u"dir"};
    for (QStringView a : everywhere)
        if (a == attribute)
            return true;
    struct PerElement
    {
        QStringView element;
        QStringView attributes[7];
    };
    static constexpr PerElement perElement[] = {
        {u"a", {u"name"}},
        {u"body", {u"bgcolor"}},
        {u"font", {u"size", u"face", u"color"}},
        {u"hr", {u"width"}},
        {u"img", {u"width", u"height", u"alt"}},
        {u"ol", {u"type"}},
        {u"table",
         {u"border", u"bgcolor", u"bordercolor", u"cellspacing", u"cellpadding", u"width",
          u"height"}},
        {u"td", {u"width", u"height", u"bgcolor", u"rowspan", u"colspan", u"nowrap"}},
        {u"th", {u"width", u"height", u"bgcolor", u"rowspan", u"colspan", u"nowrap"}},
        {u"tr", {u"bgcolor"}},
        {u"ul", {u"type"}},
    };
    for (const PerElement& p : perElement) {
        if (p.element != element)
            continue;
        for (QStringView a : p.attributes)
            if (!a.isEmpty() && a == attribute)
                return true;
        return false;
    }
    return false;
}

bool breaksOutOfForeign(const Token& token)
{
    static const QSet<QString> names = {
        u"b"_s,      u"big"_s,    u"blockquote"_s, u"body"_s,    u"br"_s,    u"center"_s, u"code"_s,
        u"dd"_s,     u"div"_s,    u"dl"_s,         u"dt"_s,      u"em"_s,    u"embed"_s,  u"h1"_s,
        u"h2"_s,     u"h3"_s,     u"h4"_s,         u"h5"_s,      u"h6"_s,    u"head"_s,   u"hr"_s,
        u"i"_s,      u"img"_s,    u"li"_s,         u"listing"_s, u"menu"_s,  u"meta"_s,   u"nobr"_s,
        u"ol"_s,     u"p"_s,      u"pre"_s,        u"ruby"_s,    u"s"_s,     u"small"_s,  u"span"_s,
        u"strong"_s, u"strike"_s, u"sub"_s,        u"sup"_s,     u"table"_s, u"tt"_s,     u"u"_s,
        u"ul"_s,     u"var"_s};
    if (token.name == u"font") {
        bool present = false;
        for (QStringView a : {u"color", u"face", u"size"}) {
            token.attribute(a, &present);
            if (present)
                return true;
        }
        return false;
    }
    return names.contains(token.name);
}

} // namespace mizong::page::markup
