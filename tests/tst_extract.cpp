#include "lazy_pattern_p.h"
#include "pattern_extract.h"
#include "text_scan_p.h"

#include <QObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <optional>

using namespace mizong;

namespace {

const QString crlf = QStringLiteral("\r\n");

// The field patterns of both lookups, assembled here from their pieces on
// purpose: the test must not trust the lookup code's copies.
struct NamedPattern
{
    const char* name;
    QString pattern;
};

QList<NamedPattern> realPatterns()
{
    const QString strong = QStringLiteral("</strong></span></td>");
    const QString cell = QStringLiteral("<td width=\"70%\" scope=\"col\" abbr=\"Starter\"><span "
                                        "class=\"STYLE2 STYLE1 STYLE11 biaoti\">");
    const QString simHead = QStringLiteral("(.*?)") + crlf + QStringLiteral("(.*?)</div></th>") +
                            crlf + QStringLiteral("(.*?)<td width=\"74%\">") + crlf +
                            QStringLiteral("(.*?)<div class=\"STYLE14\"><span class=\"STYLE15\">") +
                            crlf;
    return {
        {"device carrier",
         QStringLiteral("激活卡所属运营商(.*?)") + crlf +
             QStringLiteral("(.*?)<td width=\"70%\"><span class=\"STYLE2 STYLE1 STYLE11 "
                            "biaoti\"><strong> ") +
             crlf + QStringLiteral("(.*?)") + strong},
        {"device first activation",
         QStringLiteral("首次激活时间</span></th>") + crlf + QStringLiteral("(.*?)") + cell +
             QStringLiteral("<span class=\"biaoti\">(.*?)</span></span></td>")},
        {"device latest activation", QStringLiteral("<span class=\"biaoti STYLE8\">(.*?)</span>")},
        {"device model", cell + QStringLiteral("<strong>(.*?)</strong></span>")},
        {"device serial", cell + QStringLiteral("<strong>(.*?)") + strong},
        {"device manufacture date",
         QStringLiteral("出厂日期(.*?)") + crlf + QStringLiteral("(.*?)") + strong},
        {"device iOS version",
         QStringLiteral("iOS版本</span></th>") + crlf + QStringLiteral("(.*?)") + strong},
        {"device purchase date",
         QStringLiteral("购买时间(.*?)") + crlf + QStringLiteral("(.*?)") + strong},
        {"device warranty expiry",
         QStringLiteral("过保时间(.*?)") + crlf + QStringLiteral("(.*?)") + strong},
        {"device warranty left",
         QStringLiteral("剩余保修时间(.*?)") + crlf + QStringLiteral("(.*?)") + strong},
        {"sim carrier",
         QStringLiteral("运营商</div>") + crlf + QStringLiteral("(.*?)</div></th>") + crlf +
             QStringLiteral(
                 "(.*?)<td width=\"74%\"><div class=\"STYLE14\"><span class=\"STYLE15\">") +
             crlf + QStringLiteral("(.*?)</span></div></td>")},
        {"sim phone number", QStringLiteral("手机号") + simHead + QStringLiteral("(.*?)</span>")},
        {"sim card age", QStringLiteral("卡年代") + simHead + QStringLiteral("(.*?)年") + crlf +
                             QStringLiteral("(.*?)</span>")},
        {"sim home area",
         QStringLiteral("归属地") + simHead + QStringLiteral("(.*?)</span></div></td>")},
        {"sim home area code", QStringLiteral("归属地") + simHead + QStringLiteral("(.*?)(") +
                                   crlf + QStringLiteral("(.*?))") + crlf +
                                   QStringLiteral("(.*?)</span>")},
    };
}

// The literal text between the lazy groups of a family pattern.
QStringList piecesOf(QString pattern)
{
    pattern.remove(u'(');
    pattern.remove(u')');
    return pattern.split(QStringLiteral(".*?"));
}

// Every group the caller could ask for, including the whole match (-1) and
// one past the last group.
QList<int> allGroups(const QString& pattern)
{
    QList<int> groups;
    for (int g = -1; g <= int(pattern.count(u'(')); ++g)
        groups.append(g);
    return groups;
}

// Pages made of the pattern's own material, so that near misses are common:
// its pieces whole and in fragments, their characters, line breaks, blanks,
// and instances of the pattern with damage done to them.
class PageMaker
{
public:
    PageMaker(QStringList pieces, QRandomGenerator& rng) : m_rng(rng)
    {
        for (const QString& piece : pieces) {
            m_allPieces.append(piece);
            if (!piece.isEmpty())
                m_pieces.append(piece);
            for (QChar c : piece)
                if (!m_alphabet.contains(c))
                    m_alphabet.append(c);
        }
        m_alphabet += QStringLiteral("\r\n \tx");
    }

    QString page()
    {
        QString page;
        switch (m_rng.bounded(4)) {
        case 0:
            page = soup(m_rng.bounded(120));
            break;
        case 1:
            page = soup(m_rng.bounded(30)) + instance() + soup(m_rng.bounded(30));
            break;
        case 2:
            page = soup(m_rng.bounded(20)) + instance() + soup(m_rng.bounded(20)) + instance() +
                   soup(m_rng.bounded(20));
            break;
        default:
            page = soup(m_rng.bounded(30)) + instance() + soup(m_rng.bounded(30));
            for (int i = 1 + m_rng.bounded(3); i > 0; --i)
                damage(page);
        }
        if (m_rng.bounded(30) == 0)
            page.insert(m_rng.bounded(page.size() + 1), QChar(m_rng.bounded(2) ? 0xD800 : 0xDC00));
        if (m_rng.bounded(15) == 0)
            page.insert(m_rng.bounded(page.size() + 1), QString::fromUtf16(u"\U0001F600"));
        return page;
    }

    // The pattern's pieces with line-local filler where the lazy groups are.
    QString instance()
    {
        QString text;
        for (qsizetype i = 0; i < m_allPieces.size(); ++i) {
            text += m_allPieces[i];
            if (i + 1 < m_allPieces.size())
                text += soup(m_rng.bounded(9)).remove(u'\n');
        }
        return text;
    }

    QString soup(qsizetype length)
    {
        QString text;
        while (text.size() < length) {
            const int kind = m_rng.bounded(10);
            if (kind < 5 || m_pieces.isEmpty()) {
                text += m_alphabet[m_rng.bounded(m_alphabet.size())];
            } else {
                const QString& piece = m_pieces[m_rng.bounded(m_pieces.size())];
                if (kind < 8)
                    text += piece;
                else if (kind == 8)
                    text += piece.left(m_rng.bounded(piece.size() + 1));
                else
                    text += piece.right(m_rng.bounded(piece.size() + 1));
            }
        }
        return text;
    }

private:
    void damage(QString& page)
    {
        const qsizetype at = m_rng.bounded(page.size() + 1);
        switch (m_rng.bounded(4)) {
        case 0:
            if (at < page.size())
                page.remove(at, 1);
            break;
        case 1:
            page.insert(at, m_alphabet[m_rng.bounded(m_alphabet.size())]);
            break;
        case 2: {
            const qsizetype cr = page.indexOf(crlf, at);
            if (cr >= 0)
                page.remove(cr, 1);
            break;
        }
        default:
            page.insert(at, u'\n');
        }
    }

    QRandomGenerator& m_rng;
    QStringList m_allPieces;
    QStringList m_pieces;
    QString m_alphabet;
};

// A pattern of the lazy-group family over a tiny alphabet, with nested,
// adjacent and bare groups.
QString randomPattern(QRandomGenerator& rng, int depth = 0)
{
    static const QString alphabet = QStringLiteral("ab\r\n 中");
    QString pattern;
    for (int items = 1 + rng.bounded(4); items > 0; --items) {
        const int kind = rng.bounded(10);
        if (kind < 4 || (kind >= 8 && depth >= 3)) {
            for (int i = 1 + rng.bounded(4); i > 0; --i)
                pattern += alphabet[rng.bounded(alphabet.size())];
        } else if (kind < 7) {
            pattern += QStringLiteral("(.*?)");
        } else if (kind == 7) {
            pattern += QStringLiteral(".*?");
        } else {
            pattern += u'(' + randomPattern(rng, depth + 1) + u')';
        }
    }
    return pattern;
}

QString describe(const std::optional<QStringList>& values)
{
    if (!values)
        return QStringLiteral("no match");
    QStringList quoted;
    for (const QString& v : *values)
        quoted.append(u'"' + QString(v).replace(crlf, QStringLiteral("\\r\\n")) + u'"');
    return quoted.join(u',');
}

// Runs one pattern over one page both ways; false (with a message) when the
// matcher and QRegularExpression disagree.
bool agrees(const QString& page, const QString& pattern, bool& matched)
{
    const QList<int> groups = allGroups(pattern);
    const auto ours = extractGroups(page, pattern, groups);
    const auto reference = extractGroupsRegex(page, pattern, groups);
    matched = reference.has_value();
    if (ours == reference)
        return true;
    qWarning().noquote() << "pattern" << pattern.toUtf8().toPercentEncoding(" <>/\"=") << "\npage"
                         << page.toUtf8().toPercentEncoding(" <>/\"=") << "\nours" << describe(ours)
                         << "\nreference" << describe(reference);
    return false;
}

} // namespace

class TestExtract : public QObject
{
    Q_OBJECT

private slots:
    void differentialRealPatterns_data();
    void differentialRealPatterns();
    void differentialRandomPatterns_data();
    void differentialRandomPatterns();
    void differentialHostileShapes_data();
    void differentialHostileShapes();
    void extractionRules_data();
    void extractionRules();
    void outsideFamilyFallsBack_data();
    void outsideFamilyFallsBack();
    void literalFinder_data();
    void literalFinder();
    void utf16Check();
    void trimBlanks_data();
    void trimBlanks();
    void removeAll_data();
    void removeAll();
    void removeBlanks_data();
    void removeBlanks();
};

void TestExtract::differentialRealPatterns_data()
{
    QTest::addColumn<QString>("pattern");
    for (const NamedPattern& p : realPatterns())
        QTest::newRow(p.name) << p.pattern;
}

// The matcher against QRegularExpression on generated pages, every group.
void TestExtract::differentialRealPatterns()
{
    QFETCH(QString, pattern);
    QVERIFY2(LazyPattern::compile(pattern).has_value(), "pattern must take the fast path");
    QRandomGenerator rng(qHash(pattern, 0));
    PageMaker maker(piecesOf(pattern), rng);
    constexpr int cases = 500;
    int matches = 0;
    for (int i = 0; i < cases; ++i) {
        bool matched = false;
        QVERIFY(agrees(maker.page(), pattern, matched));
        matches += matched;
    }
    // A generator that never (or always) matches would prove nothing.
    QVERIFY2(matches > cases / 5 && matches < cases * 4 / 5, qPrintable(QString::number(matches)));
}

void TestExtract::differentialRandomPatterns_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 8; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void TestExtract::differentialRandomPatterns()
{
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    constexpr int patterns = 250;
    constexpr int pagesEach = 8;
    int matches = 0;
    for (int i = 0; i < patterns; ++i) {
        const QString pattern = randomPattern(rng);
        QVERIFY2(LazyPattern::compile(pattern).has_value(), qPrintable(pattern));
        PageMaker maker(piecesOf(pattern), rng);
        for (int j = 0; j < pagesEach; ++j) {
            bool matched = false;
            QVERIFY(agrees(maker.page(), pattern, matched));
            matches += matched;
        }
    }
    const int cases = patterns * pagesEach;
    QVERIFY2(matches > cases / 20 && matches < cases * 19 / 20,
             qPrintable(QString::number(matches)));
}

void TestExtract::differentialHostileShapes_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("shape");
    const char* shapes[] = {"label repeated on one line", "every piece but the last, repeated",
                            "line of ( and CR", "label lines without their follow-up"};
    for (const NamedPattern& p : realPatterns())
        for (int shape = 0; shape < 4; ++shape)
            QTest::addRow("%s, %s", p.name, shapes[shape]) << p.pattern << shape;
}

// Repetitive pages drive the skipping and the per-piece caches hardest; a
// real instance is planted at a random place in half of them.
void TestExtract::differentialHostileShapes()
{
    QFETCH(QString, pattern);
    QFETCH(int, shape);
    QRandomGenerator rng(qHash(pattern, 0) + uint(shape));
    const QStringList pieces = piecesOf(pattern);
    PageMaker maker(pieces, rng);
    for (int i = 0; i < 12; ++i) {
        QString page;
        switch (shape) {
        case 0:
            page = (pieces.front() + maker.soup(rng.bounded(3)).remove(u'\n')).repeated(300);
            break;
        case 1: {
            QString unit;
            for (qsizetype k = 0; k + 1 < pieces.size(); ++k)
                unit += pieces[k] + maker.soup(rng.bounded(3)).remove(u'\n');
            page = unit.repeated(100);
            break;
        }
        case 2:
            page =
                QStringLiteral("(\r").repeated(2000) + u'\n' + QStringLiteral("\r(").repeated(50);
            break;
        default:
            page = (maker.soup(rng.bounded(5)).remove(u'\n') + pieces.front() + crlf).repeated(200);
        }
        if (rng.bounded(2))
            page.insert(rng.bounded(page.size() + 1), maker.instance());
        bool matched = false;
        QVERIFY(agrees(page, pattern, matched));
    }
}

void TestExtract::extractionRules_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QList<int>>("groups");
    QTest::addColumn<bool>("matches");
    QTest::addColumn<QStringList>("values");

    const QList<NamedPattern> patterns = realPatterns();
    auto pattern = [&](const char* name) {
        for (const NamedPattern& p : patterns)
            if (qstrcmp(p.name, name) == 0)
                return p.pattern;
        qFatal("no pattern %s", name);
    };
    const QString cell = QStringLiteral("<td width=\"70%\" scope=\"col\" abbr=\"Starter\"><span "
                                        "class=\"STYLE2 STYLE1 STYLE11 biaoti\"><strong>");
    const QString strong = QStringLiteral("</strong></span></td>");
    auto dateRow = [&](const QString& label, const QString& value, const QString& lineEnd) {
        return QStringLiteral("<th><span>") + label + QStringLiteral("</span></th>") + lineEnd +
               QStringLiteral("  ") + cell + value + strong + crlf;
    };
    const QString latest = QStringLiteral("<span class=\"biaoti STYLE8\">");

    QTest::newRow("first of two rows with one label")
        << dateRow(QStringLiteral("出厂日期"), QStringLiteral(" 2012-10-08"), crlf) +
               dateRow(QStringLiteral("出厂日期"), QStringLiteral(" 2013-01-01"), crlf)
        << pattern("device manufacture date") << QList<int>{0, 1} << true
        << QStringList{QStringLiteral("</span></th>"),
                       QStringLiteral("  ") + cell + QStringLiteral(" 2012-10-08")};
    QTest::newRow("label line ending in LF alone fails")
        << dateRow(QStringLiteral("出厂日期"), QStringLiteral("2012-10-08"), QStringLiteral("\n"))
        << pattern("device manufacture date") << QList<int>{1} << false << QStringList{};
    QTest::newRow("LF-only label line passed over for a later CR LF one")
        << dateRow(QStringLiteral("购买时间"), QStringLiteral("A"), QStringLiteral("\n")) +
               dateRow(QStringLiteral("购买时间"), QStringLiteral("B"), crlf)
        << pattern("device purchase date") << QList<int>{1} << true
        << QStringList{QStringLiteral("  ") + cell + u'B'};
    QTest::newRow("upper-case markup fails")
        << QStringLiteral("<TD width=\"70%\" scope=\"col\" abbr=\"Starter\"><span class=\"STYLE2 "
                          "STYLE1 STYLE11 biaoti\"><strong>iPhone</strong></span></td>")
        << pattern("device model") << QList<int>{0} << false << QStringList{};
    QTest::newRow("CR LF of the pattern moves to the next line")
        << QStringLiteral("<th>iOS版本</span></th>\r\n") + cell + QStringLiteral("6.1.4") + strong
        << pattern("device iOS version") << QList<int>{0} << true
        << QStringList{cell + QStringLiteral("6.1.4")};
    QTest::newRow("empty group is an empty value, not a miss")
        << latest + QStringLiteral("</span>") << pattern("device latest activation")
        << QList<int>{0} << true << QStringList{QString()};
    QTest::newRow("blanks around a value are part of the group")
        << latest + QStringLiteral("  2013-01-01 10:00  </span>")
        << pattern("device latest activation") << QList<int>{0} << true
        << QStringList{QStringLiteral("  2013-01-01 10:00  ")};
    QTest::newRow("lone CR inside a group is matched")
        << latest + QStringLiteral("a\rb</span>") << pattern("device latest activation")
        << QList<int>{0} << true << QStringList{QStringLiteral("a\rb")};
    QTest::newRow("group never crosses a line feed")
        << latest + QStringLiteral("a\nb</span>") << pattern("device latest activation")
        << QList<int>{0} << false << QStringList{};
    QTest::newRow("blank before CR LF of the pattern missing on the page")
        << QStringLiteral("激活卡所属运营商</span></th>\r\n<td width=\"70%\"><span class=\"STYLE2 "
                          "STYLE1 STYLE11 biaoti\"><strong>\r\n中国联通</strong></span></td>")
        << pattern("device carrier") << QList<int>{2} << false << QStringList{};
    QTest::newRow("blank before CR LF of the pattern present on the page")
        << QStringLiteral(
               "激活卡所属运营商</span></th>\r\n  <td width=\"70%\"><span class=\"STYLE2 "
               "STYLE1 STYLE11 biaoti\"><strong> \r\n 中国联通 </strong></span></td>")
        << pattern("device carrier") << QList<int>{0, 1, 2} << true
        << QStringList{QStringLiteral("</span></th>"), QStringLiteral("  "),
                       QStringLiteral(" 中国联通 ")};
    QTest::newRow("label without its lines is passed over")
        << QStringLiteral("运营商</div>\r\n<th></div></th>\r\n<td></td>\r\n运营商</div>\r\n<th>"
                          "</div></th>\r\n<td width=\"74%\"><div class=\"STYLE14\"><span "
                          "class=\"STYLE15\">\r\n 中国移动 </span></div></td>\r\n")
        << pattern("sim carrier") << QList<int>{2} << true
        << QStringList{QStringLiteral(" 中国移动 ")};
    QTest::newRow("area code groups span two lines")
        << QStringLiteral("归属地(区号)</div>\r\n</div></th>\r\n<td width=\"74%\">\r\n<div "
                          "class=\"STYLE14\"><span class=\"STYLE15\">\r\n广东 深圳\r\n0755\r\n"
                          "</span>")
        << pattern("sim home area code") << QList<int>{4, 5, 6, 7} << true
        << QStringList{QStringLiteral("广东 深圳"), QStringLiteral("\r\n0755"),
                       QStringLiteral("0755"), QString()};
    QTest::newRow("card age group ends at its year sign")
        << QStringLiteral("卡年代</div>\r\n</div></th>\r\n<td width=\"74%\">\r\n<div "
                          "class=\"STYLE14\"><span class=\"STYLE15\">\r\n 2008年\r\n</span>")
        << pattern("sim card age") << QList<int>{4, 5} << true
        << QStringList{QStringLiteral(" 2008"), QString()};
    QTest::newRow("nested group around literals")
        << QStringLiteral("xxa1b2c3dyy") << QStringLiteral("a(.*?)(b(.*?)c)(.*?)d")
        << QList<int>{0, 1, 2, 3} << true
        << QStringList{QStringLiteral("1"), QStringLiteral("b2c"), QStringLiteral("2"),
                       QStringLiteral("3")};
    QTest::newRow("adjacent lazy groups: the first stays empty")
        << QStringLiteral("<p>abc</p>") << QStringLiteral("<p>(.*?)(.*?)</p>") << QList<int>{0, 1}
        << true << QStringList{QString(), QStringLiteral("abc")};
    QTest::newRow("whole match and groups past the last")
        << QStringLiteral("..") + latest + QStringLiteral("v</span>..")
        << pattern("device latest activation") << QList<int>{-1, 1, 7} << true
        << QStringList{latest + QStringLiteral("v</span>"), QString(), QString()};
    QTest::newRow("unpaired surrogate anywhere: no match at all")
        << latest + QStringLiteral("v</span>") + QChar(0xD83D)
        << pattern("device latest activation") << QList<int>{0} << false << QStringList{};
    QTest::newRow("surrogate pair inside a value")
        << latest + QString::fromUtf16(u"\U0001F600") + QStringLiteral("</span>")
        << pattern("device latest activation") << QList<int>{0} << true
        << QStringList{QString::fromUtf16(u"\U0001F600")};
    QTest::newRow("empty page") << QString() << pattern("device latest activation") << QList<int>{0}
                                << false << QStringList{};
    QTest::newRow("empty pattern matches at the start")
        << QStringLiteral("abc") << QString() << QList<int>{-1} << true << QStringList{QString()};
}

// The rules of one extraction step; the reference must agree with every row,
// so a wrong expectation here cannot hide a wrong matcher.
void TestExtract::extractionRules()
{
    QFETCH(QString, page);
    QFETCH(QString, pattern);
    QFETCH(QList<int>, groups);
    QFETCH(bool, matches);
    QFETCH(QStringList, values);

    const std::optional<QStringList> expected =
        matches ? std::optional<QStringList>(values) : std::nullopt;
    QCOMPARE(describe(extractGroupsRegex(page, pattern, groups)), describe(expected));
    QCOMPARE(describe(extractGroups(page, pattern, groups)), describe(expected));
    if (groups.size() == 1) {
        const std::optional<QString> one = extractGroup(page, pattern, groups.front());
        QCOMPARE(one.has_value(), matches);
        if (one)
            QCOMPARE(*one, values.front());
    }
}

void TestExtract::outsideFamilyFallsBack_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QList<int>>("groups");
    QTest::addColumn<QStringList>("values");

    QTest::newRow("character class and counts")
        << QStringLiteral("出厂日期 2012-10-08") << QStringLiteral("(\\d{4})-(\\d\\d)")
        << QList<int>{0, 1} << QStringList{QStringLiteral("2012"), QStringLiteral("10")};
    QTest::newRow("greedy group stays greedy")
        << QStringLiteral("<b>1</b><b>2</b>") << QStringLiteral("<b>(.*)</b>") << QList<int>{0}
        << QStringList{QStringLiteral("1</b><b>2")};
    QTest::newRow("alternation") << QStringLiteral("移动 联通") << QStringLiteral("(联通|电信)")
                                 << QList<int>{0} << QStringList{QStringLiteral("联通")};
    QTest::newRow("non-capturing group shifts nothing")
        << QStringLiteral("ab") << QStringLiteral("(?:a)(b)") << QList<int>{0}
        << QStringList{QStringLiteral("b")};
    QTest::newRow("lazy plus") << QStringLiteral("<i></i><i>x</i>")
                               << QStringLiteral("<i>(.+?)</i>") << QList<int>{0}
                               << QStringList{QStringLiteral("</i><i>x")};
    QTest::newRow("unbalanced parenthesis never matches")
        << QStringLiteral("(abc") << QStringLiteral("(abc") << QList<int>{} << QStringList{};
}

// Patterns beyond literals and lazy groups keep QRegularExpression's meaning.
void TestExtract::outsideFamilyFallsBack()
{
    QFETCH(QString, page);
    QFETCH(QString, pattern);
    QFETCH(QList<int>, groups);
    QFETCH(QStringList, values);

    QVERIFY(!LazyPattern::compile(pattern).has_value());
    const std::optional<QStringList> got = extractGroups(page, pattern, groups);
    if (!QRegularExpression(pattern).isValid()) {
        QVERIFY(!got.has_value());
        return;
    }
    QVERIFY(got.has_value());
    QCOMPARE(*got, values);
}

void TestExtract::literalFinder_data()
{
    QTest::addColumn<QString>("alphabet");
    QTest::addRow("two letters") << QStringLiteral("ab");
    QTest::addRow("CR and LF") << QStringLiteral("\r\n");
    QTest::addRow("markup and Chinese") << QStringLiteral("<>/ 运营商");
}

// Dense haystacks put candidates at every offset of the eight-wide filter
// and at the end of the text; QStringView::indexOf is the reference.
void TestExtract::literalFinder()
{
    QFETCH(QString, alphabet);
    QRandomGenerator rng(qHash(alphabet, 0));
    auto randomText = [&](qsizetype length) {
        QString text;
        for (qsizetype i = 0; i < length; ++i)
            text += alphabet[rng.bounded(alphabet.size())];
        return text;
    };
    for (int round = 0; round < 3000; ++round) {
        const QString haystack = randomText(rng.bounded(70));
        QString needle = randomText(rng.bounded(12));
        if (rng.bounded(2) && !haystack.isEmpty()) {
            const qsizetype at = rng.bounded(haystack.size());
            needle = haystack.mid(at, 1 + rng.bounded(12));
        }
        const scan::LiteralFinder finder(needle);
        for (qsizetype from = 0; from <= haystack.size() + 1; ++from)
            QCOMPARE(finder.indexIn(haystack, from), QStringView(haystack).indexOf(needle, from));
    }
}

// Long runs without surrogates are skipped in blocks; a pair or a stray unit
// on either side of a block boundary must still be judged exactly.
void TestExtract::utf16Check()
{
    QRandomGenerator rng(7);
    const char16_t units[] = {u'a', 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD7FF, 0xE000};
    int invalid = 0;
    for (int round = 0; round < 5000; ++round) {
        QString text;
        const qsizetype length = rng.bounded(100);
        for (qsizetype i = 0; i < length; ++i)
            text += QChar(rng.bounded(12) ? u'a' : units[rng.bounded(7)]);
        const bool expected = QStringView(text).isValidUtf16();
        invalid += !expected;
        QCOMPARE(scan::isValidUtf16(text), expected);
    }
    QVERIFY(invalid > 500 && invalid < 4500);
}

void TestExtract::trimBlanks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("blanks both ends, inner kept")
        << QStringLiteral("  iPhone 5  ") << QStringLiteral("iPhone 5");
    QTest::newRow("tabs stay") << QStringLiteral("\t2012-10-08 \t")
                               << QStringLiteral("\t2012-10-08 \t");
    QTest::newRow("ideographic space stays")
        << QStringLiteral(" \u3000中国联通\u3000 ") << QStringLiteral("\u3000中国联通\u3000");
    QTest::newRow("line break stays") << QStringLiteral(" v \r\n") << QStringLiteral("v \r\n");
    QTest::newRow("blanks only") << QStringLiteral("   ") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestExtract::trimBlanks()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(mizong::trimBlanks(text), trimmed);
}

void TestExtract::removeAll_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("piece");
    QTest::addColumn<QString>("result");
    const QString cell = QStringLiteral("<td width=\"70%\" scope=\"col\" abbr=\"Starter\"><span "
                                        "class=\"STYLE2 STYLE1 STYLE11 biaoti\"><strong>");
    QTest::newRow("cell markup before a value")
        << QStringLiteral("   ") + cell + QStringLiteral(" 2012-10-08") << cell
        << QStringLiteral("    2012-10-08");
    QTest::newRow("every occurrence") << cell + u'A' + cell + u'B' << cell << QStringLiteral("AB");
    QTest::newRow("left to right, no overlap")
        << QStringLiteral("aaaaa") << QStringLiteral("aa") << QStringLiteral("a");
    QTest::newRow("case-sensitive")
        << QStringLiteral("<TD>x") << QStringLiteral("<td>") << QStringLiteral("<TD>x");
    QTest::newRow("empty piece leaves the text")
        << QStringLiteral("abc") << QString() << QStringLiteral("abc");
    QTest::newRow("removal does not rejoin into a new occurrence")
        << QStringLiteral("a<b>b>") << QStringLiteral("<b>") << QStringLiteral("ab>");
}

void TestExtract::removeAll()
{
    QFETCH(QString, text);
    QFETCH(QString, piece);
    QFETCH(QString, result);
    QCOMPARE(mizong::removeAll(text, piece), result);
}

void TestExtract::removeBlanks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("blanks everywhere")
        << QStringLiteral(" 广东 深圳 ") << QStringLiteral("广东深圳");
    QTest::newRow("tab, no-break and ideographic spaces stay")
        << QStringLiteral("广东\t深圳\u00A0福田\u3000区")
        << QStringLiteral("广东\t深圳\u00A0福田\u3000区");
    QTest::newRow("empty") << QString() << QString();
}

void TestExtract::removeBlanks()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    QCOMPARE(mizong::removeBlanks(text), result);
}

QTEST_APPLESS_MAIN(TestExtract)
#include "tst_extract.moc"
