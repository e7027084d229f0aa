#include "text_scan_p.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mizong::scan {

namespace {

// How unlikely a character is on an HTML page: markup punctuation and blanks
// are everywhere, common lower-case letters nearly so, anything outside ASCII
// (Chinese text of a label) is rare.
int rarity(char16_t c)
{
    if (c >= 0x80)
        return 4;
    if (c == u'\r' || c == u'\n' || c == u'\t')
        return 2;
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
        return 3;
    if (c >= u'a' && c <= u'z') {
        constexpr char16_t common[] = u"etaoinsrlhdc";
        for (char16_t x : common)
            if (x == c)
                return 1;
        return 2;
    }
    return 0;
}

bool equalAt(const char16_t* at, const QString& needle)
{
    return std::memcmp(at, needle.utf16(), size_t(needle.size()) * sizeof(char16_t)) == 0;
}

} // namespace

LiteralFinder::LiteralFinder(QStringView needle) : m_needle(needle.toString())
{
    const qsizetype m = m_needle.size();
    if (m < 2)
        return;
    const char16_t* p = QStringView(m_needle).utf16();
    // The rarest character filters best; the second filter character must
    // differ from it, or the pair tests the same thing twice.
    qsizetype best = m - 1;
    for (qsizetype i = m - 1; i >= 0; --i)
        if (rarity(p[i]) > rarity(p[best]))
            best = i;
    qsizetype other = -1;
    for (qsizetype i = 0; i < m; ++i) {
        if (i == best || p[i] == p[best])
            continue;
        if (other < 0 || rarity(p[i]) > rarity(p[other]))
            other = i;
    }
    if (other < 0)
        other = best == 0 ? m - 1 : 0;
    m_first = std::min(best, other);
    m_second = std::max(best, other);
}

qsizetype LiteralFinder::indexIn(QStringView haystack, qsizetype from) const
{
    const qsizetype n = haystack.size();
    const qsizetype m = m_needle.size();
    if (from < 0)
        from = 0;
    if (m == 0)
        return from <= n ? from : -1;
    if (from > n - m)
        return -1;
    if (m == 1)
        return haystack.indexOf(QChar(m_needle.front()), from);

    const char16_t* h = haystack.utf16();
    const char16_t a = QStringView(m_needle).utf16()[m_first];
    const char16_t b = QStringView(m_needle).utf16()[m_second];
    const qsizetype last = n - m; // last possible start
    qsizetype c = from;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi16(short(a));
    const __m128i vb = _mm_set1_epi16(short(b));
    for (; c + 7 <= last; c += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + c + m_first));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + c + m_second));
        unsigned mask = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(x, va), _mm_cmpeq_epi16(y, vb))));
        while (mask) {
            const int bit = std::countr_zero(mask);
            if (equalAt(h + c + bit / 2, m_needle))
                return c + bit / 2;
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; c <= last; ++c)
        if (h[c + m_first] == a && h[c + m_second] == b && equalAt(h + c, m_needle))
            return c;
    return -1;
}

qsizetype indexOfLineFeed(QStringView text, qsizetype from)
{
    if (from >= text.size())
        return -1;
    return text.indexOf(QChar(u'\n'), from);
}

bool isValidUtf16(QStringView text)
{
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    bool pendingHigh = false;
    qsizetype i = 0;
    // Checks one unit exactly, carrying an unpaired high surrogate forward.
    auto step = [&](char16_t c) {
        if ((c & 0xFC00) == 0xD800) {
            if (pendingHigh)
                return false;
            pendingHigh = true;
        } else if ((c & 0xFC00) == 0xDC00) {
            if (!pendingHigh)
                return false;
            pendingHigh = false;
        } else if (pendingHigh) {
            return false;
        }
        return true;
    };
#if defined(__SSE2__)
    // Whole blocks without any surrogate are skipped 32 units at a time.
    const __m128i maskBits = _mm_set1_epi16(short(0xF800));
    const __m128i surrogate = _mm_set1_epi16(short(0xD800));
    for (; i + 32 <= n; i += 32) {
        const __m128i* q = reinterpret_cast<const __m128i*>(p + i);
        __m128i any = _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(q), maskBits), surrogate);
        any = _mm_or_si128(
            any, _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(q + 1), maskBits), surrogate));
        any = _mm_or_si128(
            any, _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(q + 2), maskBits), surrogate));
        any = _mm_or_si128(
            any, _mm_cmpeq_epi16(_mm_and_si128(_mm_loadu_si128(q + 3), maskBits), surrogate));
        if (_mm_movemask_epi8(any) == 0) {
            if (pendingHigh)
                return false;
            continue;
        }
        for (qsizetype j = i; j < i + 32; ++j)
            if (!step(p[j]))
                return false;
    }
#endif
    for (; i < n; ++i)
        if (!step(p[i]))
            return false;
    return !pendingHigh;
}

} // namespace mizong::scan
