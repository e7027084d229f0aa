#include "css_cascade_p.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace mizong::page::css {

namespace {

// The default style sheet of the HTML standard's rendering section, in
// physical sides (the view writes left to right, top to bottom), for what
// the page view draws.
constexpr QStringView kDefaultSheet = uR"(
[hidden], area, base, basefont, datalist, head, link, meta, noembed, noframes,
param, rp, script, style, template, title, input[type=hidden i],
dialog:not([open]) { display: none; }
html, body, address, blockquote, center, dialog, div, figure, figcaption, footer,
form, header, hr, legend, listing, main, p, plaintext, pre, search, xmp, article,
aside, h1, h2, h3, h4, h5, h6, hgroup, nav, section, dir, dd, dl, dt, menu, ol, ul,
details, fieldset, optgroup, frameset, frame { display: block; }
li, summary { display: list-item; }
table { display: table; }
caption { display: table-caption; }
colgroup { display: table-column-group; }
col { display: table-column; }
thead { display: table-header-group; }
tbody { display: table-row-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; }
td, th { display: table-cell; }
input, select, button, textarea, meter, progress, marquee { display: inline-block; }
ruby { display: ruby; }
rt { display: ruby-text; }

body { margin: 8px; }
blockquote, figure, listing, p, plaintext, pre, xmp { margin-top: 1em; margin-bottom: 1em; }
blockquote, figure { margin-left: 40px; margin-right: 40px; }
address, cite, dfn, em, i, var { font-style: italic; }
listing, plaintext, pre, xmp { font-family: monospace; white-space: pre; }
center { text-align: center; }
b, strong { font-weight: bolder; }
code, kbd, samp, tt { font-family: monospace; }
big { font-size: larger; }
small { font-size: smaller; }
sub { vertical-align: sub; }
sup { vertical-align: super; }
sub, sup { line-height: normal; font-size: smaller; }
:link { color: #0000EE; }
:link, :visited { text-decoration: underline; }
mark { background-color: yellow; color: black; }
ins, u { text-decoration: underline; }
del, s, strike { text-decoration: line-through; }
nobr { white-space: nowrap; }
nobr wbr { white-space: normal; }
textarea, pre[wrap] { white-space: pre-wrap; }

dir, dl, menu, ol, ul { margin-top: 1em; margin-bottom: 1em; }
:is(dir, dl, menu, ol, ul) :is(dir, dl, menu, ol, ul) { margin-top: 0; margin-bottom: 0; }
dd { margin-left: 40px; }
dir, menu, ol, ul { padding-left: 40px; }
ol { list-style-type: decimal; }
dir, menu, ul { list-style-type: disc; }
:is(dir, menu, ol, ul) :is(dir, menu, ul) { list-style-type: circle; }
:is(dir, menu, ol, ul) :is(dir, menu, ol, ul) :is(dir, menu, ul) { list-style-type: square; }

table { border-spacing: 2px; border-collapse: separate; text-indent: initial; }
td, th { padding: 1px; }
th { font-weight: bold; text-align: center; }
caption { text-align: center; }
thead, tbody, tfoot, table > tr { vertical-align: middle; }
tr, td, th { vertical-align: inherit; }
table, td, th { border-color: gray; }
thead, tbody, tfoot, tr { border-color: inherit; }

hr { color: gray; border-style: inset; border-width: 1px; margin: 0.5em auto; }
hr[color], hr[noshade] { border-style: solid; }
fieldset { margin-left: 2px; margin-right: 2px; border: 2px groove ThreeDFace;
  padding: 0.35em 0.75em 0.625em; }
legend { padding-left: 2px; padding-right: 2px; }
iframe { border: 2px inset; }

h1 { margin-top: 0.67em; margin-bottom: 0.67em; font-size: 2em; font-weight: bold; }
h2 { margin-top: 0.83em; margin-bottom: 0.83em; font-size: 1.5em; font-weight: bold; }
h3 { margin-top: 1em; margin-bottom: 1em; font-size: 1.17em; font-weight: bold; }
h4 { margin-top: 1.33em; margin-bottom: 1.33em; font-size: 1em; font-weight: bold; }
h5 { margin-top: 1.67em; margin-bottom: 1.67em; font-size: 0.83em; font-weight: bold; }
h6 { margin-top: 2.33em; margin-bottom: 2.33em; font-size: 0.67em; font-weight: bold; }
)";

// Quirks mode's own rules: tables start their text afresh, as old pages
// expect.
constexpr QStringView kQuirksSheet = uR"(
form { margin-bottom: 1em; }
table { font-weight: initial; font-style: initial; font-variant: initial;
  font-size: initial; line-height: initial; white-space: initial; text-align: initial; }
img[align=left i] { margin-right: 3px; }
img[align=right i] { margin-left: 3px; }
)";

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The rules for parsing non-negative integers.
std::optional<int> nonNegativeInteger(QStringView s)
{
    qsizetype i = 0;
    while (i < s.size() && isSpace(s[i]))
        ++i;
    if (i < s.size() && s[i] == u'+')
        ++i;
    qint64 v = 0;
    const qsizetype start = i;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i)
        v = std::min<qint64>(v * 10 + (s[i].unicode() - u'0'), 100000);
    if (i == start)
        return std::nullopt;
    return int(v);
}

// The rules for parsing dimension values: a number of pixels, or a
// percentage; nothing for zero when `nonZero`.
std::optional<QString> dimension(const QString* value, bool nonZero = false)
{
    if (!value)
        return std::nullopt;
    const QStringView s = *value;
    qsizetype i = 0;
    while (i < s.size() && isSpace(s[i]))
        ++i;
    const qsizetype start = i;
    while (i < s.size() && ((s[i] >= u'0' && s[i] <= u'9') || s[i] == u'.'))
        ++i;
    bool ok = false;
    const double v = std::min(s.sliced(start, i - start).toDouble(&ok), 100000.0);
    if (!ok || (nonZero && v == 0))
        return std::nullopt;
    const bool percent = i < s.size() && s[i] == u'%';
    return QString::number(v) + (percent ? u"%"_s : u"px"_s);
}

QString colorText(const Color& c)
{
    return u"rgb(%1, %2, %3)"_s.arg(c.red).arg(c.green).arg(c.blue);
}

QString quoted(QStringView s)
{
    QString out = u"\""_s;
    for (QChar c : s) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        out += c == u'\n' ? QChar(u' ') : c;
    }
    return out + u'"';
}

// <font size>: 1 to 7, or a step from 3.
std::optional<QStringView> fontSizeKeyword(QStringView s)
{
    qsizetype i = 0;
    while (i < s.size() && isSpace(s[i]))
        ++i;
    int mode = 0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        mode = s[i++] == u'+' ? 1 : -1;
    const std::optional<int> n = nonNegativeInteger(s.sliced(i));
    if (!n || (i < s.size() && isSpace(s[i])))
        return std::nullopt;
    const int size = std::clamp(mode == 0 ? *n : 3 + mode * *n, 1, 7);
    static constexpr QStringView kKeywords[] = {u"x-small", u"small",    u"medium",   u"large",
                                                u"x-large", u"xx-large", u"xxx-large"};
    return kKeywords[size - 1];
}

class Hints
{
public:
    Hints(const dom::Document& d, int e, const QUrl& pageUrl)
        : m_d(d), m_n(d[e]), m_e(e), m_pageUrl(pageUrl)
    {}

    QString run()
    {
        const QString& n = m_n.name;
        if (m_n.ns != dom::Namespace::Html)
            return {};
        if (n == u"body" || n == u"table" || n == u"tr" || n == u"td" || n == u"th" ||
            n == u"thead" || n == u"tbody" || n == u"tfoot") {
            color(u"bgcolor", {u"background-color"});
            background();
        }
        if (n == u"body")
            body();
        else if (n == u"table")
            table();
        else if (n == u"td" || n == u"th")
            cell();
        else if (n == u"tr" || n == u"thead" || n == u"tbody" || n == u"tfoot") {
            textAlign();
            verticalAlign();
            if (n == u"tr")
                size(u"height", true);
        } else if (n == u"p" || n == u"div" || n == u"caption" || n == u"legend" ||
                   (n.size() == 2 && n[0] == u'h' && n[1] >= u'1' && n[1] <= u'6'))
            textAlign();
        else if (n == u"img" || n == u"object" || n == u"iframe" || n == u"embed" || n == u"input")
            replaced();
        else if (n == u"hr")
            hr();
        else if (n == u"font")
            font();
        else if (n == u"col" || n == u"colgroup")
            size(u"width", true);
        if (n == u"ol" || n == u"ul" || n == u"li")
            listType();
        // <body link>: the colour of every link not yet visited, which all are here.
        if (n == u"a" && attr(u"href") && m_d.body != dom::kNone)
            if (const QString* link = m_d[m_d.body].attribute(u"link"))
                if (const std::optional<Color> c = parseLegacyColor(*link))
                    add(u"color", colorText(*c));
        return m_out;
    }

private:
    const QString* attr(QStringView name) const { return m_n.attribute(name); }

    void add(QStringView property, const QString& value)
    {
        m_out += property;
        m_out += u':' + value + u';';
    }

    void color(QStringView attribute, std::initializer_list<QStringView> properties)
    {
        const QString* v = attr(attribute);
        if (!v)
            return;
        if (const std::optional<Color> c = parseLegacyColor(*v))
            for (QStringView p : properties)
                add(p, colorText(*c));
    }

    void background()
    {
        const QString* v = attr(u"background");
        if (!v || v->trimmed().isEmpty())
            return;
        const QUrl url = m_pageUrl.resolved(QUrl(v->trimmed()));
        add(u"background-image", u"url("_s + quoted(url.toString()) + u')');
    }

    void size(QStringView attribute, bool nonZero)
    {
        if (const std::optional<QString> d = dimension(attr(attribute), nonZero))
            add(attribute, *d);
    }

    void pixels(QStringView attribute, std::initializer_list<QStringView> properties)
    {
        const QString* v = attr(attribute);
        const std::optional<int> n = v ? nonNegativeInteger(*v) : std::nullopt;
        if (n)
            for (QStringView p : properties)
                add(p, QString::number(*n) + u"px"_s);
    }

    void textAlign()
    {
        const QString* v = attr(u"align");
        if (!v)
            return;
        const QString a = v->trimmed().toLower();
        if (a == u"left" || a == u"right" || a == u"center" || a == u"justify")
            add(u"text-align", a);
        else if (a == u"middle" || a == u"absmiddle")
            add(u"text-align", u"center"_s);
    }

    void verticalAlign()
    {
        const QString* v = attr(u"valign");
        if (!v)
            return;
        const QString a = v->trimmed().toLower();
        if (a == u"top" || a == u"middle" || a == u"bottom" || a == u"baseline")
            add(u"vertical-align", a);
    }

    void body()
    {
        color(u"text", {u"color"});
        const bool height = attr(u"marginheight");
        const bool width = attr(u"marginwidth");
        pixels(u"marginheight", {u"margin-top", u"margin-bottom"});
        pixels(u"marginwidth", {u"margin-left", u"margin-right"});
        // Browsers take leftmargin for both sides, topmargin for top and
        // bottom; IE's rightmargin and bottommargin still win over them.
        if (!height) {
            pixels(u"topmargin", {u"margin-top", u"margin-bottom"});
            pixels(u"bottommargin", {u"margin-bottom"});
        }
        if (!width) {
            pixels(u"leftmargin", {u"margin-left", u"margin-right"});
            pixels(u"rightmargin", {u"margin-right"});
        }
    }

    // The table around a cell, through its row and row group.
    int tableOf(int node) const
    {
        for (int i = 0; i < 3 && node != dom::kNone; ++i) {
            node = m_d[node].parent;
            if (node != dom::kNone && m_d[node].isHtml(u"table"))
                return node;
        }
        return dom::kNone;
    }

    static std::optional<int> border(const dom::Node& table)
    {
        const QString* v = table.attribute(u"border");
        if (!v)
            return std::nullopt;
        // border="" or a word: 1, as browsers read it.
        return nonNegativeInteger(*v).value_or(1);
    }

    void table()
    {
        size(u"width", true);
        size(u"height", false);
        const QString* align = attr(u"align");
        const QString a = align ? align->trimmed().toLower() : QString();
        if (a == u"left" || a == u"right")
            add(u"float", a);
        else if (a == u"center")
            m_out += u"margin-left:auto;margin-right:auto;"_s;
        // Browsers draw a border attribute's borders in the text's colour,
        // not the style sheet's grey.
        if (const std::optional<int> b = border(m_n); b && *b > 0)
            m_out += u"border-width:%1px;border-style:outset;border-color:currentcolor;"_s.arg(*b);
        pixels(u"cellspacing", {u"border-spacing"});
        color(u"bordercolor", {u"border-color"});
    }

    void cell()
    {
        size(u"width", true);
        size(u"height", true);
        textAlign();
        verticalAlign();
        if (attr(u"nowrap"))
            add(u"white-space", u"nowrap"_s);
        const int t = tableOf(m_e);
        if (t == dom::kNone)
            return;
        const dom::Node& table = m_d[t];
        if (const std::optional<int> b = border(table); b && *b > 0 && !table.attribute(u"rules"))
            m_out += u"border-width:1px;border-style:inset;border-color:currentcolor;"_s;
        if (const QString* p = table.attribute(u"cellpadding"))
            if (const std::optional<int> n = nonNegativeInteger(*p))
                add(u"padding", QString::number(*n) + u"px"_s);
        if (const QString* c = table.attribute(u"bordercolor"))
            if (const std::optional<Color> color = parseLegacyColor(*c))
                add(u"border-color", colorText(*color));
    }

    void replaced()
    {
        size(u"width", false);
        size(u"height", false);
        pixels(u"hspace", {u"margin-left", u"margin-right"});
        pixels(u"vspace", {u"margin-top", u"margin-bottom"});
        if (m_n.name == u"img" || m_n.name == u"object")
            if (const QString* b = attr(u"border"))
                if (const std::optional<int> n = nonNegativeInteger(*b))
                    m_out += u"border-width:%1px;border-style:solid;"_s.arg(*n);
        const QString* v = attr(u"align");
        if (!v)
            return;
        const QString a = v->trimmed().toLower();
        if (a == u"left" || a == u"right")
            add(u"float", a);
        else if (a == u"top" || a == u"bottom" || a == u"middle" || a == u"baseline")
            add(u"vertical-align", a);
        else if (a == u"absmiddle" || a == u"abscenter")
            add(u"vertical-align", u"middle"_s);
        else if (a == u"texttop")
            add(u"vertical-align", u"text-top"_s);
        else if (a == u"absbottom")
            add(u"vertical-align", u"bottom"_s);
    }

    void hr()
    {
        const QString* align = attr(u"align");
        const QString a = align ? align->trimmed().toLower() : QString();
        if (a == u"left")
            m_out += u"margin-left:0;margin-right:auto;"_s;
        else if (a == u"right")
            m_out += u"margin-left:auto;margin-right:0;"_s;
        else if (a == u"center")
            m_out += u"margin-left:auto;margin-right:auto;"_s;
        color(u"color", {u"color", u"border-color", u"background-color"});
        if (attr(u"noshade") && !attr(u"color"))
            m_out += u"border-color:gray;background-color:gray;"_s;
        size(u"width", true);
        const QString* s = attr(u"size");
        const std::optional<int> n = s ? nonNegativeInteger(*s) : std::nullopt;
        if (n && (attr(u"color") || attr(u"noshade"))) {
            add(u"border-width", QString::number(*n / 2.0) + u"px"_s);
        } else if (n && *n == 1) {
            add(u"border-bottom-width", u"0"_s);
        } else if (n && *n > 1) {
            add(u"height", QString::number(*n - 2) + u"px"_s);
        }
    }

    void font()
    {
        color(u"color", {u"color"});
        if (const QString* face = attr(u"face")) {
            QStringList names;
            for (QStringView name : QStringView(*face).split(u','))
                if (!name.trimmed().isEmpty())
                    names.append(quoted(name.trimmed()));
            if (!names.isEmpty())
                add(u"font-family", names.join(u','));
        }
        if (const QString* s = attr(u"size"))
            if (const std::optional<QStringView> k = fontSizeKeyword(*s))
                add(u"font-size", k->toString());
    }

    void listType()
    {
        const QString* v = attr(u"type");
        if (!v)
            return;
        const QString t = v->trimmed();
        // ol's types are case-sensitive: "a" and "A" differ.
        static const std::pair<QStringView, QStringView> ordered[] = {
            {u"1", u"decimal"},     {u"a", u"lower-alpha"}, {u"A", u"upper-alpha"},
            {u"i", u"lower-roman"}, {u"I", u"upper-roman"},
        };
        if (m_n.name != u"ul")
            for (const auto& [from, to] : ordered)
                if (t == from)
                    return add(u"list-style-type", to.toString());
        const QString l = t.toLower();
        if (m_n.name != u"ol" && (l == u"disc" || l == u"circle" || l == u"square" || l == u"none"))
            add(u"list-style-type", l);
    }

    const dom::Document& m_d;
    const dom::Node& m_n;
    int m_e;
    const QUrl& m_pageUrl;
    QString m_out;
};

} // namespace

const StyleSheet& defaultStyleSheet()
{
    static const StyleSheet sheet = parseStyleSheet(kDefaultSheet);
    return sheet;
}

const StyleSheet& quirksStyleSheet()
{
    static const StyleSheet sheet = parseStyleSheet(kQuirksSheet);
    return sheet;
}

QString presentationalHints(const dom::Document& document, int element, const QUrl& pageUrl)
{
    return Hints(document, element, pageUrl).run();
}

std::optional<Color> parseLegacyColor(QStringView value)
{
    QStringView s = value;
    while (!s.isEmpty() && isSpace(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && isSpace(s.back()))
        s.chop(1);
    if (s.isEmpty() || s.compare(u"transparent", Qt::CaseInsensitive) == 0)
        return std::nullopt;
    if (const std::optional<Color> named = namedColor(s); named && !named->current)
        return named;
    if (s.size() == 4 && s[0] == u'#' && hexValue(s[1]) >= 0 && hexValue(s[2]) >= 0 &&
        hexValue(s[3]) >= 0)
        return Color{hexValue(s[1]) * 17, hexValue(s[2]) * 17, hexValue(s[3]) * 17};
    QString in;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            in += u"00"_s;
            ++i;
        } else {
            in += s[i];
        }
    }
    in.truncate(128);
    if (in.startsWith(u'#'))
        in.remove(0, 1);
    for (QChar& c : in)
        if (hexValue(c) < 0)
            c = u'0';
    while (in.isEmpty() || in.size() % 3 != 0)
        in += u'0';
    qsizetype length = in.size() / 3;
    QString parts[3] = {in.first(length), in.sliced(length, length), in.sliced(2 * length)};
    if (length > 8) {
        for (QString& p : parts)
            p = p.right(8);
        length = 8;
    }
    while (length > 2 && parts[0][0] == u'0' && parts[1][0] == u'0' && parts[2][0] == u'0') {
        for (QString& p : parts)
            p.remove(0, 1);
        --length;
    }
    const auto channel = [](const QString& p) {
        const QString two = p.left(2);
        return two.size() == 1 ? hexValue(two[0]) : hexValue(two[0]) * 16 + hexValue(two[1]);
    };
    return Color{channel(parts[0]), channel(parts[1]), channel(parts[2])};
}

} // namespace mizong::page::css
