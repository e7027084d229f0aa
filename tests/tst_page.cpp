#include "character_references.h"
#include "computed_style.h"
#include "css_syntax.h"
#include "css_values.h"
#include "html_entities.h"
#include "page_markup.h"

#include <QObject>
#include <QRegularExpression>
#include <QSizeF>
#include <QTest>

using namespace mizong::page;
using namespace Qt::StringLiterals;

namespace {

// The nesting of prepared markup, read as Qt's importer reads it: every tag
// not ending in "/>" opens an element that an end tag must close.
struct Shape
{
    int depth = 0;
    bool balanced = true;
};

Shape shapeOf(const QString& html)
{
    Shape shape;
    QStringList open;
    qsizetype i = 0;
    while ((i = html.indexOf(u'<', i)) >= 0) {
        const qsizetype end = html.indexOf(u'>', i);
        if (end < 0)
            return {shape.depth, false};
        const QStringView tag = QStringView(html).sliced(i + 1, end - i - 1);
        i = end + 1;
        if (tag.startsWith(u'/')) {
            if (open.isEmpty() || open.takeLast() != tag.sliced(1))
                shape.balanced = false;
        } else if (!tag.endsWith(u'/')) {
            open.append(tag.left(tag.indexOf(u' ')).toString());
            shape.depth = std::max(shape.depth, int(open.size()));
        }
    }
    shape.balanced = shape.balanced && open.isEmpty();
    return shape;
}

QString bodyOf(const QString& html)
{
    const qsizetype open = html.indexOf(u"<body");
    const qsizetype start = html.indexOf(u'>', open) + 1;
    return html.sliced(start, html.lastIndexOf(u"</body>") - start);
}

QString headOf(const QString& html)
{
    const qsizetype start = html.indexOf(u"<head>") + 6;
    return html.sliced(start, html.indexOf(u"</head>") - start);
}

// What Qt's importer reads between `before` and `after` in prepared markup,
// which must leave it no character reference of the page to decode, only the
// four escapes the markup rules write; anything else comes back marked.
QString readBack(const QString& html, QStringView before, QStringView after)
{
    if (!html.startsWith(before) || !html.endsWith(after))
        return u"other markup: "_s + html;
    const QStringView s =
        QStringView(html).sliced(before.size(), html.size() - before.size() - after.size());
    static constexpr std::pair<QStringView, char16_t> escapes[] = {
        {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}};
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'&') {
            out += s[i];
            continue;
        }
        const auto* e =
            std::find_if(std::begin(escapes), std::end(escapes),
                         [&](const auto& escape) { return s.sliced(i).startsWith(escape.first); });
        if (e == std::end(escapes))
            return u"left to Qt: "_s + html;
        out += QChar(e->second);
        i += e->first.size() - 1;
    }
    return out;
}

const QUrl page(u"http://home.example/news/today.html"_s);

// A page prepared, then written for Qt with every image it lists loaded and
// no sheet but its own <style> elements: the markup Qt gets (`styled`), and
// the same without its style attributes (`html`), for what concerns its
// elements alone.
struct Written : PreparedMarkup
{
    QString html;
    QString styled;
    QMarginsF margins;
};

QString withoutStyle(QString html)
{
    static const QRegularExpression style(u" style=\"[^\"]*\""_s);
    return html.remove(style);
}

Written written(QStringView html, const QUrl& url = page, const MarkupLimits& limits = {},
                const ViewMetrics& view = {})
{
    Written w;
    static_cast<PreparedMarkup&>(w) = prepareMarkup(html, url, limits, view);
    const QSet<QUrl> images(w.images.cbegin(), w.images.cend());
    const WrittenMarkup out = writeMarkup(w, {}, images, limits, view);
    w.styled = out.html;
    w.html = withoutStyle(out.html);
    w.capped = out.capped;
    w.margins = out.margins;
    return w;
}

// Tokens as text: their kinds, with their values where they have one.
QString describe(const std::vector<mizong::page::css::Token>& tokens)
{
    using mizong::page::css::TokenType;
    QStringList out;
    for (const auto& t : tokens) {
        const QString n = QString::number(t.number);
        switch (t.type) {
        case TokenType::Ident:
            out += u"ident("_s + t.text + u')';
            break;
        case TokenType::Function:
            out += u"function("_s + t.text + u')';
            break;
        case TokenType::AtKeyword:
            out += u"at("_s + t.text + u')';
            break;
        case TokenType::Hash:
            out += u"hash("_s + t.text + (t.idHash ? u",id)"_s : u")"_s);
            break;
        case TokenType::String:
            out += u"string("_s + t.text + u')';
            break;
        case TokenType::BadString:
            out += u"bad-string"_s;
            break;
        case TokenType::Url:
            out += u"url("_s + t.text + u')';
            break;
        case TokenType::BadUrl:
            out += u"bad-url"_s;
            break;
        case TokenType::Delim:
            out += u"delim("_s + QString::fromUcs4(&t.delim, 1) + u')';
            break;
        case TokenType::Number:
            out += u"number("_s + n + u')';
            break;
        case TokenType::Percentage:
            out += u"percentage("_s + n + u')';
            break;
        case TokenType::Dimension:
            out += u"dimension("_s + n + u',' + t.text + u')';
            break;
        case TokenType::Whitespace:
            out += u"ws"_s;
            break;
        case TokenType::Cdo:
            out += u"cdo"_s;
            break;
        case TokenType::Cdc:
            out += u"cdc"_s;
            break;
        case TokenType::Colon:
            out += u":"_s;
            break;
        case TokenType::Semicolon:
            out += u";"_s;
            break;
        case TokenType::Comma:
            out += u","_s;
            break;
        case TokenType::LeftSquare:
            out += u"["_s;
            break;
        case TokenType::RightSquare:
            out += u"]"_s;
            break;
        case TokenType::LeftParen:
            out += u"("_s;
            break;
        case TokenType::RightParen:
            out += u")"_s;
            break;
        case TokenType::LeftCurly:
            out += u"{"_s;
            break;
        case TokenType::RightCurly:
            out += u"}"_s;
            break;
        }
    }
    return out.join(u' ');
}

} // namespace

class TestPage : public QObject
{
    Q_OBJECT

private slots:
    void caps_data();
    void caps();
    void nestingBudget_data();
    void nestingBudget();
    void tableBudget_data();
    void tableBudget();
    void elementCap();
    void charCap_data();
    void charCap();
    void rewriting_data();
    void rewriting();
    void characterReferences_data();
    void characterReferences();
    void everyNamedReference();
    void addresses_data();
    void addresses();
    void resourceCap();
    void linkIndexRoundTrip_data();
    void linkIndexRoundTrip();
    void loadedImages();
    void pictureAloneKeepsTheDescent_data();
    void pictureAloneKeepsTheDescent();
    void styleSheetImports_data();
    void styleSheetImports();
    void styleSheetImportCap();
    void cssTokens_data();
    void cssTokens();
    void cssColors_data();
    void cssColors();
    void mediaQueries_data();
    void mediaQueries();
    void styleSheetLimits_data();
    void styleSheetLimits();
    void styleRulesPerNesting();
    void bodyMargins_data();
    void bodyMargins();
    void linkActions_data();
    void linkActions();
    void tableColumns_data();
    void tableColumns();
    void cellHeights_data();
    void cellHeights();
    void pagesSureToScroll_data();
    void pagesSureToScroll();
    void browsersLinePitch_data();
    void browsersLinePitch();
};

void TestPage::caps_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("maxDepth");
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("capped");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("dropped");

    const auto times = [](QStringView s, int n) { return s.toString().repeated(n); };
    QTest::newRow("nested divs beyond the depth")
        << times(u"<div>", 600) + u"deep"_s << 512 << 512 << true << QString() << u"deep"_s;
    QTest::newRow("content after dropped depth comes back")
        << times(u"<div>", 20) + u"deep"_s + times(u"</div>", 12) + u"middle"_s +
               times(u"</div>", 8) + u"after"_s
        << 10 << 10 << true << u"middle"_s << u"deep"_s;
    QTest::newRow("unclosed paragraphs are siblings")
        << times(u"<p>x", 5000) << 10 << 3 << false << QString() << QString();
    QTest::newRow("unclosed list items are siblings")
        << u"<ul>"_s + times(u"<li>x", 5000) << 10 << 4 << false << QString() << QString();
    QTest::newRow("unclosed cells are siblings")
        << u"<table><tr>"_s + times(u"<td>x", 5000) << 10 << 6 << false << QString() << QString();
    QTest::newRow("unclosed rows are siblings")
        << u"<table>"_s + times(u"<tr><td>x", 5000) << 10 << 6 << false << QString() << QString();
    QTest::newRow("definitions alternate")
        << u"<dl>"_s + times(u"<dt>a<dd>b", 3000) << 10 << 4 << false << QString() << QString();
    QTest::newRow("unclosed anchors are siblings")
        << times(u"<a href=x>y", 3000) << 10 << 3 << false << QString() << QString();
    QTest::newRow("tables straight in tables close them")
        << times(u"<table>", 3000) << 10 << 3 << false << QString() << QString();
    QTest::newRow("cells without a table are ignored")
        << times(u"<td>x", 3000) << 10 << 2 << false << QString() << u"<td"_s;
    QTest::newRow("100000 nested divs")
        << times(u"<div>", 100000) << 512 << 512 << true << QString() << QString();
    QTest::newRow("100000 nested bold")
        << times(u"<b>", 100000) + u"x"_s << 512 << 512 << true << QString() << u"x"_s;
    // Options end one another: siblings, past the elements' limit.
    QTest::newRow("100000 nested options") << times(u"<option>", 100000) + u"<p>after"_s << 512 << 2
                                           << true << QString() << u"after"_s;
}

void TestPage::caps()
{
    QFETCH(QString, html);
    QFETCH(int, maxDepth);
    QFETCH(int, depth);
    QFETCH(bool, capped);
    QFETCH(QString, kept);
    QFETCH(QString, dropped);

    MarkupLimits limits;
    limits.maxDepth = maxDepth;
    const Written prepared = written(html, page, limits);
    const Shape shape = shapeOf(prepared.html);
    QVERIFY(shape.balanced);
    QCOMPARE(shape.depth, depth);
    QCOMPARE(prepared.capped, capped);
    if (!kept.isEmpty())
        QVERIFY(prepared.html.contains(kept));
    if (!dropped.isEmpty())
        QVERIFY(!prepared.html.contains(dropped));
}

void TestPage::nestingBudget_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("capped");

    // Elements deep inside a deep page weigh their depth: the importer's
    // style matching stays bounded however many rules the page brings.
    QTest::newRow("thousands of elements a hundred deep")
        << u"<div>"_s.repeated(100) + u"<b>x</b>"_s.repeated(19000) << true;
    QTest::newRow("a long flat page fits") << u"<p>x</p>"_s.repeated(19000) << false;
}

void TestPage::nestingBudget()
{
    QFETCH(QString, html);
    QFETCH(bool, capped);
    const MarkupLimits limits;
    const Written prepared = written(html, page, limits);
    QCOMPARE(prepared.capped, capped);
    const qsizetype bold = prepared.html.count(u"<b>"_s);
    if (capped)
        QVERIFY(bold < limits.maxNesting / 100);
    else
        QCOMPARE(prepared.html.count(u"<p"_s), 19000);
}

void TestPage::tableBudget_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("maxTableCells");
    QTest::addColumn<int>("cells");
    QTest::addColumn<bool>("capped");

    QTest::newRow("wide first row, then rows until the grid is full")
        << u"<table><tr>"_s + u"<td>x"_s.repeated(200) + u"<tr><td>y"_s.repeated(200) << 10000
        << 200 + 49 << true;
    QTest::newRow("a column span widens the grid")
        << u"<table><tr><td colspan=1000>x"_s + u"<tr><td>y"_s.repeated(20) << 10000 << 10 << true;
    QTest::newRow("row spans push later cells to new columns")
        << u"<table>"_s + u"<tr><td rowspan=100>x"_s.repeated(100) << 1000 << 31 << true;
    QTest::newRow("nested tables count double per level")
        << u"<table><tr><td>"_s.repeated(40) << 100 << 6 << true;
    QTest::newRow("a page layout fits")
        << u"<table><tr><td>a<td><table><tr><td>b<td><table>"_s +
               u"<tr><td>c<td>d<td>e<td>f<td>g"_s.repeated(20) + u"</table></table></table>"_s
        << 10000 << 2 + 2 + 100 << false;
}

void TestPage::tableBudget()
{
    QFETCH(QString, html);
    QFETCH(int, maxTableCells);
    QFETCH(int, cells);
    QFETCH(bool, capped);

    MarkupLimits limits;
    limits.maxTableCells = maxTableCells;
    const Written prepared = written(html, page, limits);
    QCOMPARE(prepared.html.count(u"<td"), cells);
    QCOMPARE(prepared.capped, capped);
    QVERIFY(shapeOf(prepared.html).balanced);
}

void TestPage::elementCap()
{
    MarkupLimits limits;
    limits.maxElements = 100;
    const QString html = u"<div>"_s + u"<p>x<b>y</b>"_s.repeated(80) + u"<p>last"_s;
    const Written prepared = written(html, page, limits);
    QVERIFY(prepared.capped);
    QVERIFY(shapeOf(prepared.html).balanced);
    // The div, and the <html>, <head> and <body> every document has.
    QCOMPARE(prepared.html.count(u"<p>") + prepared.html.count(u"<b>") + 4, 100);
    QVERIFY(!prepared.html.contains(u"last"));
    QVERIFY(!written(html).capped);
}

void TestPage::charCap_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("maxChars");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("capped");

    const QString img = u"<p>a</p><img src=\"http://home.example/x.png\">"_s;
    QTest::newRow("whole") << img << int(img.size())
                           << u"<p>a</p><img src=\"http://home.example/x.png\" />"_s << false;
    QTest::newRow("cut inside a tag") << img << int(img.size()) - 1 << u"<p>a</p>"_s << true;
    QTest::newRow("cut inside a quoted value holding '>'")
        << u"<p title=\"a>b\">x</p>"_s << 12 << QString() << true;
    QTest::newRow("cut inside a character reference") << u"a&amp;b"_s << 4 << u"a"_s << true;
    QTest::newRow("cut between a surrogate pair") << u"a\U0001F600"_s << 2 << u"a"_s << true;
    QTest::newRow("cut inside a script")
        << u"<script>alert(1)</script>b"_s << 12 << QString() << true;
}

void TestPage::charCap()
{
    QFETCH(QString, html);
    QFETCH(int, maxChars);
    QFETCH(QString, body);
    QFETCH(bool, capped);

    MarkupLimits limits;
    limits.maxChars = maxChars;
    const Written prepared = written(html, page, limits);
    QCOMPARE(bodyOf(prepared.html), body);
    QCOMPARE(prepared.capped, capped);
    QVERIFY(shapeOf(prepared.html).balanced);
}

void TestPage::rewriting_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("head");

    QTest::newRow("script ends at its first end tag")
        << u"<script>var s = \"</script>\";x()</script>after"_s << u"\";x()after"_s << QString();
    QTest::newRow("script with an escaped end tag in a string")
        << u"<script>var s = \"<\\/script>\"; evil()</script>after"_s << u"after"_s << QString();
    QTest::newRow("script writing a script inside a comment")
        << u"<script><!-- document.write('<script>x()</script>') --></script>after"_s << u"after"_s
        << QString();
    QTest::newRow("noscript is content: no script runs")
        << u"<noscript><iframe src=\"http://t.example/\">x</iframe>Enable it</noscript>ok"_s
        << u"Enable itok"_s << QString();
    // A floating picture starts the paragraph after it: in a block of its
    // own Qt would give it a line above the paragraph.
    QTest::newRow("a floating picture moves into the paragraph after it")
        << u"<img src=a.png style=\"float:left\">\n<p>x</p>"_s
        << u"\n<p><img src=\"http://home.example/news/a.png\" />x</p>"_s << QString();
    QTest::newRow("but not into a box")
        << u"<img src=a.png style=\"float:left\"><div style=\"border:1px solid\">x</div>"_s
        << u"<img src=\"http://home.example/news/a.png\" /><table cellspacing=\"0\" "
           u"cellpadding=\"0\" width=\"100%\"><tr><td><div>x</div></td></tr></table>"_s
        << QString();
    QTest::newRow("nor past text")
        << u"<img src=a.png style=\"float:left\">t<p>x</p>"_s
        << u"<img src=\"http://home.example/news/a.png\" />t<p>x</p>"_s << QString();
    QTest::newRow("a picture in the flow stays")
        << u"<img src=a.png><p>x</p>"_s
        << u"<img src=\"http://home.example/news/a.png\" /><p>x</p>"_s << QString();
    // Qt's own <hr> is a line of text high: a rule is an empty cell instead.
    QTest::newRow("a rule, centred as browsers do")
        << u"<hr>"_s
        << u"<table cellspacing=\"0\" cellpadding=\"0\" width=\"100%\" align=\"center\"><tr><td>"
           u"&#8203;</td></tr></table>"_s
        << QString();
    QTest::newRow("a rule of half the width on the left")
        << u"<hr width=50% align=left>"_s
        << u"<table cellspacing=\"0\" cellpadding=\"0\" width=\"50%\"><tr><td>&#8203;</td></tr>"
           u"</table>"_s
        << QString();
    // A drawing is not drawn, but its line is kept.
    QTest::newRow("an inline drawing keeps its line")
        << u"<svg height=12><rect width=8 height=12 /></svg><p>x</p>"_s
        << u"<span>&#8203;</span><p>x</p>"_s << QString();
    QTest::newRow("a drawing shown as a block keeps nothing")
        << u"<svg style=\"display:block\"></svg><p>x</p>"_s << u"<p>x</p>"_s << QString();
    QTest::newRow("iframe and object")
        << u"<iframe src=\"http://evil.example/\">x</iframe><object data=a><p>fallback</object>ok"_s
        << u"ok"_s << QString();
    QTest::newRow("self-closing svg does not swallow the page")
        << u"<svg/><svg><script>x()</script><text>t</text></svg>ok"_s
        << u"<span>&#8203;</span><span>&#8203;</span>ok"_s << QString();
    QTest::newRow("form controls go, their text stays")
        << u"<form action=\"http://x.example/\"><label>Name <input name=n></label>"
           u"<button>Go</button><select><option>A<option>B</select>"
           u"<textarea><b>t</b></textarea></form>text"_s
        << u"Name text"_s << QString();
    QTest::newRow("option outside a select")
        << u"<option>A<option>B</option>ok"_s << u"ok"_s << QString();
    QTest::newRow("head metadata goes, title and style stay")
        << u"<head><meta http-equiv=\"refresh\" content=\"0;url=http://evil.example/\">"
           u"<base href=\"/\"><link rel=icon href=f.ico><title>A &amp; B</title>"
           u"<style>p { color: red }</style></head><body>x"_s
        << u"x"_s << u"<title>A &amp; B</title>"_s;
    QTest::newRow("event handlers go")
        << u"<p onclick=\"evil()\" ONMOUSEOVER=evil() class=c>x</p>"_s << u"<p class=\"c\">x</p>"_s
        << QString();
    QTest::newRow("style attribute loses its urls")
        << u"<p style=\"background:url(file:///etc/passwd);color:red\">x</p>"_s << u"<p>x</p>"_s
        << QString();
    QTest::newRow("style attribute decoded before its urls are found")
        << u"<p style=\"background:&#x75;rl(x.png)\">x</p>"_s
        << u"<table cellspacing=\"0\" cellpadding=\"0\" width=\"100%\"><tr><td><p>x</p></td></tr></table>"_s
        << QString();
    QTest::newRow("background attributes go")
        << u"<body background=\"file:///a.png\" bgcolor=red><table background=b.png>"
           u"<tr><td background=c.png>x</table>"_s
        << u"<table cellspacing=\"2\"><tbody><tr><td>x</td></tr></tbody></table>"_s << QString();
    QTest::newRow("style blocks lose their urls, however spelt")
        << u"<style>p{background:URL(x.png) no-repeat}b{background-image:u\\72 l('y.png')}"_s
           u"i{background:-webkit-image-set(url(a.png) 1x)}q{background:url(z.png</style>"_s
           u"<p><b>x</b><i>y</i><q>z</q></p>"_s
        << u"<table cellspacing=\"0\" cellpadding=\"0\" width=\"100%\"><tr><td>"
           u"<p><b>x</b><i>y</i><span>z</span></p></td></tr></table>"_s
        << QString();
    QTest::newRow("font-face in a style block")
        << u"<style>@font-face{font-family:f;src:url(http://h.example/f.woff)}p{color:red}</style>"_s
        << QString() << QString();
    QTest::newRow("style block ends at its first end tag")
        << u"<style>a{color:red;x:\"</style><p>b\"}</style>"_s << u"<p>b\"}</p>"_s << QString();
    QTest::newRow("style block escaped for Qt, which decodes it")
        << u"<style>p{font-family:\"a<b&amp;\"}</style>"_s << QString() << QString();
    QTest::newRow("style attributes read the root's custom properties")
        << u"<style>:root{--c:#123456}</style><p style=\"--w:2px;color:var(--c);"
           u"margin:var(--w)\">x</p>"_s
        << u"<p>x</p>"_s << QString();
    QTest::newRow("attribute value cannot leave its tag")
        << u"<p title='a\"><script>x()</script>'>y</p>"_s
        << u"<p title=\"a&quot;&gt;&lt;script&gt;x()&lt;/script&gt;\">y</p>"_s << QString();
    QTest::newRow("text '<' stays text") << u"a < b"_s << u"a &lt; b"_s << QString();
    QTest::newRow("references in text decoded, never left to Qt")
        << u"a&nbsp;&lt;b&gt;"_s << u"a\u00A0&lt;b&gt;"_s << QString();
    QTest::newRow("title decodes references, xmp does not")
        << u"<title>caf&eacute; &lt;3\0</title><xmp>&eacute;\0</xmp>"_s
        << u"<pre>&amp;eacute;\uFFFD</pre>"_s << u"<title>caf\u00E9 &lt;3\uFFFD</title>"_s;
    QTest::newRow("non-http images go")
        << u"<img src=\"data:image/png;base64,AA==\"><img src=\"file:///etc/x.png\">"
           u"<img src=\"javascript:x()\"><img>ok"_s
        << u"ok"_s << QString();
    QTest::newRow("sizes bounded")
        << u"<table cellpadding=2000000000 cellspacing=5px border=1e9 width=150%>"
           u"<tr><td colspan=0 rowspan=99999999 width=\"33.5%\" height=x>a</table>"
           u"<img src=i.png width=50% height=\"20000.5\"><font size=+9>b</font>"
           u"<font size=2000000000>c</font><font size=-3>d</font>"_s
        << u"<table cellpadding=\"10000\" cellspacing=\"5\" border=\"1\" width=\"100%\">"
           u"<tbody><tr><td colspan=\"1\" rowspan=\"65534\" width=\"33.5%\">a</td></tr></tbody>"
           u"</table>"
           u"<img src=\"http://home.example/news/i.png\" height=\"10000\" />"
           u"<font size=\"+7\">b</font><font size=\"7\">c</font><font size=\"-3\">d</font>"_s
        << QString();
    QTest::newRow("unknown and newer elements under names Qt knows")
        << u"<section><custom-tag>a</custom-tag><del>b</del></section>"_s
        << u"<div><span>a</span><s>b</s></div>"_s << QString();
    QTest::newRow("paragraph closed by a block")
        << u"<p>a<b>b<div>c</div>"_s << u"<p>a<b>b</b></p><div><b>c</b></div>"_s << QString();
    QTest::newRow("end tag without an open element is ignored")
        << u"</div>a</b><i>b</span>c</i>"_s << u"a<i>bc</i>"_s << QString();
    QTest::newRow("end tag does not reach out of a cell")
        << u"<div><table><tr><td>a</div>b</table>c</div>d"_s
        << u"<div><table cellspacing=\"2\"><tbody><tr><td>ab</td></tr></tbody></table><div>c</div></div>d"_s
        << QString();
    QTest::newRow("unterminated comment") << u"<p>a<!-- b"_s << u"<p>a</p>"_s << QString();
    QTest::newRow("'<' at the end") << u"a<"_s << u"a&lt;"_s << QString();
    QTest::newRow("'</' at the end") << u"a</"_s << u"a&lt;/"_s << QString();
    QTest::newRow("empty end tag") << u"a</>b"_s << u"ab"_s << QString();
    QTest::newRow("declarations and processing instructions")
        << u"<!doctype html><?xml version=1?><![CDATA[x]]>y"_s << u"y"_s << QString();
    QTest::newRow("attributes without values")
        << u"<td nowrap><p dir title>x"_s << u"<p>x</p>"_s << QString();
    QTest::newRow("unterminated attribute quote") << u"a<p title=\"x>y"_s << u"a"_s << QString();
    QTest::newRow("NULs: dropped from text, replaced in names and values")
        << u"a\0<p\0 title=\"\0\">b\0"_s << u"a<span title=\"\uFFFD\">b</span>"_s << QString();
    QTest::newRow("lone surrogates")
        << u"a"_s + QChar(0xD800) + u"b"_s + QChar(0xDC00) << u"a\uFFFDb\uFFFD"_s << QString();
}

void TestPage::rewriting()
{
    QFETCH(QString, html);
    QFETCH(QString, body);
    QFETCH(QString, head);

    const Written prepared = written(html, page);
    QCOMPARE(bodyOf(prepared.html), body);
    QCOMPARE(headOf(prepared.html), head);
    QVERIFY(shapeOf(prepared.html).balanced);
    // Qt is given no style sheet, and no address in a style.
    QVERIFY(!prepared.styled.contains(u"<style"_s));
    QVERIFY(!prepared.styled.contains(u"url("_s));
}

void TestPage::characterReferences_data()
{
    QTest::addColumn<QString>("writtenAs");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("attribute");

    const auto same = [](const char* name, const QString& written, const QString& both) {
        QTest::newRow(name) << written << both << both;
    };
    same("legacy name without ';'", u"&copy 2024, a&nbsp b"_s, u"\u00A9 2024, a\u00A0 b"_s);
    same("names are case-sensitive", u"&AMP;&AMP &Amp;"_s, u"&& &Amp;"_s);
    same("beyond HTML 4's names", u"caf&eacute; &Kopf; &notin;"_s,
         u"caf\u00E9 \U0001D542 \u2209"_s);
    same("decoded once", u"&amp;lt;"_s, u"&lt;"_s);
    QTest::newRow("longest legacy prefix")
        << u"&notit; &ampx"_s << u"\u00ACit; &x"_s << u"&notit; &ampx"_s;
    QTest::newRow("query string") << u"?a=1&copy=2"_s << u"?a=1\u00A9=2"_s << u"?a=1&copy=2"_s;
    QTest::newRow("'=' after a legacy name") << u"a&lt=b"_s << u"a<=b"_s << u"a&lt=b"_s;
    same("numeric without ';'", u"&#45&#x41x"_s, u"-Ax"_s);
    same("numeric upper-case X, leading zeros", u"&#X41;&#000000000000000000000066;"_s, u"AB"_s);
    same("replaced code points", u"&#0;&#xD800;&#xDFFF;&#x110000;&#99999999999999999999;"_s,
         u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"_s);
    same("last code point", u"&#1114111;"_s, u"\U0010FFFF"_s);
    same("C1 controls as windows-1252 has them", u"&#128;&#150;&#x9F;&#x81;"_s,
         u"\u20AC\u2013\u0178\u0081"_s);
    same("no digits", u"&#x; &#; &#xg; &#a;"_s, u"&#x; &#; &#xg; &#a;"_s);
    same("no name", u"& &; &&amp; &zzzz;"_s, u"& &; && &zzzz;"_s);
    same("'&' before CJK", u"&中文&#20013;"_s, u"&中文中"_s);
    QTest::newRow("cut off by the end") << u"x&noti"_s << u"x\u00ACi"_s << u"x&noti"_s;
    same("numeric cut off by the end", u"&#x1F600"_s, u"\U0001F600"_s);
    QTest::newRow("NUL") << u"a\0&amp;\0b"_s << u"a&b"_s << u"a\uFFFD&\uFFFDb"_s;
}

void TestPage::characterReferences()
{
    QFETCH(QString, writtenAs);
    QFETCH(QString, text);
    QFETCH(QString, attribute);

    // Text up to the end of the input; a whole attribute value.
    const QString inText = bodyOf(written(u"<p>"_s + writtenAs).html);
    QCOMPARE(readBack(inText, u"<p>", u"</p>"), text);
    const QString inAttribute = bodyOf(written(u"<p title=\""_s + writtenAs + u"\">x</p>"_s).html);
    QCOMPARE(readBack(inAttribute, u"<p title=\"", u"\">x</p>"), attribute);
}

// The search finds every name of the table, each as itself.
void TestPage::everyNamedReference()
{
    using namespace html_entities;
    for (const Entity& e : kEntities) {
        const QString name = QString::fromLatin1(kNames + e.name, e.nameSize);
        QString out;
        QCOMPARE(consumeCharacterReference(u"&"_s + name + u"!"_s, 0, false, out), name.size() + 1);
        QString value(QChar(e.value[0]));
        if (e.value[1])
            value += QChar(e.value[1]);
        QCOMPARE(out, value);
    }
}

void TestPage::addresses_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QUrl>("pageUrl");
    QTest::addColumn<QList<QUrl>>("styleSheets");
    QTest::addColumn<QList<QUrl>>("images");
    QTest::addColumn<QList<PageLink>>("links");

    const auto url = [](const char16_t* s) { return QUrl(QString::fromUtf16(s)); };
    const auto to = [&](const char16_t* s, bool newWindow = false) {
        return PageLink{url(s), newWindow};
    };
    QTest::newRow("relative to the page")
        << u"<link rel=stylesheet href=s.css><img src=\"../i.png\"><a href=\"more.html\">m</a>"_s
        << page << QList{url(u"http://home.example/news/s.css")}
        << QList{url(u"http://home.example/i.png")}
        << QList{to(u"http://home.example/news/more.html")};
    QTest::newRow("final address after a redirect")
        << u"<img src=i.png>"_s << url(u"https://www.home.example/n/") << QList<QUrl>()
        << QList{url(u"https://www.home.example/n/i.png")} << QList<PageLink>();
    QTest::newRow("absolute base, even for what comes before it")
        << u"<img src=a.png><base href=\"http://cdn.example/x/\"><img src=b.png>"_s << page
        << QList<QUrl>()
        << QList{url(u"http://cdn.example/x/a.png"), url(u"http://cdn.example/x/b.png")}
        << QList<PageLink>();
    QTest::newRow("relative base")
        << u"<base href=\"/static/\"><img src=b.png>"_s << page << QList<QUrl>()
        << QList{url(u"http://home.example/static/b.png")} << QList<PageLink>();
    QTest::newRow("file base ignored")
        << u"<base href=\"file:///etc/\"><img src=b.png>"_s << page << QList<QUrl>()
        << QList{url(u"http://home.example/news/b.png")} << QList<PageLink>();
    QTest::newRow("only the first base counts")
        << u"<base href=\"/a/\"><base href=\"/b/\"><img src=c.png>"_s << page << QList<QUrl>()
        << QList{url(u"http://home.example/a/c.png")} << QList<PageLink>();
    QTest::newRow("fragment link")
        << u"<a href=\"#top\">t</a><a name=top id=top>x</a>"_s << page << QList<QUrl>()
        << QList<QUrl>() << QList{to(u"http://home.example/news/today.html#top")};
    QTest::newRow("protocol-relative")
        << u"<img src=\"//img.example/x.png\">"_s << url(u"https://home.example/") << QList<QUrl>()
        << QList{url(u"https://img.example/x.png")} << QList<PageLink>();
    QTest::newRow("references, blanks and line breaks in addresses")
        << u"<a href=\" ?a=1&amp;b=2&#38;c\n=3&copy=4 \">q</a>"_s << page << QList<QUrl>()
        << QList<QUrl>() << QList{to(u"http://home.example/news/today.html?a=1&b=2&c=3&copy=4")};
    QTest::newRow("other schemes listed as they are")
        << u"<a href=\"mailto:a@b.example\">m</a><a href=\"javascript:x()\">j</a>"
           u"<a href=\"ftp://f.example/\">f</a>"_s
        << page << QList<QUrl>() << QList<QUrl>()
        << QList{to(u"mailto:a@b.example"), to(u"javascript:x()"), to(u"ftp://f.example/")};
    QTest::newRow("targets")
        << u"<a href=a target=_blank>1</a><a href=b target=_self>2</a><a href=c target=named>3</a>"
           u"<a href=d target=_top>4</a>"_s
        << page << QList<QUrl>() << QList<QUrl>()
        << QList{to(u"http://home.example/news/a", true), to(u"http://home.example/news/b"),
                 to(u"http://home.example/news/c", true), to(u"http://home.example/news/d")};
    QTest::newRow("base target")
        << u"<base target=_blank><a href=a>1</a><a href=b target=_self>2</a>"_s << page
        << QList<QUrl>() << QList<QUrl>()
        << QList{to(u"http://home.example/news/a", true), to(u"http://home.example/news/b")};
    QTest::newRow("imports of a style block, repeats once")
        << u"<style><!-- @import \"a.css\"; @import url(http://cdn.example/b.css); --></style>"
           u"<link rel=\"alternate stylesheet\" href=alt.css>"
           u"<link rel=stylesheet href=\"file:///x.css\"><link rel=STYLESHEET href=a.css>"_s
        << page << QList{url(u"http://home.example/news/a.css"), url(u"http://cdn.example/b.css")}
        << QList<QUrl>() << QList<PageLink>();
    QTest::newRow("repeated image listed once")
        << u"<img src=a.png><img src=\"http://home.example/news/a.png\">"_s << page << QList<QUrl>()
        << QList{url(u"http://home.example/news/a.png")} << QList<PageLink>();
}

void TestPage::addresses()
{
    QFETCH(QString, html);
    QFETCH(QUrl, pageUrl);
    QFETCH(QList<QUrl>, styleSheets);
    QFETCH(QList<QUrl>, images);
    QFETCH(QList<PageLink>, links);

    const Written prepared = written(html, pageUrl);
    QCOMPARE(prepared.styleSheets, styleSheets);
    QCOMPARE(prepared.images, images);
    QCOMPARE(prepared.links.size(), links.size());
    for (qsizetype i = 0; i < links.size(); ++i) {
        QCOMPARE(prepared.links[i].url, links[i].url);
        QCOMPARE(prepared.links[i].newWindow, links[i].newWindow);
        QVERIFY(prepared.html.contains(u"href=\""_s + linkHref(int(i)) + u'"'));
    }
    QCOMPARE(prepared.html.count(u"<img "), html.count(u"<img"));
    QVERIFY(!prepared.html.contains(u"<base"));
}

void TestPage::resourceCap()
{
    MarkupLimits limits;
    limits.maxResources = 3;
    const Written prepared =
        written(u"<link rel=stylesheet href=a.css><img src=1.png>"
                u"<style>@import 'b.css'; @import 'c.css';</style><img src=2.png>"_s,
                page, limits);
    QVERIFY(prepared.capped);
    QCOMPARE(prepared.styleSheets, (QList{QUrl(u"http://home.example/news/a.css"_s),
                                          QUrl(u"http://home.example/news/b.css"_s)}));
    QCOMPARE(prepared.images, QList{QUrl(u"http://home.example/news/1.png"_s)});
    QCOMPARE(prepared.html.count(u"<img "), 1);
    QVERIFY(!prepared.html.contains(u"c.css"));
}

void TestPage::linkIndexRoundTrip_data()
{
    QTest::addColumn<QUrl>("href");
    QTest::addColumn<int>("index"); // -1: none

    QTest::newRow("0") << QUrl(linkHref(0)) << 0;
    QTest::newRow("4711") << QUrl(linkHref(4711)) << 4711;
    QTest::newRow("leading zero") << QUrl(u"mizong-link:07"_s) << -1;
    QTest::newRow("negative") << QUrl(u"mizong-link:-1"_s) << -1;
    QTest::newRow("too long") << QUrl(u"mizong-link:99999999999"_s) << -1;
    QTest::newRow("with a query") << QUrl(u"mizong-link:1?x"_s) << -1;
    QTest::newRow("other scheme") << QUrl(u"http://home.example/1"_s) << -1;
    QTest::newRow("empty") << QUrl(u"mizong-link:"_s) << -1;
}

void TestPage::linkIndexRoundTrip()
{
    QFETCH(QUrl, href);
    QFETCH(int, index);
    QCOMPARE(linkIndex(href), index < 0 ? std::nullopt : std::optional<int>(index));
}

// A picture alone on its line stands on the baseline with the font's descent
// below it: the writer gives Qt a space after it, which Qt measures.
void TestPage::pictureAloneKeepsTheDescent_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("descent");

    const QString html = u"<!DOCTYPE html>"_s;
    QTest::newRow("a picture in a paragraph") << html + u"<p><img src=a.png></p>"_s << true;
    QTest::newRow("in a link") << html + u"<div><a href=/x><img src=a.png></a></div>"_s << true;
    QTest::newRow("quirks: as tall as the picture") << u"<p><img src=a.png></p>"_s << false;
    QTest::newRow("text has it anyway") << html + u"<p><img src=a.png>标志</p>"_s << false;
    QTest::newRow("two pictures may take two lines")
        << html + u"<p><img src=a.png><img src=a.png></p>"_s << false;
    QTest::newRow("centred on the line")
        << html + u"<p><img src=a.png style=vertical-align:middle></p>"_s << false;
    QTest::newRow("a picture not loaded") << html + u"<p><img src=b.png></p>"_s << false;
    QTest::newRow("a floating picture") << html + u"<p><img src=a.png align=left></p>"_s << false;
    QTest::newRow("a line height of the page's")
        << html + u"<p style=line-height:30px><img src=a.png></p>"_s << false;
}

void TestPage::pictureAloneKeepsTheDescent()
{
    QFETCH(QString, html);
    QFETCH(bool, descent);
    const PreparedMarkup page = prepareMarkup(html, QUrl(u"http://h.example/"_s));
    const QString written = writeMarkup(page, {}, {QUrl(u"http://h.example/a.png"_s)}).html;
    QCOMPARE(written.contains(u"<span style=\"white-space:pre\"> </span>"_s), descent);
}

void TestPage::loadedImages()
{
    const PreparedMarkup prepared =
        prepareMarkup(u"<p>a<img src=\"x.png?a=1&amp;b=2\" alt=\"x\">b<img src=y.png alt=\"y\" "
                      u"title=' src=\"http://home.example/news/x.png?a=1&amp;b=2\"'>c</p>"_s,
                      page);
    QCOMPARE(prepared.images.size(), 2);
    const auto withImages = [&](const QSet<QUrl>& loaded) {
        return bodyOf(withoutStyle(writeMarkup(prepared, {}, loaded).html));
    };
    QCOMPARE(withImages({prepared.images[0]}),
             u"<p>a<img src=\"http://home.example/news/x.png?a=1&amp;b=2\" alt=\"x\" />bc</p>"_s);
    QCOMPARE(withImages({}), u"<p>abc</p>"_s);
    QCOMPARE(withImages({prepared.images[0], prepared.images[1]}).count(u"<img "), 2);
}

// The sheets a loaded sheet imports: its leading @imports that hold for the
// view, resolved against its own address, http(s) only, each once.
void TestPage::styleSheetImports_data()
{
    QTest::addColumn<QString>("css");
    QTest::addColumn<QStringList>("imports");

    const QStringList none;
    QTest::newRow("string") << u"@import \"a.css\";\np{color:red}"_s
                            << QStringList{u"http://h.example/css/a.css"_s};
    QTest::newRow("url with an escape, for the screen")
        << u"@import url( b\\2e css ) screen;"_s << QStringList{u"http://h.example/css/b.css"_s};
    QTest::newRow("url function of a string, elsewhere")
        << u"@IMPORT url(\"//cdn.example/x.css\") all;@import url(https://s.example/y.css);"_s
        << QStringList{u"http://cdn.example/x.css"_s, u"https://s.example/y.css"_s};
    QTest::newRow("in order, each once")
        << u"@import 'b.css';@import 'a.css';@import '/css/b.css';"_s
        << QStringList{u"http://h.example/css/b.css"_s, u"http://h.example/css/a.css"_s};
    QTest::newRow("for print: not loaded")
        << u"@import url(b.css) print;@import 'c.css' (max-width:100px);@import 'd.css' "
           u"print, (min-width:300px);"_s
        << QStringList{u"http://h.example/css/d.css"_s};
    QTest::newRow("after a rule: none") << u"p{color:red} @import \"a.css\";"_s << none;
    QTest::newRow("after another at-rule: none")
        << u"@font-face{font-family:f} @import \"a.css\";"_s << none;
    QTest::newRow("after @charset and @layer statements")
        << u"@charset \"utf-8\";@layer a, b;@import 'a.css';"_s
        << QStringList{u"http://h.example/css/a.css"_s};
    QTest::newRow("a @layer statement ends them") << u"@import 'a.css';@layer a;@import 'b.css';"_s
                                                  << QStringList{u"http://h.example/css/a.css"_s};
    QTest::newRow("an invalid one drops alone")
        << u"@import;@import 1px;@import url(x y);@import 'x.css'{}@import 'a.css';"_s
        << QStringList{u"http://h.example/css/a.css"_s};
    QTest::newRow("not http")
        << u"@import \"file:///etc/a.css\";@import 'data:text/css,p{}';@import "
           u"'javascript:x()';"_s
        << none;
    QTest::newRow("supports, as the cascade supports it")
        << u"@import 'a.css' supports(display:grid);@import 'b.css' supports(display:nonsense);"
           u"@import 'c.css' supports((color:red) and (not (display:nonsense))) screen;"
           u"@import 'd.css' supports(selector(p > b)) print;"_s
        << QStringList{u"http://h.example/css/a.css"_s, u"http://h.example/css/c.css"_s};
    QTest::newRow("media of parentheses a hundred thousand deep")
        << u"@import 'a.css' "_s + u"("_s.repeated(100000) << none;
    QTest::newRow("supports nested a thousand deep: past the cap, not loaded")
        << u"@import 'a.css' supports("_s + u"("_s.repeated(1000) + u"color:red"_s +
               u")"_s.repeated(1001) + u";@import 'b.css';"_s
        << QStringList{u"http://h.example/css/b.css"_s};
    QTest::newRow("layered: not loaded, as @layer blocks are dropped")
        << u"@import 'a.css' layer;@import 'b.css' layer(x) screen;@import 'c.css' screen;"_s
        << QStringList{u"http://h.example/css/c.css"_s};
}

void TestPage::styleSheetImports()
{
    QFETCH(QString, css);
    QFETCH(QStringList, imports);

    const PreparedStyleSheet prepared =
        prepareStyleSheet(css, QUrl(u"http://h.example/css/main.css"_s));
    QStringList found;
    for (const QUrl& url : prepared.imports)
        found << url.toString();
    QCOMPARE(found, imports);
    QCOMPARE(prepared.text, css);
    QVERIFY(!prepared.capped);
    // A <style> element's the same, against the page's address.
    const Written page =
        written(u"<style>"_s + css + u"</style>x"_s, QUrl(u"http://h.example/css/page.html"_s));
    QCOMPARE(page.styleSheets, prepared.imports);
    QCOMPARE(page.styleSources.value(0).imports, prepared.imports);
}

void TestPage::styleSheetImportCap()
{
    MarkupLimits limits;
    limits.maxResources = 2;
    const QString css =
        u"@import 'a.css'; @import 'a.css'; @import 'b.css'; @import 'c.css'; p{}"_s;
    const PreparedStyleSheet prepared =
        prepareStyleSheet(css, QUrl(u"http://h.example/"_s), limits);
    QVERIFY(prepared.capped);
    QCOMPARE(prepared.imports,
             (QList{QUrl(u"http://h.example/a.css"_s), QUrl(u"http://h.example/b.css"_s)}));
    // The sheet's own rules are kept all the same.
    QCOMPARE(prepared.text, css);
}

// CSS Syntax's tokenizer where pages go wrong: escapes, strings and urls
// cut short, numbers in every form, blocks left open.
void TestPage::cssTokens_data()
{
    QTest::addColumn<QString>("css");
    QTest::addColumn<QString>("tokens");

    QTest::newRow("escapes") << u"a\\62 c \\110000x \\"_s
                             << u"ident(abc) ws ident(\uFFFDx) ws ident(\uFFFD)"_s;
    QTest::newRow("a bad string ends before its line break")
        << u"\"ab\ncd\""_s << u"bad-string ws ident(cd) string()"_s;
    QTest::newRow("a string's escaped line break") << u"'a\\\r\nb'"_s << u"string(ab)"_s;
    QTest::newRow("an unquoted url") << u"url(  a\\).png  )"_s << u"url(a).png)"_s;
    QTest::newRow("a bad url runs to its parenthesis")
        << u"url(a b) c url(a\"b)"_s << u"bad-url ws ident(c) ws bad-url"_s;
    QTest::newRow("a quoted url is a function")
        << u"URL( \"a\" )"_s << u"function(URL) ws string(a) ws )"_s;
    QTest::newRow("numbers") << u"1e3 .5em -.5% +2 1e 3--x"_s
                             << u"number(1000) ws dimension(0.5,em) ws percentage(-0.5) ws "
                                u"number(2) ws dimension(1,e) ws dimension(3,--x)"_s;
    QTest::newRow("markup comment marks") << u"<!-- -->"_s << u"cdo ws cdc"_s;
    QTest::newRow("hashes") << u"#1a #-b #"_s << u"hash(1a) ws hash(-b,id) ws delim(#)"_s;
    QTest::newRow("comments") << u"a/**/b/* open"_s << u"ident(a) ident(b)"_s;
    QTest::newRow("NUL and a lone surrogate") << u"a\0b\xD800"_s << u"ident(a\uFFFDb\uFFFD)"_s;
    QTest::newRow("blocks closed at the end") << u"f([{"_s << u"function(f) [ { } ] )"_s;
    QTest::newRow("closers that close nothing") << u")]}"_s << u") ] }"_s;
    QTest::newRow("at-keywords") << u"@media @-x @1"_s
                                 << u"at(media) ws at(-x) ws delim(@) number(1)"_s;
}

void TestPage::cssTokens()
{
    QFETCH(QString, css);
    QFETCH(QString, tokens);
    QCOMPARE(describe(mizong::page::css::tokenize(css)), tokens);
}

void TestPage::cssColors_data()
{
    QTest::addColumn<QString>("css");
    QTest::addColumn<QString>("rgba"); // empty: no colour

    QTest::newRow("hex 3") << u"#abc"_s << u"aabbccff"_s;
    QTest::newRow("hex 4") << u"#abcd"_s << u"aabbccdd"_s;
    QTest::newRow("hex 8") << u"#11223380"_s << u"11223380"_s;
    QTest::newRow("hex 5") << u"#12345"_s << QString();
    QTest::newRow("hex with a number's prefix") << u"#0x1"_s << QString();
    QTest::newRow("named, any case") << u"DarkSlateGray"_s << u"2f4f4fff"_s;
    QTest::newRow("not a name") << u"reddish"_s << QString();
    QTest::newRow("transparent") << u"transparent"_s << u"00000000"_s;
    QTest::newRow("rgb clamped") << u"rgb(300, -1, 2)"_s << u"ff0002ff"_s;
    QTest::newRow("rgb percentages") << u"rgb(50% 0% 100%)"_s << u"8000ffff"_s;
    QTest::newRow("rgba with a percentage alpha") << u"rgba(0,0,0,25%)"_s << u"00000040"_s;
    QTest::newRow("rgb with too few") << u"rgb(1,2)"_s << QString();
    QTest::newRow("rgb mixing commas and spaces") << u"rgb(1 2, 3)"_s << QString();
    QTest::newRow("rgb with a slash and commas") << u"rgb(1,2,3/1)"_s << QString();
    QTest::newRow("hsl in turns") << u"hsl(0.5turn 100% 50%)"_s << u"00ffffff"_s;
    QTest::newRow("hsl in degrees, commas") << u"hsla(120deg,100%,50%,0.5)"_s << u"00ff0080"_s;
    QTest::newRow("legacy hsl needs percentages") << u"hsl(120,100,50)"_s << QString();
    QTest::newRow("hsl with none") << u"hsl(none 0% 100% / none)"_s << u"ffffff00"_s;
    QTest::newRow("two colours") << u"red blue"_s << QString();
}

void TestPage::cssColors()
{
    using namespace mizong::page::css;
    QFETCH(QString, css);
    QFETCH(QString, rgba);
    const std::vector<Token> tokens = tokenize(css);
    const std::optional<Color> c = parseColor(tokens);
    QCOMPARE(c.has_value(), !rgba.isEmpty());
    if (c) {
        const auto hex = [](int v) { return QString::number(v, 16).rightJustified(2, u'0'); };
        QCOMPARE(hex(c->red) + hex(c->green) + hex(c->blue) + hex(int(std::lround(c->alpha * 255))),
                 rgba);
    }
}

// @media and @import's media for the view the page is laid out for.
void TestPage::mediaQueries_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QSizeF>("view");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<bool>("matches");

    const QSizeF window(369, 221);
    const QSizeF tall(400, 800);
    QTest::newRow("max-width, narrow") << u"(max-width:480px)"_s << window << 1.0 << true;
    QTest::newRow("max-width, wide") << u"(max-width:480px)"_s << QSizeF(1024, 768) << 1.0 << false;
    QTest::newRow("min-width in em") << u"(min-width:20em)"_s << window << 1.0 << true;
    QTest::newRow("min-height") << u"screen and (min-height:300px)"_s << window << 1.0 << false;
    QTest::newRow("range syntax") << u"(300px < width <= 369px)"_s << window << 1.0 << true;
    QTest::newRow("range syntax, reversed") << u"(400px <= width)"_s << window << 1.0 << false;
    QTest::newRow("orientation") << u"(orientation:portrait)"_s << tall << 1.0 << true;
    QTest::newRow("orientation, landscape")
        << u"(orientation:portrait)"_s << window << 1.0 << false;
    QTest::newRow("print") << u"print"_s << window << 1.0 << false;
    QTest::newRow("not print") << u"not print"_s << window << 1.0 << true;
    QTest::newRow("only screen and")
        << u"only screen and (max-width:400px)"_s << window << 1.0 << true;
    QTest::newRow("a list, one holds") << u"print, (min-width:100px)"_s << window << 1.0 << true;
    QTest::newRow("a list, an invalid one") << u"screen and, all"_s << window << 1.0 << true;
    QTest::newRow("not and or") << u"not ((min-width:1000px) or (max-width:100px))"_s << window
                                << 1.0 << true;
    QTest::newRow("resolution") << u"(min-resolution:2dppx)"_s << window << 2.0 << true;
    QTest::newRow("resolution, low") << u"(min-resolution:192dpi)"_s << window << 1.0 << false;
    QTest::newRow("device pixel ratio")
        << u"(-webkit-min-device-pixel-ratio:1.5)"_s << window << 2.0 << true;
    QTest::newRow("device pixel ratio, low")
        << u"(-webkit-min-device-pixel-ratio:1.5)"_s << window << 1.0 << false;
    QTest::newRow("an unknown feature") << u"(min-foo:1px)"_s << window << 1.0 << false;
    QTest::newRow("not an unknown feature") << u"not all and (foo)"_s << window << 1.0 << false;
    QTest::newRow("a dark scheme") << u"(prefers-color-scheme:dark)"_s << window << 1.0 << false;
}

void TestPage::mediaQueries()
{
    QFETCH(QString, query);
    QFETCH(QSizeF, view);
    QFETCH(qreal, ratio);
    QFETCH(bool, matches);

    const ViewMetrics metrics{view.width(), view.height(), ratio};
    const QString css = u"@media "_s + query + u"{.m{color:red}}p{color:blue}"_s;
    // An @import's media query list, for a loaded sheet's view.
    const PreparedStyleSheet sheet = prepareStyleSheet(u"@import 'a.css' "_s + query + u';',
                                                       QUrl(u"http://h.example/"_s), {}, metrics);
    QCOMPARE(sheet.imports.size(), matches ? 1 : 0);
    // The page's <style> elements are read for the same view.
    const Written page = written(u"<style>"_s + css + u"</style><p class=m>x"_s,
                                 QUrl(u"http://h.example/"_s), {}, metrics);
    QVERIFY(page.styled.contains(matches ? u"color:#ff0000"_s : u"color:#0000ff"_s));
}

void TestPage::styleSheetLimits_data()
{
    QTest::addColumn<QString>("css");
    QTest::addColumn<int>("maxRules");
    QTest::addColumn<int>("maxChars");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<int>("rules");

    const QString three = u"a{color:red}b{color:red}c{color:red}"_s;
    QTest::newRow("within") << three << 3 << 100 << three << 3;
    QTest::newRow("one rule too many") << three << 2 << 100 << u"a{color:red}b{color:red}"_s << 2;
    QTest::newRow("cut by characters, after a whole rule")
        << three << 10 << 30 << u"a{color:red}b{color:red}"_s << 2;
    QTest::newRow("nested rules count")
        << u"@media screen{a{}b{}}c{}"_s << 2 << 100 << QString() << 0;
    QTest::newRow("a nested block is kept whole")
        << u"@media screen{a{}b{}}c{}"_s << 3 << 100 << u"@media screen{a{}b{}}"_s << 3;
    QTest::newRow("braces in strings and comments")
        << u"a{content:'{}{'}/*{{*/b{}c{}"_s << 2 << 100 << u"a{content:'{}{'}/*{{*/b{}"_s << 2;
    QTest::newRow("an at-statement ends at its semicolon")
        << u"@import 'x.css';a{}"_s << 0 << 100 << u"@import 'x.css';"_s << 0;
}

// A style sheet is cut after its last whole rule within the limits, however
// its braces are nested or quoted.
void TestPage::styleSheetLimits()
{
    QFETCH(QString, css);
    QFETCH(int, maxRules);
    QFETCH(int, maxChars);
    QFETCH(QString, kept);
    QFETCH(int, rules);

    MarkupLimits limits;
    limits.maxStyleRules = maxRules;
    limits.maxStyleChars = maxChars;
    // The same cut in a loaded sheet and in a <style> element.
    const PreparedStyleSheet sheet = prepareStyleSheet(css, QUrl(u"http://h.example/"_s), limits);
    QCOMPARE(sheet.rules, rules);
    QCOMPARE(sheet.capped, kept.size() < css.size());
    QCOMPARE(sheet.text, kept);
    const Written page =
        written(u"<style>"_s + css + u"</style><p>x</p>"_s, QUrl(u"http://h.example/"_s), limits);
    QCOMPARE(page.styleRules, rules);
    QCOMPARE(page.styleSources.value(0).text, kept);
}

// Rules times the elements' nesting stay within what the cascade's matching
// may spend: the deeper the page, the fewer of its rules are kept.
void TestPage::styleRulesPerNesting()
{
    QString rules;
    for (int i = 0; i < 4096; ++i)
        rules += u".c%1 .d{color:red}"_s.arg(i);
    const QString shallow =
        u"<style>"_s + rules + u"</style>"_s + u"<p class=d>x</p>"_s.repeated(100);
    const QString deep = u"<style>"_s + rules + u"</style>"_s + u"<div>"_s.repeated(500) +
                         u"<b class=d>y</b>"_s.repeated(1500);
    const MarkupLimits limits;
    const Written few = written(shallow, QUrl(u"http://h.example/"_s), limits);
    QCOMPARE(few.styleRules, 4096);
    const Written many = written(deep, QUrl(u"http://h.example/"_s), limits);
    QVERIFY(many.capped);
    QVERIFY(many.styleRules > 0);
    QVERIFY(qint64(many.styleRules) * many.nesting <= limits.maxStyleWork);
    QCOMPARE(many.styleRules, styleRulesFor(limits, many.nesting));
    // The elements are kept all the same.
    QCOMPARE(many.html.count(u"<b "_s) + many.html.count(u"<b>"_s), 1500);
}

void TestPage::linkActions_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("newWindow");
    QTest::addColumn<QString>("homeSite");
    QTest::addColumn<LinkAction>("action");

    const QString home = u"http://home.example"_s;
    QTest::newRow("home host") << u"http://home.example/a"_s << false << home
                               << LinkAction::InsideView;
    QTest::newRow("home host over https")
        << u"https://HOME.example/a"_s << false << home << LinkAction::InsideView;
    QTest::newRow("home host, new window")
        << u"http://home.example/a"_s << true << home << LinkAction::Browser;
    QTest::newRow("other host") << u"http://shop.example/a"_s << false << home
                                << LinkAction::Browser;
    QTest::newRow("home host with its port")
        << u"http://127.0.0.1:8765/a"_s << false << u"http://127.0.0.1:8765"_s
        << LinkAction::InsideView;
    QTest::newRow("home host on another port") << u"http://127.0.0.1:9000/a"_s << false
                                               << u"http://127.0.0.1:8765"_s << LinkAction::Browser;
    QTest::newRow("mailto") << u"mailto:a@home.example"_s << false << home << LinkAction::Nothing;
    QTest::newRow("javascript") << u"javascript:x()"_s << true << home << LinkAction::Nothing;
    QTest::newRow("ftp") << u"ftp://home.example/a"_s << false << home << LinkAction::Nothing;
    QTest::newRow("file") << u"file:///etc/passwd"_s << false << home << LinkAction::Nothing;
}

void TestPage::linkActions()
{
    QFETCH(QString, url);
    QFETCH(bool, newWindow);
    QFETCH(QString, homeSite);
    QFETCH(LinkAction, action);
    QCOMPARE(linkAction(PageLink{QUrl(url), newWindow}, QUrl(homeSite)), action);
}

QTEST_APPLESS_MAIN(TestPage)
namespace {

// Ideographs 10 px wide, everything else 5, in any font: widths a browser's
// table layout would give follow by hand.
class EvenMeasure : public TextMeasure
{
public:
    qreal width(QStringView text, const css::ComputedStyle&) const override
    {
        qreal w = 0;
        for (QChar c : text)
            w += c.unicode() >= 0x2e80 ? 10 : 5;
        return w;
    }
    qreal lineHeight(const css::ComputedStyle&) const override { return 15; }
    qreal normalLineHeight(const css::ComputedStyle& style) const override
    {
        return style.fontSize - 2;
    }
};

} // namespace

void TestPage::tableColumns_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("viewWidth");
    QTest::addColumn<QList<int>>("widths"); // of the cells given one, in order

    // No padding, spacing or border unless a row says so; the body's margin
    // is 0, so the table may take the whole view.
    const auto table = [](const QString& attributes, const QString& rows) {
        return u"<body style=margin:0><table cellspacing=0 cellpadding=0 "_s + attributes + u'>' +
               rows + u"</table>"_s;
    };
    QTest::newRow("widest contents when they fit")
        << table({}, u"<tr><td>ab</td><td>中文字</td></tr>"_s) << 300 << QList<int>{10, 30};
    QTest::newRow("too wide: the narrowest plus shares of the rest")
        << table({}, u"<tr><td>中中中中中中</td><td>文文文文文文文文文文文文</td></tr>"_s) << 100
        << QList<int>{35, 65};
    QTest::newRow("Latin breaks only between words, whole pixels keep the table's width")
        << table({}, u"<tr><td>aaaa bbbb cccc dddd</td><td>中中中中中中中中中中中中</td></tr>"_s)
        << 100 << QList<int>{48, 52};
    QTest::newRow("a line may break after a slash or hyphen, not before a digit")
        << table({}, u"<tr><td>aaaa/bbbb-cccc 12345-6</td></tr>"_s) << 20 << QList<int>{35};
    QTest::newRow("nowrap keeps its line whole")
        << table({}, u"<tr><td nowrap>中中中中中中中中</td><td>文文文文文文</td></tr>"_s) << 100
        << QList<int>{80, 20};
    QTest::newRow("punctuation stays with the ideograph before it")
        << table({}, u"<tr><td>中，中，</td><td>文文文文文文文文文文文文文文文文文文</td></tr>"_s)
        << 30 << QList<int>{20, 10};
    QTest::newRow("a wider table's excess to the columns without a width")
        << table(u"width=200"_s, u"<tr><td width=40>a</td><td>中中</td></tr>"_s) << 300
        << QList<int>{40, 160};
    QTest::newRow("percentages of the table's own width")
        << table(u"width=200"_s, u"<tr><td width=25%>a</td><td>b</td></tr>"_s) << 300
        << QList<int>{50, 150};
    QTest::newRow("a spanning cell's excess shared by the columns' widest")
        << table({}, u"<tr><td colspan=2>中中中中中中中中</td></tr><tr><td>a</td><td>bbb</td>"_s)
        << 300 << QList<int>{20, 60};
    QTest::newRow("a cell's width attribute is inside its padding")
        << table({}, u"<tr><td width=30 style=\"padding:0 5px\">a</td></tr>"_s) << 300
        << QList<int>{40};
    QTest::newRow("padding and borders, separate")
        << table({}, u"<tr><td style=\"padding:0 4px; border:2px solid\">中</td></tr>"_s) << 300
        << QList<int>{22};
    QTest::newRow("padding and half the borders, collapsed")
        << table(u"style=border-collapse:collapse"_s,
                 u"<tr><td style=\"padding:0 4px; border:2px solid\">中</td></tr>"_s)
        << 300 << QList<int>{20};
    // Qt draws a border attribute's cell borders outside the width it is
    // given; browsers count them in.
    QTest::newRow("a border attribute's cell borders")
        << table(u"border=1"_s, u"<tr><td>中中</td><td>a</td></tr>"_s) << 300 << QList<int>{20, 5};
    QTest::newRow("a nested table's widest line")
        << table({}, u"<tr><td><table cellspacing=0 cellpadding=0><tr><td>中中中</td><td>文</td>"
                     u"</tr></table></td><td>a</td></tr>"_s)
        << 300 << QList<int>{40, 30, 10, 5};
}

void TestPage::tableColumns()
{
    QFETCH(QString, html);
    QFETCH(int, viewWidth);
    QFETCH(QList<int>, widths);

    ViewMetrics view;
    view.width = viewWidth;
    const EvenMeasure measure;
    const QString written = writeMarkup(prepareMarkup(html, QUrl(u"http://h.example/"_s), {}, view),
                                        {}, {}, {}, view, &measure)
                                .html;
    QList<int> found;
    static const QRegularExpression cell(u"<t[dh][^>]*\\swidth=\"([0-9.]+)\""_s);
    for (const QRegularExpressionMatch& m : cell.globalMatch(written))
        found.append(qRound(m.captured(1).toDouble()));
    QCOMPARE(found, widths);
    // Without a measure Qt shares the width out itself: nothing is made up.
    const QString unmeasured = markupForQt(html, QUrl(u"http://h.example/"_s), {}, view).html;
    QVERIFY(!unmeasured.contains(u"width=\"35\""_s) && !unmeasured.contains(u"width=\"48\""_s));
}

void TestPage::browsersLinePitch_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("pitch"); // of the block holding "框", as written

    // EvenMeasure: a browser's normal line is 14 px where Qt's is 15, for
    // the default 16 px.
    QTest::newRow("a paragraph") << u"<p>一框</p>"_s << u"14px"_s;
    QTest::newRow("bold and links in its font")
        << u"<p><b>一</b><a href=/x>框</a></p>"_s << u"14px"_s;
    QTest::newRow("a cell") << u"<table><tr><td>框</table>"_s << u"14px"_s;
    QTest::newRow("its own line height") << u"<p style=line-height:20px>框</p>"_s << u"20px"_s;
    QTest::newRow("a larger word: Qt's own")
        << u"<p>框<span style=font-size:30px>大</span></p>"_s << QString();
    QTest::newRow("another face: Qt's own") << u"<p>框<code>x</code></p>"_s << QString();
    QTest::newRow("a picture: Qt's own")
        << u"<p>框<img src=http://h.example/a.png></p>"_s << QString();
    QTest::newRow("a nested block has its own lines")
        << u"<div>框<p style=font-size:30px>大</p></div>"_s << u"14px"_s;
    // A page without a DOCTYPE: lines are as tall as the text on them
    // (<font size=2> is 13 px), the block's own font aside.
    QTest::newRow("small print alone")
        << u"<p> <font size=2>一<b>框</b><br>二</font> </p>"_s << u"11px"_s;
    QTest::newRow("small print alone, in a cell")
        << u"<table><tr><td><font size=2>框</font></table>"_s << u"11px"_s;
    QTest::newRow("small print in two runs")
        << u"<p><font size=2>一 </font> <font size=2>框</font></p>"_s << u"11px"_s;
    QTest::newRow("small print in a marquee")
        << u"<table><tr><td><marquee><font size=2>框</font></marquee></table>"_s << u"11px"_s;
    QTest::newRow("an empty larger box does not count")
        << u"<p><font size=2>框</font><font size=7></font></p>"_s << u"11px"_s;
    QTest::newRow("a space between puts the block's font on the line: Qt's own")
        << u"<p><font size=2>一</font> <font size=2>框</font></p>"_s << QString();
    QTest::newRow("small print beside the block's own text: Qt's own")
        << u"<p><font size=2>框</font>一</p>"_s << QString();
    QTest::newRow("a box with padding counts")
        << u"<p><font size=2>框</font><span style=padding:1px;font-size:30px></span></p>"_s
        << QString();
    QTest::newRow("a DOCTYPE: the block's font always counts")
        << u"<!DOCTYPE html><p><font size=2>框</font></p>"_s << QString();
    QTest::newRow("a DOCTYPE, an empty larger box counts")
        << u"<!DOCTYPE html><p>框<font size=7></font></p>"_s << QString();
}

void TestPage::browsersLinePitch()
{
    QFETCH(QString, html);
    QFETCH(QString, pitch);
    const EvenMeasure measure;
    const PreparedMarkup page = prepareMarkup(html, QUrl(u"http://h.example/"_s));
    const QString written =
        writeMarkup(page, {}, {QUrl(u"http://h.example/a.png"_s)}, {}, {}, &measure).html;
    // The style of the innermost element that opens before "框".
    const qsizetype at = written.indexOf(u'框');
    QVERIFY(at > 0);
    static const QRegularExpression blockOpen(
        u"<(p|div|td)(?: [^>]*)? style=\"([^\"]*)\"[^>]*>(?:(?!</?(?:p|div|td)[ >]).)*$"_s);
    const QRegularExpressionMatch m = blockOpen.match(written.first(at));
    QVERIFY2(m.hasMatch(), qPrintable(written));
    static const QRegularExpression line(u"line-height:([0-9.]+px)"_s);
    QCOMPARE(line.match(m.captured(2)).captured(1), pitch);
}

void TestPage::pagesSureToScroll_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("fills");

    // A view of 300 x 200; characters 10 px wide, lines 15 px (EvenMeasure):
    // 400 characters cover it.
    const QString han(u'中');
    QTest::newRow("just short of the view") << han.repeated(399) << false;
    QTest::newRow("past it") << han.repeated(401) << true;
    QTest::newRow("over several elements")
        << u"<p>"_s + han.repeated(200) + u"<table><tr><td>"_s + han.repeated(201) << true;
    QTest::newRow("hidden text does not count")
        << u"<div style=display:none>"_s + han.repeated(1000) + u"</div>"_s + han.repeated(10)
        << false;
    QTest::newRow("tall lines") << u"<p style=line-height:30px>"_s + han.repeated(201) << true;
    QTest::newRow("one line that does not wrap")
        << u"<p style=white-space:nowrap>"_s + han.repeated(1000) << false;
    QTest::newRow("preformatted: line by line") << u"<pre>"_s + (han + u'\n').repeated(401) << true;
    QTest::newRow("preformatted: one long line") << u"<pre>"_s + han.repeated(1000) << false;
}

void TestPage::pagesSureToScroll()
{
    QFETCH(QString, html);
    QFETCH(bool, fills);
    ViewMetrics view;
    view.width = 300;
    view.height = 200;
    const PreparedMarkup page = prepareMarkup(html, QUrl(u"http://h.example/"_s), {}, view);
    QCOMPARE(fillsView(page, stylePage(page, {}, {}, view), view, EvenMeasure()), fills);
}

void TestPage::cellHeights_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("viewWidth");
    QTest::addColumn<QString>("padding"); // as written

    // Lines 15 px high (EvenMeasure): a height of 35 leaves 20.
    QTest::newRow("centred by default") << u"<td height=35>中文"_s << 300 << u"10px 0px"_s;
    QTest::newRow("at the top") << u"<td height=35 valign=top>中文"_s << 300
                                << u"0px 0px 20px 0px"_s;
    QTest::newRow("at the bottom")
        << u"<td height=35 valign=bottom>中文"_s << 300 << u"20px 0px 0px 0px"_s;
    QTest::newRow("lower than its line") << u"<td height=10>中文"_s << 300 << u"0px"_s;
    QTest::newRow("two lines: left to Qt") << u"<td height=35>中<br>文"_s << 300 << u"0px"_s;
    QTest::newRow("wrapped: left to Qt") << u"<td height=35>中文中文中文"_s << 30 << u"0px"_s;
}

void TestPage::cellHeights()
{
    QFETCH(QString, cell);
    QFETCH(int, viewWidth);
    QFETCH(QString, padding);

    ViewMetrics view;
    view.width = viewWidth;
    const EvenMeasure measure;
    const QString html = u"<body style=margin:0><table cellspacing=0 cellpadding=0><tr>"_s + cell;
    const QString written = writeMarkup(prepareMarkup(html, QUrl(u"http://h.example/"_s), {}, view),
                                        {}, {}, {}, view, &measure)
                                .html;
    static const QRegularExpression cellPadding(u"<td[^>]*padding:([^;\"]+)"_s);
    QCOMPARE(cellPadding.match(written).captured(1), padding);
}

#include "tst_page.moc"

void TestPage::bodyMargins_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("sheet");     // a loaded style sheet
    QTest::addColumn<QMarginsF>("margins"); // left, top, right, bottom

    QTest::newRow("a browser's default") << u"<p>x"_s << QString() << QMarginsF(8, 8, 8, 8);
    QTest::newRow("old attributes")
        << u"<body leftmargin=0 topmargin=\"2\" rightmargin=3 bottommargin=4>x"_s << QString()
        << QMarginsF(0, 2, 3, 4);
    QTest::newRow("marginwidth and marginheight win over the sides")
        << u"<body marginwidth=5 leftmargin=0 marginheight=6 topmargin=0>x"_s << QString()
        << QMarginsF(5, 6, 5, 6);
    QTest::newRow("style wins over attributes")
        << u"<body leftmargin=20 style=\"margin: 0 1px; MARGIN-TOP:3px !important\">x"_s
        << QString() << QMarginsF(1, 3, 1, 0);
    QTest::newRow("four sides, in em of the body's own size")
        << u"<body style=\"margin:1px 2px 3px 4px; margin-left:2em; font-size:10px\">x"_s
        << QString() << QMarginsF(20, 1, 2, 3);
    QTest::newRow("bounded")
        << u"<body leftmargin=99999999 style=\"margin-top:1e9px; margin-right:-5px\">x"_s
        << QString() << QMarginsF(10000, 10000, 0, 8);
    QTest::newRow("only the first body")
        << u"<body leftmargin=1><body leftmargin=2>x"_s << QString() << QMarginsF(1, 8, 1, 8);
    QTest::newRow("leftmargin and topmargin for both sides, as browsers take them")
        << u"<body leftmargin=3 topmargin=2>x"_s << QString() << QMarginsF(3, 2, 3, 2);
    QTest::newRow("a <style> for the body over its attributes")
        << u"<style>body{margin:0} html body{margin-left:3pt}</style><body leftmargin=9>x"_s
        << QString() << QMarginsF(4, 0, 0, 0);
    QTest::newRow("a loaded sheet after <style>, the style attribute over both")
        << u"<style>body{margin:1px}</style><body style=\"margin-top:5px\">x"_s
        << u"body{margin:2px 0 auto}"_s << QMarginsF(0, 5, 0, 0);
    QTest::newRow("rules that match the body, and rules that do not")
        << u"<style>body p{margin:0} body,p{margin:1px} .x body{margin:2px}</style>x"_s
        << u"body:first-child{margin:3px} html>body{margin-top:4px}"_s << QMarginsF(1, 4, 1, 1);
    // Qt drops the first block's top margin; browsers collapse it with the body's.
    QTest::newRow("the first paragraph's margin above the page")
        << u"<!DOCTYPE html><p>x"_s << QString() << QMarginsF(8, 16, 8, 8);
    QTest::newRow("through a div to its heading")
        << u"<!DOCTYPE html><div style=\"margin-top:2px\"><h1 style=\"margin-top:20px\">x"_s
        << QString() << QMarginsF(8, 20, 8, 8);
    QTest::newRow("the body's own when larger")
        << u"<!DOCTYPE html><body style=\"margin:30px\"><p>x"_s << QString()
        << QMarginsF(30, 30, 30, 30);
    QTest::newRow("text before the paragraph")
        << u"<!DOCTYPE html>a<p>x"_s << QString() << QMarginsF(8, 8, 8, 8);
    QTest::newRow("a padding stops it") << u"<!DOCTYPE html><div style=\"padding-top:1px\"><p>x"_s
                                        << QString() << QMarginsF(8, 8, 8, 8);
    QTest::newRow("floats before it stand below it")
        << u"<!DOCTYPE html><div style=\"float:right\">a</div><img style=\"float:left\"><p>x"_s
        << QString() << QMarginsF(8, 16, 8, 8);
    QTest::newRow("quirks: ignored") << u"<p>x"_s << QString() << QMarginsF(8, 8, 8, 8);
}

void TestPage::bodyMargins()
{
    QFETCH(QString, html);
    QFETCH(QString, sheet);
    QFETCH(QMarginsF, margins);
    // The loaded sheet comes after the page's <style> elements.
    const PreparedMarkup prepared =
        prepareMarkup(html + u"<link rel=stylesheet href=s.css>"_s, page);
    QHash<QUrl, PreparedStyleSheet> sheets;
    sheets.insert(prepared.styleSheets.value(0), prepareStyleSheet(sheet, page));
    const WrittenMarkup out = writeMarkup(prepared, sheets, {});
    QCOMPARE(out.margins, margins);
    // Qt, which would put them on the first paragraph alone, is not given them.
    const QString bodyTag = out.html.section(u"<body"_s, 1).section(u'>', 0, 0);
    QVERIFY2(!bodyTag.contains(u"margin"_s), qPrintable(bodyTag));
}
