#include "decoders_p.h"

#include <algorithm>
#include <array>
#include <utility>

namespace mizong::decoding {

namespace ix = encoding_index;

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool inRange(uchar byte, uchar low, uchar high)
{
    return byte >= low && byte <= high;
}

// The input as the decoders read it: a byte at a time, and bytes read again
// (the standard's "restore").
class Bytes
{
public:
    explicit Bytes(QByteArrayView bytes)
        : m_data(reinterpret_cast<const uchar*>(bytes.data())), m_size(bytes.size())
    {}

    bool atEnd() const { return m_at == m_size; }
    qsizetype left() const { return m_size - m_at; }
    uchar peek() const { return m_data[m_at]; }
    uchar next() { return m_data[m_at++]; }
    void restore(int count) { m_at -= count; }

private:
    const uchar* m_data;
    qsizetype m_size;
    qsizetype m_at = 0;
};

// The decoded text. No decoder gives more UTF-16 units than it has read bytes
// (an error at the end stands for bytes already read), so the text is sized
// once; put() still checks, so that a mistake there costs time, not memory.
class Text
{
public:
    explicit Text(qsizetype bytes) : m_text(bytes, Qt::Uninitialized) { m_units = units(); }

    void put(char32_t codePoint)
    {
        if (m_text.size() - m_size < (codePoint > 0xFFFF ? 2 : 1)) {
            m_text.resize(std::max<qsizetype>(2 * m_text.size(), m_size + 2));
            m_units = units();
        }
        if (codePoint > 0xFFFF) {
            m_units[m_size++] = QChar::highSurrogate(codePoint);
            m_units[m_size++] = QChar::lowSurrogate(codePoint);
        } else {
            m_units[m_size++] = char16_t(codePoint);
        }
    }
    void error() { put(kReplacement); }
    // A code point looked up in an index, an error where there is none (0).
    void putFound(char32_t codePoint) { codePoint != 0 ? put(codePoint) : error(); }

    QString take()
    {
        m_text.truncate(m_size);
        m_text.squeeze(); // two bytes a character (GBK): half of it unused
        return std::move(m_text);
    }

private:
    char16_t* units() { return reinterpret_cast<char16_t*>(m_text.data()); }

    QString m_text;
    char16_t* m_units;
    qsizetype m_size = 0;
};

// The index's code point for a pointer; 0 where it has none (no index maps
// anything to U+0000).
char32_t codePointAt(const ix::Index& index, int pointer)
{
    const int at = pointer - index.first;
    if (at < 0 || at >= index.size)
        return 0;
    char32_t codePoint = index.codePoints[at];
    if (index.astral && (index.astral[at / 8] >> (at % 8) & 1))
        codePoint += 0x20000;
    return codePoint;
}

// The end of a two-byte sequence: its code point, else an error, and an
// ASCII trail byte is read again, so that markup after a bad lead survives.
void endPair(char32_t codePoint, uchar trail, Bytes& in, Text& out)
{
    if (codePoint != 0) {
        out.put(codePoint);
        return;
    }
    if (trail < 0x80)
        in.restore(1);
    out.error();
}

void utf8(Bytes in, Text& out)
{
    while (!in.atEnd()) {
        const uchar lead = in.next();
        if (lead < 0x80) {
            out.put(lead);
            continue;
        }
        int needed = 0;
        char32_t codePoint = 0;
        // The range of the first continuation byte: none of overlong forms,
        // surrogates, or code points past U+10FFFF.
        uchar lower = 0x80;
        uchar upper = 0xBF;
        if (inRange(lead, 0xC2, 0xDF)) {
            needed = 1;
            codePoint = lead & 0x1F;
        } else if (inRange(lead, 0xE0, 0xEF)) {
            needed = 2;
            codePoint = lead & 0x0F;
            lower = lead == 0xE0 ? 0xA0 : 0x80;
            upper = lead == 0xED ? 0x9F : 0xBF;
        } else if (inRange(lead, 0xF0, 0xF4)) {
            needed = 3;
            codePoint = lead & 0x07;
            lower = lead == 0xF0 ? 0x90 : 0x80;
            upper = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            out.error();
            continue;
        }
        // A byte that does not continue the sequence ends it as one error
        // (one per maximal subpart) and is read again.
        for (; needed > 0 && !in.atEnd() && inRange(in.peek(), lower, upper); --needed) {
            codePoint = codePoint << 6 | (in.next() & 0x3F);
            lower = 0x80;
            upper = 0xBF;
        }
        if (needed == 0)
            out.put(codePoint);
        else
            out.error();
    }
}

void utf16(Bytes in, bool bigEndian, Text& out)
{
    char16_t leading = 0; // a leading surrogate waiting for its trail
    while (in.left() >= 2) {
        const uchar first = in.next();
        const uchar second = in.next();
        const auto unit = char16_t(bigEndian ? first << 8 | second : second << 8 | first);
        if (leading != 0) {
            const char16_t high = std::exchange(leading, 0);
            if (QChar::isLowSurrogate(unit)) {
                out.put(QChar::surrogateToUcs4(high, unit));
            } else {
                in.restore(2);
                out.error();
            }
        } else if (QChar::isHighSurrogate(unit)) {
            leading = unit;
        } else if (QChar::isLowSurrogate(unit)) {
            out.error();
        } else {
            out.put(unit);
        }
    }
    // An odd last byte, a leading surrogate at the end, or both: one error.
    if (leading != 0 || !in.atEnd())
        out.error();
}

void singleByte(const char16_t* high, Bytes in, Text& out)
{
    while (!in.atEnd()) {
        const uchar byte = in.next();
        if (byte < 0x80)
            out.put(byte);
        else
            out.putFound(high[byte - 0x80]);
    }
}

void userDefined(Bytes in, Text& out)
{
    while (!in.atEnd()) {
        const uchar byte = in.next();
        out.put(byte < 0x80 ? char32_t(byte) : 0xF780 + byte - 0x80);
    }
}

// gb18030's four-byte pointers: the standard's ranges, the rest of plane 0
// after pointer 39419 none, and the supplementary planes from 189000 on.
char32_t rangesCodePoint(std::uint32_t pointer)
{
    if ((pointer > 39419 && pointer < 189000) || pointer > 1237575)
        return 0;
    if (pointer == 7457)
        return 0xE7C7;
    const ix::Range* range = std::upper_bound(
        ix::kGb18030Ranges, ix::kGb18030Ranges + ix::kGb18030RangeCount, pointer,
        [](std::uint32_t wanted, const ix::Range& r) { return wanted < r.pointer; });
    --range; // the first range starts at pointer 0
    return range->codePoint + pointer - range->pointer;
}

// The loop of the encodings of lead and trail bytes. `alone` gives a
// non-ASCII byte's own code point, kLead where it leads a sequence, kError
// where it is neither; `rest` reads what follows a lead (at least one more
// byte) and writes it.
constexpr char32_t kLead = 0x110000;
constexpr char32_t kError = 0x110001;

template <typename Alone, typename Rest>
void leadsAndTrails(Bytes in, Text& out, Alone alone, Rest rest)
{
    while (!in.atEnd()) {
        const uchar byte = in.next();
        const char32_t single = byte < 0x80 ? char32_t(byte) : alone(byte);
        if (single == kLead && !in.atEnd())
            rest(byte, in, out);
        else if (single == kLead || single == kError) // a lead at the end is an error too
            out.error();
        else
            out.put(single);
    }
}

char32_t leadFrom0x81(uchar byte)
{
    return inRange(byte, 0x81, 0xFE) ? kLead : kError;
}

void gb18030(Bytes in, Text& out)
{
    const auto alone = [](uchar byte) { return byte == 0x80 ? 0x20AC : leadFrom0x81(byte); };
    leadsAndTrails(in, out, alone, [](uchar first, Bytes& in, Text& out) {
        const uchar second = in.next();
        if (!inRange(second, 0x30, 0x39)) {
            const bool trail = inRange(second, 0x40, 0x7E) || inRange(second, 0x80, 0xFE);
            const int pointer = (first - 0x81) * 190 + second - (second < 0x7F ? 0x40 : 0x41);
            endPair(trail ? codePointAt(ix::kGb18030, pointer) : 0, second, in, out);
            return;
        }
        // Four bytes. A third or fourth byte out of its range ends them as
        // one error, and the bytes after the first are read again; a
        // sequence cut at the end is one error.
        const auto fail = [&in, &out](int readAgain) {
            in.restore(readAgain);
            out.error();
        };
        if (in.atEnd())
            return fail(0);
        if (!inRange(in.peek(), 0x81, 0xFE))
            return fail(1);
        const uchar third = in.next();
        if (in.atEnd())
            return fail(0);
        if (!inRange(in.peek(), 0x30, 0x39))
            return fail(2);
        const uchar fourth = in.next();
        out.putFound(rangesCodePoint((first - 0x81) * 12600 + (second - 0x30) * 1260 +
                                     (third - 0x81) * 10 + fourth - 0x30));
    });
}

void big5(Bytes in, Text& out)
{
    // Four pointers stand for two code points each, which no index entry can
    // hold.
    static constexpr std::array<std::array<char16_t, 3>, 4> kPairs = {{{1133, 0x00CA, 0x0304},
                                                                       {1135, 0x00CA, 0x030C},
                                                                       {1164, 0x00EA, 0x0304},
                                                                       {1166, 0x00EA, 0x030C}}};
    leadsAndTrails(in, out, leadFrom0x81, [](uchar lead, Bytes& in, Text& out) {
        const uchar trail = in.next();
        const int pointer = inRange(trail, 0x40, 0x7E) || inRange(trail, 0xA1, 0xFE)
                                ? (lead - 0x81) * 157 + trail - (trail < 0x7F ? 0x40 : 0x62)
                                : -1;
        for (const auto& [at, letter, mark] : kPairs) {
            if (pointer == at) {
                out.put(letter);
                out.put(mark);
                return;
            }
        }
        endPair(pointer < 0 ? 0 : codePointAt(ix::kBig5, pointer), trail, in, out);
    });
}

void eucJp(Bytes in, Text& out)
{
    const auto alone = [](uchar byte) {
        return byte == 0x8E || byte == 0x8F || inRange(byte, 0xA1, 0xFE) ? kLead : kError;
    };
    leadsAndTrails(in, out, alone, [](uchar lead, Bytes& in, Text& out) {
        uchar trail = in.next();
        if (lead == 0x8E && inRange(trail, 0xA1, 0xDF)) { // half-width katakana
            out.put(0xFF61 - 0xA1 + trail);
            return;
        }
        const ix::Index* index = &ix::kJis0208;
        uchar row = lead;
        if (lead == 0x8F && inRange(trail, 0xA1, 0xFE)) {
            // JIS X 0212: its row is the second byte, its cell the third.
            if (in.atEnd()) {
                out.error();
                return;
            }
            index = &ix::kJis0212;
            row = trail;
            trail = in.next();
        }
        const bool valid = inRange(row, 0xA1, 0xFE) && inRange(trail, 0xA1, 0xFE);
        endPair(valid ? codePointAt(*index, (row - 0xA1) * 94 + trail - 0xA1) : 0, trail, in, out);
    });
}

void shiftJis(Bytes in, Text& out)
{
    const auto alone = [](uchar byte) -> char32_t {
        if (byte == 0x80)
            return byte;
        if (inRange(byte, 0xA1, 0xDF)) // half-width katakana
            return 0xFF61 - 0xA1 + byte;
        return inRange(byte, 0x81, 0x9F) || inRange(byte, 0xE0, 0xFC) ? kLead : kError;
    };
    leadsAndTrails(in, out, alone, [](uchar lead, Bytes& in, Text& out) {
        const uchar trail = in.next();
        const int pointer =
            inRange(trail, 0x40, 0x7E) || inRange(trail, 0x80, 0xFC)
                ? (lead - (lead < 0xA0 ? 0x81 : 0xC1)) * 188 + trail - (trail < 0x7F ? 0x40 : 0x41)
                : -1;
        if (pointer >= 8836 && pointer <= 10715) // Windows' user-defined characters
            out.put(0xE000 - 8836 + pointer);
        else
            endPair(pointer < 0 ? 0 : codePointAt(ix::kJis0208, pointer), trail, in, out);
    });
}

void eucKr(Bytes in, Text& out)
{
    leadsAndTrails(in, out, leadFrom0x81, [](uchar lead, Bytes& in, Text& out) {
        const uchar trail = in.next();
        const bool valid = inRange(trail, 0x41, 0xFE);
        endPair(valid ? codePointAt(ix::kEucKr, (lead - 0x81) * 190 + trail - 0x41) : 0, trail, in,
                out);
    });
}

// Stateful: escape sequences switch between ASCII, JIS-Roman, half-width
// katakana and JIS X 0208's two-byte characters.
void iso2022Jp(Bytes in, Text& out)
{
    enum State
    {
        Ascii,
        Roman,
        Katakana,
        LeadByte,
        TrailByte,
        EscapeStart,
        Escape,
    };
    State state = Ascii;
    State outputState = Ascii; // where an escape sequence that fails returns
    uchar leading = 0;
    bool escaped = false; // nothing since the last escape sequence: a second one is an error
    for (;;) {
        const bool end = in.atEnd();
        const uchar byte = end ? 0 : in.next();
        switch (state) {
        case Ascii:
        case Roman:
        case Katakana:
        case LeadByte:
            if (end)
                return;
            if (byte == 0x1B) {
                state = EscapeStart;
                break;
            }
            escaped = false;
            if (state == LeadByte && inRange(byte, 0x21, 0x7E)) {
                leading = byte;
                state = TrailByte;
            } else if (state == Katakana && inRange(byte, 0x21, 0x5F)) {
                out.put(0xFF61 - 0x21 + byte);
            } else if ((state == Ascii || state == Roman) && byte < 0x80 && byte != 0x0E &&
                       byte != 0x0F) {
                if (state == Roman && byte == 0x5C)
                    out.put(0x00A5);
                else if (state == Roman && byte == 0x7E)
                    out.put(0x203E);
                else
                    out.put(byte);
            } else {
                out.error();
            }
            break;
        case TrailByte: {
            state = !end && byte == 0x1B ? EscapeStart : LeadByte;
            out.putFound(!end && inRange(byte, 0x21, 0x7E)
                             ? codePointAt(ix::kJis0208, (leading - 0x21) * 94 + byte - 0x21)
                             : 0);
            break;
        }
        case EscapeStart:
            if (!end && (byte == 0x24 || byte == 0x28)) {
                leading = byte;
                state = Escape;
                break;
            }
            if (!end)
                in.restore(1);
            escaped = false;
            state = outputState;
            out.error();
            break;
        case Escape: {
            const uchar lead = std::exchange(leading, 0);
            std::optional<State> next;
            if (!end && lead == 0x28 && byte == 0x42)
                next = Ascii;
            else if (!end && lead == 0x28 && byte == 0x4A)
                next = Roman;
            else if (!end && lead == 0x28 && byte == 0x49)
                next = Katakana;
            else if (!end && lead == 0x24 && (byte == 0x40 || byte == 0x42))
                next = LeadByte;
            if (next) {
                state = outputState = *next;
                if (std::exchange(escaped, true))
                    out.error();
                break;
            }
            in.restore(end ? 1 : 2);
            escaped = false;
            state = outputState;
            out.error();
            break;
        }
        }
    }
}

} // namespace

std::optional<Encoding> encodingOfLabel(QByteArrayView label)
{
    const auto isBlank = [](char byte) {
        return byte == 0x09 || byte == 0x0A || byte == 0x0C || byte == 0x0D || byte == 0x20;
    };
    while (!label.isEmpty() && isBlank(label.front()))
        label = label.sliced(1);
    while (!label.isEmpty() && isBlank(label.back()))
        label.chop(1);
    // The longest label has 19 bytes ("cseucpkdfmtjapanese"): a longer one names none.
    char lower[24];
    if (label.isEmpty() || label.size() >= qsizetype(sizeof lower))
        return std::nullopt;
    for (qsizetype i = 0; i < label.size(); ++i)
        lower[i] = label[i] >= 'A' && label[i] <= 'Z' ? char(label[i] + ('a' - 'A')) : label[i];
    const QByteArrayView wanted(lower, label.size());
    const ix::Label* end = ix::kLabels + ix::kLabelCount;
    const ix::Label* found =
        std::lower_bound(ix::kLabels, end, wanted, [](const ix::Label& known, QByteArrayView key) {
            return QByteArrayView(known.label) < key;
        });
    if (found == end || QByteArrayView(found->label) != wanted)
        return std::nullopt;
    return found->encoding;
}

const char* nameOf(Encoding encoding)
{
    return ix::kNames[int(encoding)];
}

QString decode(Encoding encoding, QByteArrayView bytes)
{
    Text out(bytes.size());
    const Bytes in(bytes);
    switch (encoding) {
    case Encoding::Utf8:
        utf8(in, out);
        break;
    case Encoding::Utf16Be:
    case Encoding::Utf16Le:
        utf16(in, encoding == Encoding::Utf16Be, out);
        break;
    case Encoding::Gbk: // gb18030's decoder, as the standard says
    case Encoding::Gb18030:
        gb18030(in, out);
        break;
    case Encoding::Big5:
        big5(in, out);
        break;
    case Encoding::EucJp:
        eucJp(in, out);
        break;
    case Encoding::Iso2022Jp:
        iso2022Jp(in, out);
        break;
    case Encoding::ShiftJis:
        shiftJis(in, out);
        break;
    case Encoding::EucKr:
        eucKr(in, out);
        break;
    case Encoding::Replacement: // the whole text one error
        if (!bytes.isEmpty())
            out.error();
        break;
    case Encoding::XUserDefined:
        userDefined(in, out);
        break;
    default:
        singleByte(ix::kSingleByte[int(encoding) - int(ix::kFirstSingleByte)], in, out);
        break;
    }
    return out.take();
}

} // namespace mizong::decoding
