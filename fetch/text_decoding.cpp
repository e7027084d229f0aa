#include "text_decoding.h"

#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <climits>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace mizong {

namespace {

enum class Family
{
    Utf8,
    Utf16Le,
    Utf16Be,
    Windows1252,
    UserDefined,
    Replacement,
    SingleByte, // the platform's table
    Gb18030,
    Big5,
    ShiftJis,
    EucKr,
    EucJp,
    Iso2022Jp, // stateful: the platform's decoder as a whole
};

struct Encoding
{
    const char* name;
    Family family;
    const char* labels; // besides the name, separated by blanks
    const char* icuName;
    // Windows' code page, then one to fall back to.
    std::array<unsigned short, 2> codePages;
};

// The Encoding Standard's encodings and labels. gbk is decoded as gb18030,
// as the standard says. Big5 is its HKSCS form there too.
constexpr Encoding kEncodings[] = {
    {"utf-8",
     Family::Utf8,
     "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf8 x-unicode20utf8",
     "",
     {}},
    {"ibm866", Family::SingleByte, "866 cp866 csibm866", "IBM866", {866}},
    {"iso-8859-2",
     Family::SingleByte,
     "csisolatin2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2",
     "ISO-8859-2",
     {28592}},
    {"iso-8859-3",
     Family::SingleByte,
     "csisolatin3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3",
     "ISO-8859-3",
     {28593}},
    {"iso-8859-4",
     Family::SingleByte,
     "csisolatin4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4",
     "ISO-8859-4",
     {28594}},
    {"iso-8859-5",
     Family::SingleByte,
     "csisolatincyrillic cyrillic iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988",
     "ISO-8859-5",
     {28595}},
    {"iso-8859-6",
     Family::SingleByte,
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6-e "
     "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987",
     "ISO-8859-6",
     {28596}},
    {"iso-8859-7",
     Family::SingleByte,
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-ir-126 iso8859-7 iso88597 iso_8859-7 "
     "iso_8859-7:1987 sun_eu_greek",
     "ISO-8859-7",
     {28597}},
    {"iso-8859-8",
     Family::SingleByte,
     "csiso88598e csisolatinhebrew hebrew iso-8859-8-e iso-ir-138 iso8859-8 iso88598 iso_8859-8 "
     "iso_8859-8:1988 visual",
     "ISO-8859-8",
     {28598}},
    // The same bytes as iso-8859-8; only the text's direction differs.
    {"iso-8859-8-i", Family::SingleByte, "csiso88598i logical", "ISO-8859-8", {38598, 28598}},
    {"iso-8859-10",
     Family::SingleByte,
     "csisolatin6 iso-ir-157 iso8859-10 iso885910 l6 latin6",
     "ISO-8859-10",
     {}},
    {"iso-8859-13", Family::SingleByte, "iso8859-13 iso885913", "ISO-8859-13", {28603}},
    {"iso-8859-14", Family::SingleByte, "iso8859-14 iso885914", "ISO-8859-14", {}},
    {"iso-8859-15",
     Family::SingleByte,
     "csisolatin9 iso8859-15 iso885915 iso_8859-15 l9",
     "ISO-8859-15",
     {28605}},
    {"iso-8859-16", Family::SingleByte, "", "ISO-8859-16", {}},
    {"koi8-r", Family::SingleByte, "cskoi8r koi koi8 koi8_r", "KOI8-R", {20866}},
    {"koi8-u", Family::SingleByte, "koi8-ru", "KOI8-U", {21866}},
    {"macintosh", Family::SingleByte, "csmacintosh mac x-mac-roman", "macintosh", {10000}},
    {"windows-874",
     Family::SingleByte,
     "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620",
     "windows-874",
     {874}},
    {"windows-1250", Family::SingleByte, "cp1250 x-cp1250", "windows-1250", {1250}},
    {"windows-1251", Family::SingleByte, "cp1251 x-cp1251", "windows-1251", {1251}},
    {"windows-1252",
     Family::Windows1252,
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 "
     "iso88591 iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii x-cp1252",
     "",
     {}},
    {"windows-1253", Family::SingleByte, "cp1253 x-cp1253", "windows-1253", {1253}},
    {"windows-1254",
     Family::SingleByte,
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 "
     "latin5 x-cp1254",
     "windows-1254",
     {1254}},
    {"windows-1255", Family::SingleByte, "cp1255 x-cp1255", "windows-1255", {1255}},
    {"windows-1256", Family::SingleByte, "cp1256 x-cp1256", "windows-1256", {1256}},
    {"windows-1257", Family::SingleByte, "cp1257 x-cp1257", "windows-1257", {1257}},
    {"windows-1258", Family::SingleByte, "cp1258 x-cp1258", "windows-1258", {1258}},
    {"x-mac-cyrillic", Family::SingleByte, "x-mac-ukrainian", "x-mac-cyrillic", {10017, 10007}},
    // Wine 8 has no code page 54936: there 936 decodes the two-byte
    // sequences, and the four-byte ones become U+FFFD.
    {"gbk",
     Family::Gb18030,
     "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 iso-ir-58 x-gbk",
     "GB18030",
     {54936, 936}},
    {"gb18030", Family::Gb18030, "", "GB18030", {54936, 936}},
    {"big5", Family::Big5, "big5-hkscs cn-big5 csbig5 x-x-big5", "Big5-HKSCS", {950}},
    {"euc-jp", Family::EucJp, "cseucpkdfmtjapanese x-euc-jp", "EUC-JP", {20932, 51932}},
    {"iso-2022-jp", Family::Iso2022Jp, "csiso2022jp", "ISO-2022-JP", {50220}},
    {"shift_jis",
     Family::ShiftJis,
     "csshiftjis ms932 ms_kanji shift-jis sjis windows-31j x-sjis",
     "Shift_JIS",
     {932}},
    {"euc-kr",
     Family::EucKr,
     "cseuckr csksc56011987 iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 "
     "windows-949",
     "windows-949",
     {949}},
    // Encodings that are a risk to decode: the whole text is one U+FFFD.
    {"replacement",
     Family::Replacement,
     "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext "
     "iso-2022-kr",
     "",
     {}},
    {"utf-16be", Family::Utf16Be, "unicodefffe", "", {}},
    {"utf-16le",
     Family::Utf16Le,
     "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16",
     "",
     {}},
    {"x-user-defined", Family::UserDefined, "", "", {}},
};

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kBom = 0xFEFF;

bool isBlank(uchar byte)
{
    return byte == 0x09 || byte == 0x0A || byte == 0x0C || byte == 0x0D || byte == 0x20;
}

char toLower(char byte)
{
    return byte >= 'A' && byte <= 'Z' ? char(byte + ('a' - 'A')) : byte;
}

QByteArrayView trimmed(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && isBlank(uchar(bytes.front())))
        bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && isBlank(uchar(bytes.back())))
        bytes.chop(1);
    return bytes;
}

const Encoding* findEncoding(QByteArrayView label)
{
    const QByteArray wanted = trimmed(label).toByteArray().toLower();
    if (wanted.isEmpty())
        return nullptr;
    for (const Encoding& encoding : kEncodings) {
        if (wanted == encoding.name)
            return &encoding;
        for (QByteArrayView rest(encoding.labels); !rest.isEmpty();) {
            const qsizetype blank = rest.indexOf(' ');
            const QByteArrayView known = blank < 0 ? rest : rest.first(blank);
            if (wanted == known)
                return &encoding;
            rest = blank < 0 ? QByteArrayView() : rest.sliced(blank + 1);
        }
    }
    return nullptr;
}

const Encoding& encodingNamed(QByteArrayView name)
{
    return *findEncoding(name);
}

// A text that names UTF-16 in ASCII cannot be UTF-16: HTML and CSS read it
// as UTF-8.
const Encoding* unlessUtf16(const Encoding* encoding)
{
    if (encoding && (encoding->family == Family::Utf16Le || encoding->family == Family::Utf16Be))
        return &encodingNamed("utf-8");
    return encoding;
}

// HTML also reads a page's own x-user-defined as windows-1252.
const Encoding* asDeclaredInPage(const Encoding* encoding)
{
    encoding = unlessUtf16(encoding);
    if (encoding && encoding->family == Family::UserDefined)
        return &encodingNamed("windows-1252");
    return encoding;
}

// A decoder of the platform's for one encoding.
#ifdef Q_OS_WIN
class PlatformDecoder
{
public:
    explicit PlatformDecoder(const Encoding& encoding)
    {
        for (const unsigned short codePage : encoding.codePages) {
            if (codePage != 0 && IsValidCodePage(codePage)) {
                m_codePage = codePage;
                break;
            }
        }
    }

    bool isValid() const { return m_codePage != 0; }

    // Whole characters only; no value when one of them has no mapping.
    std::optional<QString> decodeWhole(QByteArrayView bytes)
    {
        return convert(bytes, MB_ERR_INVALID_CHARS);
    }

    // A stateful encoding's whole text, its errors as Windows decodes them
    // (these code pages take no flags).
    QString decodeText(QByteArrayView bytes) { return convert(bytes, 0).value_or(QString()); }

private:
    std::optional<QString> convert(QByteArrayView bytes, DWORD flags) const
    {
        if (bytes.isEmpty())
            return QString();
        if (bytes.size() > INT_MAX)
            return std::nullopt;
        const int size =
            MultiByteToWideChar(m_codePage, flags, bytes.data(), int(bytes.size()), nullptr, 0);
        if (size <= 0)
            return std::nullopt;
        QString text(size, Qt::Uninitialized);
        MultiByteToWideChar(m_codePage, flags, bytes.data(), int(bytes.size()),
                            reinterpret_cast<wchar_t*>(text.data()), size);
        return text;
    }

    UINT m_codePage = 0;
};
#else
class PlatformDecoder
{
public:
    explicit PlatformDecoder(const Encoding& encoding)
        : m_decoder(encoding.icuName, QStringDecoder::Flag::Stateless)
    {}

    bool isValid() const { return m_decoder.isValid(); }

    // Whole characters only; no value when one of them has no mapping.
    std::optional<QString> decodeWhole(QByteArrayView bytes)
    {
        QString text = m_decoder.decode(bytes);
        // ICU's substitutes: U+FFFD, or U+001A where its table names a
        // substitute byte (Shift_JIS).
        if (text.contains(QChar(kReplacement)) || text.contains(QChar(0x1A)))
            return std::nullopt;
        return text;
    }

    // A stateful encoding's whole text, its errors as ICU decodes them.
    QString decodeText(QByteArrayView bytes)
    {
        // Qt 6.4 does not flush ICU's converter, stateless or not: a sequence
        // cut at the end would vanish. A line feed ends it and is taken off.
        QString text = m_decoder.decode(bytes.toByteArray() + '\n');
        if (text.endsWith(u'\n'))
            text.chop(1);
        return text;
    }

private:
    QStringDecoder m_decoder;
};
#endif

// One step through a multi-byte encoding's bytes, as its decoder in the
// Encoding Standard takes them.
struct Step
{
    enum Kind
    {
        Text,     // `first`, and `second` unless 0
        Platform, // a whole sequence, for the platform's table
        Error,    // one U+FFFD
    };
    Kind kind;
    int length;
    char16_t first = 0;
    char16_t second = 0;
};

bool inRange(uchar byte, uchar low, uchar high)
{
    return byte >= low && byte <= high;
}

// A lead byte whose trail is not one: an ASCII trail is read again.
Step badTrail(uchar trail)
{
    return {Step::Error, trail < 0x80 ? 1 : 2};
}

Step stepGb18030(const uchar* bytes, qsizetype size)
{
    const uchar lead = bytes[0];
    if (lead < 0x80)
        return {Step::Text, 1, lead};
    if (lead == 0x80)
        return {Step::Text, 1, 0x20AC};
    if (lead == 0xFF || size == 1)
        return {Step::Error, 1};
    const uchar second = bytes[1];
    if (inRange(second, 0x30, 0x39)) {
        // Four bytes; a sequence cut at the end is one error.
        if (size == 2)
            return {Step::Error, 2};
        if (!inRange(bytes[2], 0x81, 0xFE))
            return {Step::Error, 1};
        if (size == 3)
            return {Step::Error, 3};
        if (!inRange(bytes[3], 0x30, 0x39))
            return {Step::Error, 1};
        return {Step::Platform, 4};
    }
    if (inRange(second, 0x40, 0x7E) || inRange(second, 0x80, 0xFE))
        return {Step::Platform, 2};
    return badTrail(second);
}

Step stepBig5(const uchar* bytes, qsizetype size)
{
    const uchar lead = bytes[0];
    if (lead < 0x80)
        return {Step::Text, 1, lead};
    if (lead == 0x80 || lead == 0xFF || size == 1)
        return {Step::Error, 1};
    const uchar trail = bytes[1];
    if (!inRange(trail, 0x40, 0x7E) && !inRange(trail, 0xA1, 0xFE))
        return badTrail(trail);
    // Four pointers stand for two code points each; no platform has them.
    const int pointer = (lead - 0x81) * 157 + (trail - (trail < 0x7F ? 0x40 : 0x62));
    switch (pointer) {
    case 1133:
        return {Step::Text, 2, 0x00CA, 0x0304};
    case 1135:
        return {Step::Text, 2, 0x00CA, 0x030C};
    case 1164:
        return {Step::Text, 2, 0x00EA, 0x0304};
    case 1166:
        return {Step::Text, 2, 0x00EA, 0x030C};
    default:
        return {Step::Platform, 2};
    }
}

Step stepShiftJis(const uchar* bytes, qsizetype size)
{
    const uchar lead = bytes[0];
    if (lead <= 0x80)
        return {Step::Text, 1, lead};
    if (inRange(lead, 0xA1, 0xDF)) // half-width katakana
        return {Step::Text, 1, char16_t(0xFF61 - 0xA1 + lead)};
    if (!(inRange(lead, 0x81, 0x9F) || inRange(lead, 0xE0, 0xFC)) || size == 1)
        return {Step::Error, 1};
    const uchar trail = bytes[1];
    if (!inRange(trail, 0x40, 0x7E) && !inRange(trail, 0x80, 0xFC))
        return badTrail(trail);
    const int pointer =
        (lead - (lead < 0xA0 ? 0x81 : 0xC1)) * 188 + trail - (trail < 0x7F ? 0x40 : 0x41);
    if (pointer >= 8836 && pointer <= 10715) // the user-defined area
        return {Step::Text, 2, char16_t(0xE000 - 8836 + pointer)};
    return {Step::Platform, 2};
}

Step stepEucKr(const uchar* bytes, qsizetype size)
{
    const uchar lead = bytes[0];
    if (lead < 0x80)
        return {Step::Text, 1, lead};
    if (!inRange(lead, 0x81, 0xFE) || size == 1)
        return {Step::Error, 1};
    const uchar trail = bytes[1];
    if (!inRange(trail, 0x41, 0xFE))
        return badTrail(trail);
    return {Step::Platform, 2};
}

Step stepEucJp(const uchar* bytes, qsizetype size)
{
    const uchar lead = bytes[0];
    if (lead < 0x80)
        return {Step::Text, 1, lead};
    if ((lead != 0x8E && lead != 0x8F && !inRange(lead, 0xA1, 0xFE)) || size == 1)
        return {Step::Error, 1};
    const uchar second = bytes[1];
    if (lead == 0x8E) { // half-width katakana
        if (inRange(second, 0xA1, 0xDF))
            return {Step::Text, 2, char16_t(0xFF61 - 0xA1 + second)};
        return badTrail(second);
    }
    if (!inRange(second, 0xA1, 0xFE))
        return badTrail(second);
    if (lead != 0x8F)
        return {Step::Platform, 2};
    // JIS X 0212: three bytes.
    if (size == 2)
        return {Step::Error, 2};
    const uchar third = bytes[2];
    if (!inRange(third, 0xA1, 0xFE))
        return {Step::Error, third < 0x80 ? 2 : 3};
    return {Step::Platform, 3};
}

Step step(Family family, const uchar* bytes, qsizetype size)
{
    switch (family) {
    case Family::Gb18030:
        return stepGb18030(bytes, size);
    case Family::Big5:
        return stepBig5(bytes, size);
    case Family::ShiftJis:
        return stepShiftJis(bytes, size);
    case Family::EucKr:
        return stepEucKr(bytes, size);
    case Family::EucJp:
        return stepEucJp(bytes, size);
    default:
        return {Step::Error, 1}; // not multi-byte
    }
}

// A multi-byte encoding: the structure here, so that errors are the same
// everywhere; the sequences' characters from the platform, a run of them at
// a time.
QString decodeMultiByte(Family family, PlatformDecoder& platform, QByteArrayView bytes)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.data());
    QString text;
    text.reserve(bytes.size());

    // One character for each sequence, or nothing: a platform that splits a
    // sequence it does not know (Wine's EUC-JP, three bytes) fails it too.
    const auto decodeSequences = [&](qsizetype from, qsizetype to, qsizetype count) {
        const std::optional<QString> decoded = platform.decodeWhole(bytes.sliced(from, to - from));
        if (!decoded || QStringView(*decoded).toUcs4().size() != count)
            return false;
        text += *decoded;
        return true;
    };
    // Sequences the platform has no character for, one by one. As in the
    // standard, an ASCII last byte of a two- or three-byte one is read again.
    const auto decodeEach = [&](qsizetype from, qsizetype to) {
        while (from < to) {
            const int length = step(family, data + from, to - from).length;
            if (!decodeSequences(from, from + length, 1)) {
                text += QChar(kReplacement);
                const uchar last = data[from + length - 1];
                if (length < 4 && last < 0x80)
                    text += QChar(char16_t(last));
            }
            from += length;
        }
    };
    qsizetype runStart = 0;
    qsizetype runEnd = 0;
    qsizetype runSequences = 0;
    const auto flushRun = [&] {
        if (runSequences == 0)
            return;
        if (!decodeSequences(runStart, runEnd, runSequences))
            decodeEach(runStart, runEnd);
        runStart = runEnd;
        runSequences = 0;
    };

    for (qsizetype at = 0; at < bytes.size();) {
        if (data[at] < 0x80) { // ASCII in every one of them, a run at a time
            qsizetype end = at + 1;
            while (end < bytes.size() && data[end] < 0x80)
                ++end;
            flushRun();
            text += QLatin1StringView(bytes.data() + at, end - at);
            at = end;
            continue;
        }
        const Step next = step(family, data + at, bytes.size() - at);
        if (next.kind == Step::Platform) {
            if (runSequences == 0)
                runStart = at;
            runEnd = at + next.length;
            ++runSequences;
        } else {
            flushRun();
            if (next.kind == Step::Text) {
                text += QChar(next.first);
                if (next.second != 0)
                    text += QChar(next.second);
            } else {
                text += QChar(kReplacement);
            }
        }
        at += next.length;
    }
    flushRun();
    return text;
}

// Bytes 0x80 to 0xFF of a single-byte encoding; below, ASCII.
using HighHalf = std::array<char16_t, 128>;

HighHalf highHalfOf(PlatformDecoder& platform)
{
    HighHalf table;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const char single = char(byte);
        const std::optional<QString> decoded = platform.decodeWhole(QByteArrayView(&single, 1));
        table[byte - 0x80] =
            decoded && decoded->size() == 1 ? decoded->front().unicode() : kReplacement;
    }
    return table;
}

QString decodeSingleByte(const HighHalf& table, QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes) {
        const auto value = uchar(byte);
        *out++ = QChar(value < 0x80 ? char16_t(value) : table[value - 0x80]);
    }
    return text;
}

const HighHalf& windows1252()
{
    static const HighHalf table = [] {
        HighHalf high{0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        for (int byte = 0xA0; byte <= 0xFF; ++byte) // as in Latin-1
            high[byte - 0x80] = char16_t(byte);
        return high;
    }();
    return table;
}

const HighHalf& userDefined()
{
    static const HighHalf table = [] {
        HighHalf high;
        for (int byte = 0x80; byte <= 0xFF; ++byte)
            high[byte - 0x80] = char16_t(0xF780 + byte - 0x80);
        return high;
    }();
    return table;
}

// The bytes under the encoding, an initial U+FEFF kept; no value when the
// platform lacks the encoding.
std::optional<QString> decodeAs(const Encoding& encoding, QByteArrayView bytes)
{
    const auto unicode = [bytes](QStringConverter::Encoding form) -> QString {
        QStringDecoder decoder(form, QStringDecoder::Flag::Stateless |
                                         QStringDecoder::Flag::ConvertInitialBom);
        return decoder.decode(bytes);
    };
    switch (encoding.family) {
    case Family::Utf8:
        return unicode(QStringConverter::Utf8);
    case Family::Utf16Le:
        return unicode(QStringConverter::Utf16LE);
    case Family::Utf16Be:
        return unicode(QStringConverter::Utf16BE);
    case Family::Windows1252:
        return decodeSingleByte(windows1252(), bytes);
    case Family::UserDefined:
        return decodeSingleByte(userDefined(), bytes);
    case Family::Replacement:
        return bytes.isEmpty() ? QString() : QString(QChar(kReplacement));
    default:
        break;
    }
    PlatformDecoder platform(encoding);
    if (!platform.isValid())
        return std::nullopt;
    switch (encoding.family) {
    case Family::SingleByte:
        return decodeSingleByte(highHalfOf(platform), bytes);
    case Family::Iso2022Jp:
        return platform.decodeText(bytes);
    default:
        return decodeMultiByte(encoding.family, platform, bytes);
    }
}

// The encoding a byte order mark names, and the mark's length.
std::pair<const Encoding*, int> encodingOfBom(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {&encodingNamed("utf-8"), 3};
    if (bytes.startsWith("\xFE\xFF"))
        return {&encodingNamed("utf-16be"), 2};
    if (bytes.startsWith("\xFF\xFE"))
        return {&encodingNamed("utf-16le"), 2};
    return {nullptr, 0};
}

// The text under the first of the encodings that decodes here (the body's
// byte order mark decides before them all), else UTF-8.
QString decodeFirstOf(QByteArrayView body, QList<const Encoding*> candidates,
                      QByteArray* encodingUsed)
{
    const auto [bomEncoding, bomLength] = encodingOfBom(body);
    if (bomEncoding) {
        candidates = {bomEncoding};
        body = body.sliced(bomLength);
    }
    for (const Encoding* encoding : std::as_const(candidates)) {
        if (!encoding)
            continue;
        if (std::optional<QString> text = decodeAs(*encoding, body)) {
            if (encodingUsed)
                *encodingUsed = encoding->name;
            return *std::move(text);
        }
    }
    if (encodingUsed)
        *encodingUsed = "utf-8";
    return decodeAs(encodingNamed("utf-8"), body).value_or(QString());
}

// HTML's prescan of a byte stream for a <meta> declaration.
class Prescan
{
public:
    explicit Prescan(QByteArrayView bytes) : m_bytes(bytes) {}

    const Encoding* run();

private:
    struct Attribute
    {
        QByteArray name;
        QByteArray value;
    };

    bool atEnd() const { return m_at >= m_bytes.size(); }
    uchar current() const { return uchar(m_bytes[m_at]); }
    bool startsWithAnyCase(QByteArrayView word) const;
    bool skipPast(QByteArrayView end);
    std::optional<Attribute> attribute();
    const Encoding* meta();

    QByteArrayView m_bytes;
    qsizetype m_at = 0;
    bool m_aborted = false; // the bytes ended inside a tag
};

bool Prescan::startsWithAnyCase(QByteArrayView word) const
{
    if (m_bytes.size() - m_at < word.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i)
        if (toLower(m_bytes[m_at + i]) != word[i])
            return false;
    return true;
}

// Moves to the byte after the first `end` from here; false when none.
bool Prescan::skipPast(QByteArrayView end)
{
    const qsizetype found = m_bytes.indexOf(end, m_at);
    if (found < 0)
        return false;
    m_at = found + end.size();
    return true;
}

// The next attribute of a tag, its name and value lower-cased; none at the
// tag's end, or when the bytes end first (m_aborted).
std::optional<Prescan::Attribute> Prescan::attribute()
{
    const auto ended = [this] {
        m_aborted = atEnd();
        return m_aborted;
    };
    while (!ended() && (isBlank(current()) || current() == '/'))
        ++m_at;
    if (m_aborted || current() == '>')
        return std::nullopt;

    Attribute found;
    for (;; ++m_at) {
        if (ended())
            return std::nullopt;
        const uchar byte = current();
        if (byte == '=' && !found.name.isEmpty())
            break;
        if (isBlank(byte)) {
            while (!ended() && isBlank(current()))
                ++m_at;
            if (m_aborted)
                return std::nullopt;
            if (current() != '=')
                return found;
            break;
        }
        if (byte == '/' || byte == '>')
            return found;
        found.name += toLower(char(byte));
    }
    ++m_at; // the '='
    while (!ended() && isBlank(current()))
        ++m_at;
    if (m_aborted)
        return std::nullopt;
    const uchar quote = current();
    if (quote == '"' || quote == '\'') {
        for (++m_at; !ended(); ++m_at) {
            if (current() == quote) {
                ++m_at;
                return found;
            }
            found.value += toLower(char(current()));
        }
        return std::nullopt;
    }
    for (; !ended(); ++m_at) {
        if (isBlank(current()) || current() == '>')
            return found;
        found.value += toLower(char(current()));
    }
    return std::nullopt;
}

// The encoding named after "charset=" in a <meta> content value.
const Encoding* charsetInContent(QByteArrayView content)
{
    for (qsizetype at = 0;;) {
        const qsizetype word = content.indexOf("charset", at);
        if (word < 0)
            return nullptr;
        at = word + 7;
        qsizetype next = at;
        while (next < content.size() && isBlank(uchar(content[next])))
            ++next;
        if (next == content.size() || content[next] != '=')
            continue;
        for (++next; next < content.size() && isBlank(uchar(content[next]));)
            ++next;
        if (next == content.size())
            return nullptr;
        const char quote = content[next];
        if (quote == '"' || quote == '\'') {
            const qsizetype end = content.indexOf(quote, next + 1);
            return end < 0 ? nullptr : findEncoding(content.sliced(next + 1, end - next - 1));
        }
        qsizetype end = next;
        while (end < content.size() && !isBlank(uchar(content[end])) && content[end] != ';')
            ++end;
        return findEncoding(content.sliced(next, end - next));
    }
}

// A <meta> tag's declaration, the position past "<meta" and its blank;
// nullptr when it makes none.
const Encoding* Prescan::meta()
{
    QList<QByteArray> seen;
    bool gotPragma = false;
    std::optional<bool> needPragma;
    bool charsetSet = false;
    const Encoding* charset = nullptr;
    while (const std::optional<Attribute> found = attribute()) {
        if (seen.contains(found->name))
            continue;
        seen.append(found->name);
        if (found->name == "http-equiv") {
            if (found->value == "content-type")
                gotPragma = true;
        } else if (found->name == "content") {
            if (!charsetSet) {
                if (const Encoding* named = charsetInContent(found->value)) {
                    charset = named;
                    charsetSet = true;
                    needPragma = true;
                }
            }
        } else if (found->name == "charset") {
            if (!charsetSet) {
                charset = findEncoding(found->value);
                charsetSet = true;
                needPragma = false;
            }
        }
    }
    if (m_aborted || !needPragma || (*needPragma && !gotPragma))
        return nullptr;
    return asDeclaredInPage(charset);
}

const Encoding* Prescan::run()
{
    for (; !atEnd() && !m_aborted; ++m_at) {
        if (m_bytes.sliced(m_at).startsWith("<!--")) {
            // Its "--" may end the comment too: "<!-->".
            m_at += 2;
            if (!skipPast("-->"))
                return nullptr;
            --m_at;
            continue;
        }
        if (startsWithAnyCase("<meta") && m_bytes.size() - m_at > 5 &&
            (isBlank(uchar(m_bytes[m_at + 5])) || m_bytes[m_at + 5] == '/')) {
            m_at += 6;
            if (const Encoding* declared = meta())
                return declared;
            continue;
        }
        if (current() != '<' || m_bytes.size() - m_at < 2)
            continue;
        const auto isLetter = [](char byte) {
            return toLower(byte) >= 'a' && toLower(byte) <= 'z';
        };
        const char after = m_bytes[m_at + 1];
        const bool endTag =
            after == '/' && m_bytes.size() - m_at > 2 && isLetter(m_bytes[m_at + 2]);
        if (isLetter(after) || endTag) {
            // Another tag: its attributes are skipped, so that none is read as
            // markup.
            m_at += endTag ? 2 : 1;
            while (!atEnd() && !isBlank(current()) && current() != '>')
                ++m_at;
            while (attribute()) {
            }
            continue;
        }
        if (after == '!' || after == '/' || after == '?') {
            if (!skipPast(">"))
                return nullptr;
            --m_at;
        }
    }
    return nullptr;
}

// The encoding of an XML declaration at the start, as HTML reads it.
const Encoding* xmlDeclared(QByteArrayView bytes)
{
    if (!bytes.startsWith("<?xml"))
        return nullptr;
    const qsizetype end = bytes.indexOf('>');
    qsizetype at = bytes.indexOf("encoding");
    if (end < 0 || at < 0 || at > end)
        return nullptr;
    at += 8;
    const auto skipSpace = [&] {
        while (at < bytes.size() && uchar(bytes[at]) <= 0x20)
            ++at;
    };
    skipSpace();
    if (at == bytes.size() || bytes[at] != '=')
        return nullptr;
    ++at;
    skipSpace();
    if (at == bytes.size() || (bytes[at] != '"' && bytes[at] != '\''))
        return nullptr;
    const qsizetype close = bytes.indexOf(bytes[at], at + 1);
    if (close < 0)
        return nullptr;
    const QByteArrayView label = bytes.sliced(at + 1, close - at - 1);
    for (const char byte : label)
        if (uchar(byte) <= 0x20)
            return nullptr;
    return asDeclaredInPage(findEncoding(label));
}

const Encoding* declaredInMarkup(QByteArrayView head)
{
    head = head.first(std::min<qsizetype>(head.size(), 1024));
    if (const Encoding* declared = Prescan(head).run())
        return declared;
    return xmlDeclared(head);
}

} // namespace

QByteArray charsetOfContentType(QByteArrayView contentType)
{
    // Parameters after the first ';': name=value or name="quoted \"value\"".
    qsizetype at = contentType.indexOf(';');
    if (at < 0)
        return {};
    const qsizetype size = contentType.size();
    while (at < size) {
        ++at; // the ';'
        const qsizetype nameEnd = [&] {
            qsizetype end = at;
            while (end < size && contentType[end] != ';' && contentType[end] != '=')
                ++end;
            return end;
        }();
        const QByteArray name = trimmed(contentType.sliced(at, nameEnd - at)).toByteArray();
        at = nameEnd;
        if (at == size || contentType[at] == ';')
            continue;
        ++at; // the '='
        while (at < size && isBlank(uchar(contentType[at])))
            ++at;
        QByteArray value;
        if (at < size && contentType[at] == '"') {
            for (++at; at < size && contentType[at] != '"'; ++at) {
                if (contentType[at] == '\\' && at + 1 < size)
                    ++at;
                value += contentType[at];
            }
            while (at < size && contentType[at] != ';')
                ++at;
        } else {
            const qsizetype end = contentType.indexOf(';', at);
            const qsizetype valueEnd = end < 0 ? size : end;
            value = trimmed(contentType.sliced(at, valueEnd - at)).toByteArray();
            at = valueEnd;
        }
        if (name.compare("charset", Qt::CaseInsensitive) == 0 && !value.isEmpty())
            return value.toLower();
    }
    return {};
}

QByteArray encodingOfLabel(QByteArrayView label)
{
    const Encoding* encoding = findEncoding(label);
    return encoding ? QByteArray(encoding->name) : QByteArray();
}

QByteArray charsetOfMarkup(QByteArrayView head)
{
    const Encoding* declared = declaredInMarkup(head);
    return declared ? QByteArray(declared->name) : QByteArray();
}

std::optional<QString> decodeCharset(QByteArrayView bytes, QByteArrayView label)
{
    const Encoding* encoding = findEncoding(label);
    if (!encoding)
        return std::nullopt;
    std::optional<QString> text = decodeAs(*encoding, bytes);
    if (text && text->startsWith(QChar(kBom)))
        text->remove(0, 1);
    return text;
}

QString decodeHtml(QByteArrayView body, QByteArrayView contentType, QByteArray* encoding)
{
    return decodeFirstOf(
        body, {findEncoding(charsetOfContentType(contentType)), declaredInMarkup(body)}, encoding);
}

QString decodeStyleSheet(QByteArrayView body, QByteArrayView contentType,
                         QByteArrayView pageEncoding)
{
    // @charset "label"; exactly so, in the first 1024 bytes.
    const Encoding* atRule = nullptr;
    constexpr QByteArrayView kAtCharset = "@charset \"";
    const QByteArrayView head = body.first(std::min<qsizetype>(body.size(), 1024));
    if (head.startsWith(kAtCharset)) {
        const qsizetype close = head.indexOf('"', kAtCharset.size());
        if (close > 0 && close + 1 < head.size() && head[close + 1] == ';')
            atRule = unlessUtf16(
                findEncoding(head.sliced(kAtCharset.size(), close - kAtCharset.size())));
    }
    return decodeFirstOf(
        body, {findEncoding(charsetOfContentType(contentType)), atRule, findEncoding(pageEncoding)},
        nullptr);
}

} // namespace mizong
