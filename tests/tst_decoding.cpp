// The Encoding Standard's decoders and HTML's and CSS's choice of encoding.
// The same program runs under Wine: the same bytes give the same characters
// on every platform.

#include "decoders_p.h"
#include "test_data.h"
#include "text_decoding.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTest>

#include <utility>

using namespace mizong;
using namespace Qt::StringLiterals;

namespace {

// Each byte string of a set of tests/data/encoding-digests.tsv after its
// prefix, in order: "1" every byte, "2" every two bytes, "four" gb18030's
// four-byte form.
template <typename Visit>
void forEachSequence(const QByteArray& prefix, QByteArrayView set, Visit visit)
{
    QList<std::pair<uchar, uchar>> ranges(set.toInt(), {0x00, 0xFF});
    if (set == "four")
        ranges = {{0x81, 0xFE}, {0x30, 0x39}, {0x81, 0xFE}, {0x30, 0x39}};
    QByteArray bytes = prefix;
    for (const auto& [low, high] : ranges)
        bytes += char(low);
    // Counting up, the last byte fastest.
    for (;;) {
        visit(bytes);
        qsizetype i = ranges.size() - 1;
        for (; i >= 0 && uchar(bytes[prefix.size() + i]) == ranges[i].second; --i)
            bytes[prefix.size() + i] = char(ranges[i].first);
        if (i < 0)
            return;
        bytes[prefix.size() + i] = char(uchar(bytes[prefix.size() + i]) + 1);
    }
}

} // namespace

class TestDecoding : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithStandard_data();
    void agreesWithStandard();
    void cutSequences_data();
    void cutSequences();
    void byteOrderMarks_data();
    void byteOrderMarks();
    void validUtf8AsQtReadsIt_data();
    void validUtf8AsQtReadsIt();
    void encodingLabels_data();
    void encodingLabels();
    void decodeCharset_data();
    void decodeCharset();
    void charsetOfContentType_data();
    void charsetOfContentType();
    void charsetOfMarkup_data();
    void charsetOfMarkup();
    void decodeHtml_data();
    void decodeHtml();
    void changeEncoding_data();
    void changeEncoding();
    void decodeStyleSheet_data();
    void decodeStyleSheet();
};

// Every encoding on every 1- and 2-byte sequence (and longer ones after the
// prefixes that reach a decoder's later states, and all of gb18030's
// four-byte form) against the standard's own steps over its own index files,
// as tools/make-encoding-tables ran them.
void TestDecoding::agreesWithStandard_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QByteArray>("set");
    QTest::addColumn<QByteArray>("digest");

    int rows = 0;
    const QList<QByteArray> lines = testing::dataFile(u"encoding-digests.tsv"_s).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split('\t');
        if (line.startsWith('#') || fields.size() != 4)
            continue;
        QTest::addRow("%s %s %s", fields[0].constData(), fields[1].constData(),
                      fields[2].constData())
            << fields[0] << QByteArray::fromHex(fields[1]) << fields[2] << fields[3];
        ++rows;
    }
    QVERIFY(rows > 80); // every encoding, each at least twice
}

void TestDecoding::agreesWithStandard()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, prefix);
    QFETCH(QByteArray, set);
    QFETCH(QByteArray, digest);

    const std::optional<decoding::Encoding> decoder = decoding::encodingOfLabel(encoding);
    QVERIFY(decoder);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk;
    forEachSequence(prefix, set, [&](const QByteArray& bytes) {
        const QString text = decoding::decode(*decoder, bytes);
        const auto count = quint32(text.size());
        for (int shift = 0; shift < 32; shift += 8)
            chunk += char(count >> shift);
        for (const QChar unit : text) {
            chunk += char(unit.unicode() & 0xFF);
            chunk += char(unit.unicode() >> 8);
        }
        if (chunk.size() > 65536) {
            hash.addData(chunk);
            chunk.clear();
        }
    });
    hash.addData(chunk);
    QCOMPARE(hash.result().toHex(), digest);
}

// A sequence cut short, at every length: one U+FFFD for what was read, and,
// where ASCII stays ASCII, the markup after it is not swallowed.
void TestDecoding::cutSequences_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("asciiAfter");

    const auto cut = [](const char* label, const char* whole, bool asciiAfter = true) {
        const QByteArray bytes = QByteArray::fromHex(whole);
        for (qsizetype length = 1; length < bytes.size(); ++length)
            QTest::addRow("%s %s cut to %d", label, whole, int(length))
                << QByteArray(label) << bytes.first(length) << asciiAfter;
    };
    cut("utf-8", "c3a9");
    cut("utf-8", "e4b8ad");
    cut("utf-8", "f09f9880");
    cut("utf-16le", "2d4e", false);
    cut("utf-16le", "3dd800de", false);
    cut("utf-16be", "d83dde00", false);
    cut("gb18030", "d6d0");
    cut("gb18030", "95328236");
    cut("big5", "a4a4");
    cut("euc-jp", "a4a2");
    cut("euc-jp", "8fa2af");
    cut("shift_jis", "82a0");
    cut("euc-kr", "b0a1");
}

void TestDecoding::cutSequences()
{
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, asciiAfter);

    const std::optional<decoding::Encoding> encoding = decoding::encodingOfLabel(label);
    QVERIFY(encoding);
    QCOMPARE(decoding::decode(*encoding, bytes), u"\uFFFD"_s);
    if (asciiAfter)
        QVERIFY2(decoding::decode(*encoding, bytes + "<p>").endsWith(u"<p>"),
                 qPrintable(decoding::decode(*encoding, bytes + "<p>")));
}

// A byte order mark under every label: the page follows the mark whatever
// its header says; decodeCharset sniffs nothing, and drops only the mark of
// the encoding it was asked for.
void TestDecoding::byteOrderMarks_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("markEncoding");

    const struct
    {
        const char* encoding;
        const char* bytes;
    } kMarked[] = {
        {"utf-8", "efbbbfe4b8ad61"}, {"utf-16le", "fffe2d4e6100"}, {"utf-16be", "feff4e2d0061"}};
    for (const encoding_index::Label& label : encoding_index::kLabels)
        for (const auto& marked : kMarked)
            QTest::addRow("%s, %s mark", label.label, marked.encoding)
                << QByteArray(label.label) << QByteArray::fromHex(marked.bytes)
                << QByteArray(marked.encoding);
}

void TestDecoding::byteOrderMarks()
{
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, markEncoding);

    QByteArray used;
    QCOMPARE(mizong::decodeHtml(body, "text/html; charset=" + label, &used), u"中a"_s);
    QCOMPARE(used, markEncoding);
    QCOMPARE(mizong::decodeStyleSheet(body, "text/css; charset=" + label, label), u"中a"_s);

    const std::optional<decoding::Encoding> named = decoding::encodingOfLabel(label);
    QVERIFY(named);
    const std::optional<QString> decoded = mizong::decodeCharset(body, label);
    QVERIFY(decoded);
    if (decoding::nameOf(*named) == markEncoding)
        QCOMPARE(*decoded, u"中a"_s);
    else
        QCOMPARE(*decoded, decoding::decode(*named, body));
}

// Valid UTF-8, as the lookups' pages are, reads as Qt's own decoder reads it
// (BytesToBstr's decoder before): the fixture pages and every length of
// sequence.
void TestDecoding::validUtf8AsQtReadsIt_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QDir data(QStringLiteral(MIZONG_TEST_DATA_DIR));
    for (const QString& name : data.entryList({u"*.html"_s}) + QStringList{u"pages/text.html"_s})
        QTest::newRow(qPrintable(name)) << testing::dataFile(name);
    QTest::newRow("every length")
        << u"a\u00e9\u4e2d\U0001F600\U0010FFFF\uFFFF \uFEFF\u07FF\u0800\uD7FF\uE000"_s.toUtf8();
}

void TestDecoding::validUtf8AsQtReadsIt()
{
    QFETCH(QByteArray, bytes);

    const std::optional<QString> text = mizong::decodeCharset(bytes, "utf-8");
    QVERIFY(text);
    QCOMPARE(*text, QString::fromUtf8(bytes));
}

void TestDecoding::encodingLabels_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("encoding");

    const auto row = [](const char* label, const char* encoding) {
        QTest::newRow(label) << QByteArray(label) << QByteArray(encoding);
    };
    row("GB2312", "gbk");
    row("x-gbk", "gbk");
    row("chinese", "gbk");
    row("gb_2312-80", "gbk");
    row("GB18030", "gb18030");
    row("big5-hkscs", "big5");
    row("x-x-big5", "big5");
    row("iso-8859-1", "windows-1252");
    row("latin1", "windows-1252");
    row("us-ascii", "windows-1252");
    row("utf8", "utf-8");
    row("unicode", "utf-16le");
    row("utf-16", "utf-16le");
    row("ms932", "shift_jis");
    row("windows-949", "euc-kr");
    row("iso-2022-kr", "replacement");
    row("iso-8859-16", "iso-8859-16");
    row("unicode-1-1-utf-8", "utf-8");
    row("cseucpkdfmtjapanese", "euc-jp");
    row(" \tGbK\n", "gbk");
    row("gbk2", "");
    row("utf-32", "");
    row("cp936", "");
    row("", "");
}

void TestDecoding::encodingLabels()
{
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, encoding);

    QCOMPARE(encodingOfLabel(label), encoding);
}

void TestDecoding::decodeCharset_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("decodes");
    QTest::addColumn<QString>("text");

    const auto row = [](const char* name, const char* label, const char* hex, const QString& text) {
        QTest::newRow(name) << QByteArray(label) << QByteArray::fromHex(hex) << true << text;
    };
    const QString replaced(QChar(0xFFFD));

    row("gbk", "gbk", "d6d0cec4", u"中文"_s);
    row("gb2312 as gbk, 0x80 a euro", "GB2312", "d6d0cec480", u"中文€"_s);
    row("gbk takes gb18030's four bytes", "gbk", "8130813095328236", u"\u0080\U00020000"_s);
    row("gb18030 euro", "gb18030", "a2e3", u"€"_s);
    row("gb18030 four bytes", "gb18030", "6195328236", u"a\U00020000"_s);
    row("gb18030 cut in four bytes", "gb18030", "61628130", u"ab"_s + replaced);
    row("gbk lead at the end", "gbk", "6162d6", u"ab"_s + replaced);
    row("gbk ascii trail read again", "gbk", "d67f61", replaced + u"\u007fa"_s);
    row("gbk 0xff", "gbk", "ff61", replaced + u"a"_s);
    row("big5", "big5", "a4a4a4e5a3e1", u"中文€"_s);
    row("big5 pair of code points", "big5", "8862", u"\u00ca\u0304"_s);
    row("big5 bad lead", "big5", "8061", replaced + u"a"_s);
    row("shift_jis", "shift_jis", "82a0b15c", u"あｱ\\"_s);
    row("shift_jis bad lead", "shift_jis", "a061", replaced + u"a"_s);
    row("euc-kr", "euc-kr", "b0a18141", u"가갂"_s);
    row("euc-jp", "euc-jp", "a4a28eb1", u"あｱ"_s);
    row("iso-8859-1 as windows-1252", "iso-8859-1", "80e9", u"€é"_s);
    row("us-ascii as windows-1252", "us-ascii", "8061", u"€a"_s);
    row("windows-1252 unassigned", "windows-1252", "81", u"\u0081"_s);
    row("windows-1251", "windows-1251", "c0", u"А"_s);
    row("koi8-r", "koi8-r", "c1", u"а"_s);
    row("utf-16 is little-endian", "utf-16", "2d4e", u"中"_s);
    row("utf-16be", "utf-16be", "4e2d", u"中"_s);
    row("utf-8 bom dropped", "utf-8", "efbbbf78", u"x"_s);
    row("only the first bom dropped", "utf-8", "efbbbfefbbbf78", u"\ufeffx"_s);
    row("utf-8 invalid", "utf-8", "61ff62", u"a"_s + replaced + u"b"_s);
    row("x-user-defined", "x-user-defined", "6180", u"a\uf780"_s);
    row("replacement", "iso-2022-kr", "616263", replaced);
    row("replacement of nothing", "hz-gb-2312", "", QString());
    row("label in blanks", " GBK\t", "d6d0", u"中"_s);

    // Each index's first and last pointer, pointers it lacks, and an ASCII
    // byte after a bad lead read again.
    row("gbk first pointer", "gbk", "8140", u"\u4E02"_s);
    row("gbk last pointer", "gbk", "fefe", u"\uE4C5"_s);
    row("gb18030-2022 A3A0", "gb18030", "a3a0", u"\u3000"_s);
    row("gb18030-2022 A6D9", "gb18030", "a6d9", u"\uFE10"_s);
    row("gb18030-2022 FE7E", "gb18030", "fe7e", u"\u9FB9"_s);
    row("gbk trail beyond", "gbk", "81ff61", u"\uFFFDa"_s);
    row("gb18030 four-byte first", "gb18030", "81308130", u"\u0080"_s);
    row("gb18030 four-byte 7457", "gb18030", "8135f437", u"\uE7C7"_s);
    row("gb18030 four-byte U+FEFF kept", "gb18030", "84319533", u"\uFEFF"_s);
    row("gb18030 four-byte plane 0 end", "gb18030", "8431a439", u"\uFFFF"_s);
    row("gb18030 four-byte past plane 0", "gb18030", "8431a530", u"\uFFFD"_s);
    row("gb18030 four-byte before plane 1", "gb18030", "8f39fe39", u"\uFFFD"_s);
    row("gb18030 four-byte plane 1 start", "gb18030", "90308130", u"\U00010000"_s);
    row("gb18030 four-byte end", "gb18030", "e3329a35", u"\U0010FFFF"_s);
    row("gb18030 four-byte past the end", "gb18030", "e3329a36", u"\uFFFD"_s);
    row("gb18030 four-byte last lead", "gb18030", "fe39fe39", u"\uFFFD"_s);
    row("gb18030 bad fourth: all but the lead again", "gb18030", "81308141", u"\uFFFD0\u4E04"_s);
    row("gb18030 bad third", "gb18030", "813020", u"\uFFFD0 "_s);
    row("big5 first pointer", "big5", "8740", u"\u43F0"_s);
    row("big5 last pointer", "big5", "fefe", u"\u79D4"_s);
    row("big5 HKSCS 87A4", "big5", "87a4", u"\u9F97"_s);
    row("big5 HKSCS 8E69", "big5", "8e69", u"箸"_s);
    row("big5 plane 2", "big5", "8745", u"\U00027267"_s);
    row("big5 no pointer, ascii trail kept", "big5", "8140", u"\uFFFD@"_s);
    row("big5 pair 1135", "big5", "8864", u"\u00CA\u030C"_s);
    row("big5 pair 1164", "big5", "88a3", u"\u00EA\u0304"_s);
    row("big5 pair 1166", "big5", "88a5", u"\u00EA\u030C"_s);
    row("euc-kr first pointer", "euc-kr", "8141", u"\uAC02"_s);
    row("euc-kr last pointer", "euc-kr", "fdfe", u"\u8A70"_s);
    row("euc-kr row c9 unmapped", "euc-kr", "c9a1", u"\uFFFD"_s);
    row("euc-kr row fe unmapped", "euc-kr", "fea1", u"\uFFFD"_s);
    row("euc-kr ascii trail kept", "euc-kr", "8120", u"\uFFFD "_s);
    row("euc-jp first pointer", "euc-jp", "a1a1", u"\u3000"_s);
    row("euc-jp last lead", "euc-jp", "fcfe", u"\uFF02"_s);
    row("euc-jp half-width katakana out of range", "euc-jp", "8ee0", u"\uFFFD"_s);
    row("euc-jp jis0212 first pointer", "euc-jp", "8fa2af", u"\u02D8"_s);
    row("euc-jp jis0212 last pointer", "euc-jp", "8fede3", u"\u9FA5"_s);
    row("euc-jp jis0212 unmapped", "euc-jp", "8ff3a1", u"\uFFFD"_s);
    row("euc-jp jis0212 ascii third kept", "euc-jp", "8fa141", u"\uFFFDA"_s);
    row("shift_jis 0x80", "shift_jis", "80", u"\u0080"_s);
    row("shift_jis last pointer", "shift_jis", "fc4b", u"\u9ED1"_s);
    row("shift_jis user-defined first", "shift_jis", "f040", u"\uE000"_s);
    row("shift_jis user-defined last", "shift_jis", "f9fc", u"\uE757"_s);
    row("shift_jis ascii trail kept", "shift_jis", "8120", u"\uFFFD "_s);
    row("iso-2022-jp jis0208", "iso-2022-jp", "1b24423021", u"\u4E9C"_s);
    row("iso-2022-jp roman", "iso-2022-jp", "1b284a5c7e", u"\u00A5\u203E"_s);
    row("iso-2022-jp katakana", "iso-2022-jp", "1b284921", u"\uFF61"_s);
    row("iso-2022-jp two escapes in a row", "iso-2022-jp", "1b28421b2842", u"\uFFFD"_s);
    row("iso-2022-jp unknown escape", "iso-2022-jp", "1b2441", u"\uFFFD$A"_s);
    row("iso-2022-jp escape cut after ESC", "iso-2022-jp", "1b", u"\uFFFD"_s);
    row("iso-2022-jp escape cut after $", "iso-2022-jp", "1b24", u"\uFFFD$"_s);
    row("iso-2022-jp trail byte cut", "iso-2022-jp", "1b244230", u"\uFFFD"_s);
    row("iso-2022-jp shift out", "iso-2022-jp", "0e", u"\uFFFD"_s);
    row("iso-8859-16", "iso-8859-16", "a1", u"\u0104"_s);
    row("koi8-u AE", "koi8-u", "ae", u"\u045E"_s);
    row("koi8-u BE", "koi8-u", "be", u"\u040E"_s);
    row("windows-874 DB unmapped", "windows-874", "db", u"\uFFFD"_s);
    row("windows-1253 AA unmapped", "windows-1253", "aa", u"\uFFFD"_s);
    row("windows-1255 CA", "windows-1255", "ca", u"\u05BA"_s);
    row("utf-8 one error per maximal subpart", "utf-8", "e0a041", u"\uFFFDA"_s);
    row("utf-8 surrogate", "utf-8", "eda080", u"\uFFFD\uFFFD\uFFFD"_s);
    row("utf-8 past U+10FFFF", "utf-8", "f4908080", u"\uFFFD\uFFFD\uFFFD\uFFFD"_s);
    row("utf-8 last code point", "utf-8", "f48fbfbf", u"\U0010FFFF"_s);
    row("utf-16le odd last byte", "utf-16le", "410042", u"A\uFFFD"_s);
    row("utf-16le lone trailing surrogate", "utf-16le", "00dc4100", u"\uFFFDA"_s);
    row("utf-16le leading surrogate, then no trail", "utf-16le", "3dd84100", u"\uFFFDA"_s);
    row("utf-16le pair", "utf-16le", "3dd800de", u"\U0001F600"_s);
    row("utf-16be pair", "utf-16be", "d83dde00", u"\U0001F600"_s);
    row("utf-16le mark dropped", "utf-16le", "fffe4100", u"A"_s);
    QTest::newRow("unknown label") << QByteArray("x-nope") << QByteArray("x") << false << QString();
    QTest::newRow("empty label") << QByteArray() << QByteArray("x") << false << QString();
}

void TestDecoding::decodeCharset()
{
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, decodes);
    QFETCH(QString, text);

    const std::optional<QString> decoded = mizong::decodeCharset(bytes, label);
    QCOMPARE(decoded.has_value(), decodes);
    if (decodes)
        QCOMPARE(*decoded, text);
}

void TestDecoding::charsetOfContentType_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("charset");

    const auto row = [](const char* name, const char* contentType, const char* charset) {
        QTest::newRow(name) << QByteArray(contentType) << QByteArray(charset);
    };
    row("unquoted", "text/html; charset=utf-8", "utf-8");
    row("upper case", "TEXT/HTML; CHARSET=GBK", "gbk");
    row("quoted", "text/html; charset=\"Big5\"", "big5");
    row("no blank", "text/html;charset=gb2312", "gb2312");
    row("among others", "text/html; q=1; charset=euc-kr; x=y", "euc-kr");
    row("inside another's quotes", "text/html; x=\"a;charset=big5\"; charset=gbk", "gbk");
    row("escaped quote", "text/html; charset=\"g\\\"b\"", "g\"b");
    row("the first one", "text/html; charset=gbk; charset=utf-8", "gbk");
    row("blanks around", "text/html; charset = gbk ", "gbk");
    row("none", "text/html", "");
    row("empty value", "text/html; charset=", "");
    row("without a type", "charset=gbk", "");
    row("empty", "", "");
}

void TestDecoding::charsetOfContentType()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, charset);

    QCOMPARE(mizong::charsetOfContentType(contentType), charset);
}

void TestDecoding::charsetOfMarkup_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("encoding");

    const auto row = [](const char* name, const QByteArray& head, const char* encoding) {
        QTest::newRow(name) << head << QByteArray(encoding);
    };
    const QByteArray meta = "<meta charset=\"gbk\">";
    row("charset quoted", "<html><head><meta charset=\"gb2312\">", "gbk");
    row("single quotes", "<meta charset='big5'>", "big5");
    row("unquoted", "<meta charset=gbk>", "gbk");
    row("upper case", "<META CHARSET=\"GBK\">", "gbk");
    row("after other attributes", "<meta name=x charset=euc-kr>", "euc-kr");
    row("slash before the attribute", "<meta/charset=gbk>", "gbk");
    row("http-equiv first", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">",
        "gbk");
    row("content first, any case",
        "<META CONTENT='text/html; CHARSET=Big5' HTTP-EQUIV=content-type>", "big5");
    row("quoted inside content",
        "<meta http-equiv=content-type content=\"text/html; charset='gbk'\">", "gbk");
    row("content without http-equiv",
        "<meta content=\"text/html; charset=gbk\"><meta charset=big5>", "big5");
    row("http-equiv of another kind", "<meta http-equiv=refresh content=\"0; charset=gbk\">", "");
    row("in a comment", "<!-- <meta charset=big5> -->" + meta, "gbk");
    row("comment closed at once", "<!-->" + meta, "gbk");
    row("in another tag's attribute", "<div title='<meta charset=big5>'>" + meta, "gbk");
    row("unknown label passed over", "<meta charset=x-nope>" + meta, "gbk");
    row("the first declaration", meta + "<meta charset=big5>", "gbk");
    row("the first of two attributes", "<meta charset=gbk charset=big5>", "gbk");
    row("charset over content before it",
        "<meta http-equiv=content-type content='text/html; charset=big5' charset=gbk>", "gbk");
    row("charset naming none over content",
        "<meta http-equiv=content-type content='text/html; charset=big5' charset=nope>", "");
    row("utf-16 read as utf-8", "<meta charset=utf-16le>", "utf-8");
    row("x-user-defined read as windows-1252", "<meta charset=x-user-defined>", "windows-1252");
    row("ends at byte 1024", QByteArray(1024 - meta.size(), ' ') + meta, "gbk");
    row("cut at byte 1024", QByteArray(1024 - meta.size() + 1, ' ') + meta, "");
    row("after byte 1024", QByteArray(1100, ' ') + meta, "");
    row("xml declaration", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><html>", "shift_jis");
    row("xml declaration's x-user-defined", "<?xml version='1.0' encoding='x-user-defined'?>",
        "x-user-defined");
    row("xml declaration in utf-16le", QByteArray("<\0?\0x\0m\0l\0", 10), "utf-16le");
    row("xml declaration in utf-16be", QByteArray("\0<\0?\0x\0m\0l", 10), "utf-16be");
    row("tag never closed", "<meta charset=\"gbk", "");
    row("none", "<html><head><title>x</title>", "");
}

void TestDecoding::charsetOfMarkup()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, encoding);

    QCOMPARE(mizong::charsetOfMarkup(head), encoding);
}

void TestDecoding::decodeHtml_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoding");

    const QByteArray gbk = QByteArray::fromHex("d6d0");
    const QByteArray utf8 = u"中"_s.toUtf8();
    const QByteArray metaBig5 = "<meta charset=big5>";
    const QByteArray metaGbk = "<meta charset=gbk>";
    const auto row = [](const char* name, const QByteArray& body, const char* contentType,
                        const QString& text, const char* encoding) {
        QTest::newRow(name) << body << QByteArray(contentType) << text << QByteArray(encoding);
    };
    row("header's charset", gbk, "text/html; charset=gbk", u"中"_s, "gbk");
    row("header over meta", metaBig5 + gbk, "text/html; charset=GBK", u"<meta charset=big5>中"_s,
        "gbk");
    row("meta without a header charset", metaGbk + gbk, "text/html", u"<meta charset=gbk>中"_s,
        "gbk");
    row("meta without a header", metaGbk + gbk, "", u"<meta charset=gbk>中"_s, "gbk");
    row("utf-8 bom over header", "\xef\xbb\xbf" + utf8, "text/html; charset=gbk", u"中"_s, "utf-8");
    row("utf-16le bom", QByteArray::fromHex("fffe2d4e"), "text/html; charset=gbk", u"中"_s,
        "utf-16le");
    row("utf-16be bom", QByteArray::fromHex("feff4e2d"), "text/html; charset=big5", u"中"_s,
        "utf-16be");
    row("utf-16 named by the header", QByteArray::fromHex("2d4e"), "text/html; charset=utf-16",
        u"中"_s, "utf-16le");
    row("unknown header charset, then meta", metaGbk + gbk, "text/html; charset=x-nope",
        u"<meta charset=gbk>中"_s, "gbk");
    row("nothing known: utf-8", "<meta charset=x-nope>" + utf8, "text/html; charset=x-nope",
        u"<meta charset=x-nope>中"_s, "utf-8");
    row("nothing named: utf-8", utf8, "text/html", u"中"_s, "utf-8");
    row("latin-1 page as windows-1252",
        "<meta http-equiv=Content-Type content=\"text/html; charset=iso-8859-1\">\x80", "text/html",
        u"<meta http-equiv=Content-Type content=\"text/html; charset=iso-8859-1\">€"_s,
        "windows-1252");
    row("gb18030 meta", "<meta charset=\"gb18030\">" + QByteArray::fromHex("95328236"), "",
        u"<meta charset=\"gb18030\">\U00020000"_s, "gb18030");
    row("utf-16 xml declaration", QByteArray("<\0?\0x\0", 6) + QByteArray::fromHex("2d4e"), "",
        u"<?x中"_s, "utf-16le");

    // A <meta> past the first 1024 bytes, while the page is still in its head.
    const QByteArray spaces(1100, ' ');
    const QString gbkMeta = u"<meta charset=gbk>中"_s;
    row("late meta", spaces + metaGbk + gbk, "", QString::fromLatin1(spaces) + gbkMeta, "gbk");
    row("late meta after a long comment", "<!--" + spaces + "-->" + metaGbk + gbk, "",
        u"<!--"_s + QString::fromLatin1(spaces) + u"-->"_s + gbkMeta, "gbk");
    const QByteArray script = "<html><head><title>a<b</title><script>if (a<b) w('<p>');" + spaces +
                              "</SCRIPT><style>p<q{}</style><link rel=icon href=i>";
    row("late meta after head elements", script + metaGbk + gbk, "",
        QString::fromLatin1(script) + gbkMeta, "gbk");
    row("late meta as http-equiv",
        spaces + "<meta http-equiv=content-type content='charset=gbk'>" + gbk, "",
        QString::fromLatin1(spaces) + u"<meta http-equiv=content-type content='charset=gbk'>中"_s,
        "gbk");
    row("late meta naming x-user-defined", spaces + "<meta charset=x-user-defined>\x80", "",
        QString::fromLatin1(spaces) + u"<meta charset=x-user-defined>€"_s, "windows-1252");
    row("late meta naming utf-16", spaces + "<meta charset=utf-16>" + utf8, "",
        QString::fromLatin1(spaces) + u"<meta charset=utf-16>中"_s, "utf-8");
    for (const char* end : {"<body>", "<p>", "<div class=x>", "</head>", "<br/>"}) {
        const QByteArray before = end + spaces + metaGbk;
        row(qPrintable(u"late meta after "_s + QLatin1StringView(end)), before + gbk, "",
            QString::fromLatin1(before) + u"\uFFFD\uFFFD"_s, "utf-8");
    }
    row("late meta after a header charset", spaces + metaGbk + utf8, "text/html; charset=utf-8",
        QString::fromLatin1(spaces) + u"<meta charset=gbk>中"_s, "utf-8");
    row("empty", "", "", QString(), "utf-8");
}

void TestDecoding::decodeHtml()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, text);
    QFETCH(QByteArray, encoding);

    QByteArray used;
    QCOMPARE(mizong::decodeHtml(body, contentType, &used), text);
    QCOMPARE(used, encoding);
    QCOMPARE(mizong::decodeHtml(body, contentType), text);
}

void TestDecoding::changeEncoding_data()
{
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoding");

    const auto row = [](const char* name, const char* current, const char* label,
                        const QString& text, const char* encoding) {
        QTest::newRow(name) << QByteArray(current) << QByteArray(label) << text
                            << QByteArray(encoding);
    };
    row("another encoding", "utf-8", "GB2312", u"中"_s, "gbk");
    row("x-user-defined as windows-1252", "utf-8", "x-user-defined", u"ÖÐ"_s, "windows-1252");
    row("the same encoding", "gbk", "gb2312", QString(), "");
    row("utf-16 as utf-8, the same", "utf-8", "utf-16be", QString(), "");
    row("a label naming none", "utf-8", "nope", QString(), "");
    row("a utf-16 page stays", "utf-16le", "gbk", QString(), "");
}

void TestDecoding::changeEncoding()
{
    QFETCH(QByteArray, current);
    QFETCH(QByteArray, label);
    QFETCH(QString, text);
    QFETCH(QByteArray, encoding);

    QByteArray used;
    const std::optional<QString> changed =
        mizong::changeEncoding(QByteArray::fromHex("d6d0"), current, label, &used);
    QCOMPARE(changed.has_value(), !encoding.isEmpty());
    QCOMPARE(changed.value_or(QString()), text);
    QCOMPARE(used, encoding);
}

void TestDecoding::decodeStyleSheet_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("pageEncoding");
    QTest::addColumn<QString>("text");

    const QByteArray gbk = QByteArray::fromHex("d6d0");
    const QString twoReplaced(2, QChar(0xFFFD));
    const auto row = [](const char* name, const QByteArray& body, const char* contentType,
                        const char* page, const QString& text) {
        QTest::newRow(name) << body << QByteArray(contentType) << QByteArray(page) << text;
    };
    row("@charset", "@charset \"gbk\";" + gbk, "text/css", "", u"@charset \"gbk\";中"_s);
    row("header over @charset", "@charset \"gbk\";" + QByteArray::fromHex("a4a4"),
        "text/css; charset=big5", "gbk", u"@charset \"gbk\";中"_s);
    row("@charset over the page's", "@charset \"gbk\";" + gbk, "text/css", "big5",
        u"@charset \"gbk\";中"_s);
    row("the page's", gbk, "text/css", "gbk", u"中"_s);
    row("@charset utf-16 read as utf-8", "@charset \"utf-16\";" + u"中"_s.toUtf8(), "", "gbk",
        u"@charset \"utf-16\";中"_s);
    row("single quotes are no @charset", "@charset 'gbk';" + gbk, "", "",
        u"@charset 'gbk';"_s + twoReplaced);
    row("@charset not at the start", " @charset \"gbk\";" + gbk, "", "",
        u" @charset \"gbk\";"_s + twoReplaced);
    row("unknown @charset, the page's", "@charset \"x-nope\";" + gbk, "", "gbk",
        u"@charset \"x-nope\";中"_s);
    row("bom over everything", "\xef\xbb\xbf" + u"中"_s.toUtf8(), "text/css; charset=gbk", "gbk",
        u"中"_s);
    row("nothing: utf-8", gbk, "text/css", "", twoReplaced);
}

void TestDecoding::decodeStyleSheet()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, pageEncoding);
    QFETCH(QString, text);

    QCOMPARE(mizong::decodeStyleSheet(body, contentType, pageEncoding), text);
}

QTEST_GUILESS_MAIN(TestDecoding)
#include "tst_decoding.moc"
