#include "html_elements.h"

#include <QHash>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;

namespace {

constexpr quint8 kBlock = ClosesP | Special;

// Every element kept is written under a name Qt's importer knows; Qt takes
// any other for an inline element that stays open.
constexpr ElementRule kRules[] = {
    {u"a", Treatment::Element, u"a", Role::Anchor, 0},
    {u"address", Treatment::Element, u"div", Role::None, ClosesP},
    {u"applet", Treatment::Drop, {}, Role::None, Special},
    {u"area", Treatment::Ignore, {}, Role::None, 0},
    {u"article", Treatment::Element, u"div", Role::None, kBlock},
    {u"aside", Treatment::Element, u"div", Role::None, kBlock},
    {u"audio", Treatment::Drop, {}, Role::None, 0},
    {u"b", Treatment::Element, u"b", Role::None, 0},
    {u"base", Treatment::Ignore, {}, Role::None, 0},
    {u"basefont", Treatment::Ignore, {}, Role::None, 0},
    {u"bgsound", Treatment::Ignore, {}, Role::None, 0},
    {u"big", Treatment::Element, u"big", Role::None, 0},
    {u"blockquote", Treatment::Element, u"blockquote", Role::None, kBlock},
    {u"body", Treatment::Transparent, {}, Role::Body, 0},
    {u"br", Treatment::Element, u"br", Role::None, Void | Special},
    {u"button", Treatment::Drop, {}, Role::None, Special},
    {u"canvas", Treatment::Drop, {}, Role::None, 0},
    {u"caption", Treatment::Element, u"caption", Role::Caption, Special},
    {u"center", Treatment::Element, u"center", Role::None, kBlock},
    {u"cite", Treatment::Element, u"cite", Role::None, 0},
    {u"code", Treatment::Element, u"code", Role::None, 0},
    {u"col", Treatment::Ignore, {}, Role::None, 0},
    {u"colgroup", Treatment::Transparent, {}, Role::None, 0},
    {u"datalist", Treatment::Drop, {}, Role::None, 0},
    {u"dd", Treatment::Element, u"dd", Role::DefinitionItem, kBlock},
    {u"del", Treatment::Element, u"s", Role::None, 0},
    {u"details", Treatment::Element, u"div", Role::None, kBlock},
    {u"dfn", Treatment::Element, u"dfn", Role::None, 0},
    {u"dialog", Treatment::Drop, {}, Role::None, kBlock},
    {u"dir", Treatment::Element, u"ul", Role::None, kBlock},
    {u"div", Treatment::Element, u"div", Role::None, ClosesP},
    {u"dl", Treatment::Element, u"dl", Role::None, kBlock},
    {u"dt", Treatment::Element, u"dt", Role::DefinitionItem, kBlock},
    {u"em", Treatment::Element, u"em", Role::None, 0},
    {u"embed", Treatment::Ignore, {}, Role::None, 0},
    {u"fieldset", Treatment::Element, u"div", Role::None, kBlock},
    {u"figcaption", Treatment::Element, u"div", Role::None, kBlock},
    {u"figure", Treatment::Element, u"div", Role::None, kBlock},
    {u"font", Treatment::Element, u"font", Role::None, 0},
    {u"footer", Treatment::Element, u"div", Role::None, kBlock},
    {u"form", Treatment::Transparent, {}, Role::None, ClosesP},
    {u"frame", Treatment::Ignore, {}, Role::None, 0},
    {u"frameset", Treatment::Drop, {}, Role::None, Special},
    {u"h1", Treatment::Element, u"h1", Role::Heading, kBlock},
    {u"h2", Treatment::Element, u"h2", Role::Heading, kBlock},
    {u"h3", Treatment::Element, u"h3", Role::Heading, kBlock},
    {u"h4", Treatment::Element, u"h4", Role::Heading, kBlock},
    {u"h5", Treatment::Element, u"h5", Role::Heading, kBlock},
    {u"h6", Treatment::Element, u"h6", Role::Heading, kBlock},
    {u"head", Treatment::Transparent, {}, Role::None, 0},
    {u"header", Treatment::Element, u"div", Role::None, kBlock},
    {u"hgroup", Treatment::Element, u"div", Role::None, kBlock},
    {u"hr", Treatment::Element, u"hr", Role::None, Void | kBlock},
    {u"html", Treatment::Transparent, {}, Role::None, 0},
    {u"i", Treatment::Element, u"i", Role::None, 0},
    {u"iframe", Treatment::Drop, {}, Role::None, 0},
    {u"image", Treatment::Element, u"img", Role::Image, Void | Special},
    {u"img", Treatment::Element, u"img", Role::Image, Void | Special},
    {u"input", Treatment::Ignore, {}, Role::None, 0},
    {u"ins", Treatment::Element, u"u", Role::None, 0},
    {u"isindex", Treatment::Ignore, {}, Role::None, 0},
    {u"kbd", Treatment::Element, u"kbd", Role::None, 0},
    {u"keygen", Treatment::Ignore, {}, Role::None, 0},
    {u"label", Treatment::Transparent, {}, Role::None, 0},
    {u"legend", Treatment::Element, u"div", Role::None, 0},
    {u"li", Treatment::Element, u"li", Role::ListItem, kBlock},
    {u"link", Treatment::Element, u"link", Role::Link, Void},
    {u"listing", Treatment::Element, u"pre", Role::None, kBlock},
    {u"main", Treatment::Element, u"div", Role::None, kBlock},
    {u"map", Treatment::Transparent, {}, Role::None, 0},
    {u"marquee", Treatment::Element, u"div", Role::None, Special},
    // MathML's text is drawn by browsers, as plain inline text here.
    {u"math", Treatment::Element, u"span", Role::None, Special | Foreign},
    {u"menu", Treatment::Element, u"ul", Role::None, kBlock},
    {u"meta", Treatment::Ignore, {}, Role::None, 0},
    {u"nav", Treatment::Element, u"div", Role::None, kBlock},
    {u"nobr", Treatment::Element, u"nobr", Role::Nobr, 0},
    {u"noembed", Treatment::Drop, {}, Role::None, 0},
    {u"noframes", Treatment::Drop, {}, Role::None, 0},
    {u"noscript", Treatment::Transparent, {}, Role::None, 0},
    {u"object", Treatment::Drop, {}, Role::None, Special},
    {u"ol", Treatment::Element, u"ol", Role::None, kBlock},
    {u"optgroup", Treatment::Drop, {}, Role::OptGroup, 0},
    {u"option", Treatment::Drop, {}, Role::Option, 0},
    {u"p", Treatment::Element, u"p", Role::None, ClosesP},
    {u"param", Treatment::Ignore, {}, Role::None, 0},
    {u"picture", Treatment::Transparent, {}, Role::None, 0},
    {u"plaintext", Treatment::Element, u"pre", Role::Preformatted, kBlock},
    {u"pre", Treatment::Element, u"pre", Role::None, kBlock},
    {u"rp",
     Treatment::Drop,
     {},
     Role::None,
     0}, // ruby's fallback brackets, never shown beside ruby
    {u"s", Treatment::Element, u"s", Role::None, 0},
    {u"samp", Treatment::Element, u"samp", Role::None, 0},
    {u"script", Treatment::Drop, {}, Role::None, 0},
    {u"search", Treatment::Element, u"div", Role::None, kBlock},
    {u"section", Treatment::Element, u"div", Role::None, kBlock},
    {u"select", Treatment::Drop, {}, Role::None, Special},
    {u"small", Treatment::Element, u"small", Role::None, 0},
    {u"source", Treatment::Ignore, {}, Role::None, 0},
    {u"span", Treatment::Element, u"span", Role::None, 0},
    {u"strike", Treatment::Element, u"s", Role::None, 0},
    {u"strong", Treatment::Element, u"strong", Role::None, 0},
    {u"style", Treatment::Element, u"style", Role::Style, 0},
    {u"sub", Treatment::Element, u"sub", Role::None, 0},
    {u"summary", Treatment::Element, u"div", Role::None, kBlock},
    {u"sup", Treatment::Element, u"sup", Role::None, 0},
    {u"svg", Treatment::Drop, {}, Role::None, Special | Foreign},
    {u"table", Treatment::Element, u"table", Role::Table, kBlock},
    {u"tbody", Treatment::Element, u"tbody", Role::Section, Special},
    {u"td", Treatment::Element, u"td", Role::Cell, Special},
    {u"template", Treatment::Drop, {}, Role::None, Special},
    {u"textarea", Treatment::Drop, {}, Role::None, 0},
    {u"tfoot", Treatment::Element, u"tfoot", Role::Section, Special},
    {u"th", Treatment::Element, u"th", Role::Cell, Special},
    {u"thead", Treatment::Element, u"thead", Role::Section, Special},
    {u"title", Treatment::Element, u"title", Role::Title, 0},
    {u"tr", Treatment::Element, u"tr", Role::Row, Special},
    {u"track", Treatment::Ignore, {}, Role::None, 0},
    {u"tt", Treatment::Element, u"tt", Role::None, 0},
    {u"u", Treatment::Element, u"u", Role::None, 0},
    {u"ul", Treatment::Element, u"ul", Role::None, kBlock},
    {u"var", Treatment::Element, u"var", Role::None, 0},
    {u"video", Treatment::Drop, {}, Role::None, 0},
    {u"wbr", Treatment::Ignore, {}, Role::None, 0},
    {u"xmp", Treatment::Element, u"pre", Role::Preformatted, kBlock},
};

constexpr ElementRule kUnknownRule{{}, Treatment::Element, u"span", Role::None, 0};

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

} // namespace mizong::page::markup
