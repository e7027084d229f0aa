#include "lazy_pattern_p.h"

#include <algorithm>
#include <cstring>

// Why the first candidate is always the right one. A lazy group cannot hold
// a line feed, so the group that follows literal piece i-1 ends somewhere on
// the line it starts on. If piece i holds a line feed, its place is fixed by
// the end of that line. Otherwise every candidate end lies on that one line,
// and whatever follows a later candidate also follows an earlier one (the next
// lazy group simply absorbs the difference), so the first occurrence of piece
// i is the one a backtracking engine settles on. The same holds for start
// positions: every later start on the same line reaches each piece no earlier
// than the failed one did, which lets a failure skip the rest of that line.
// Each piece's search position only moves forward from one start to the
// next, so caching the last result per piece makes the whole match linear.

namespace mizong {

namespace {

bool equalAt(QStringView page, qsizetype at, const QString& piece)
{
    return at >= 0 && at + piece.size() <= page.size() &&
           std::memcmp(page.utf16() + at, piece.utf16(), size_t(piece.size()) * 2) == 0;
}

// The last answers for one piece, valid while the query position stays
// between the position asked and the answer given.
struct StepCache
{
    qsizetype hitFrom = -1;
    qsizetype hit = -1; // page size + 1: no occurrence at all
    qsizetype eolFrom = -1;
    qsizetype eol = -1; // page size: no line feed
    qsizetype checkedEol = -1;
    bool pieceAtEol = false;
};

} // namespace

std::optional<LazyPattern> LazyPattern::compile(QStringView pattern)
{
    if (!scan::isValidUtf16(pattern))
        return std::nullopt;
    std::vector<QString> pieces;
    std::vector<Capture> captures;
    std::vector<size_t> open;
    QString literal;
    auto here = [&] { return Bound{int(pieces.size()), literal.size()}; };
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = pattern[i].unicode();
        switch (c) {
        case u'(':
            if (i + 1 < n && pattern[i + 1] == u'?')
                return std::nullopt; // (?:...), (?i) and the like
            open.push_back(captures.size());
            captures.push_back({here(), {}});
            break;
        case u')':
            if (open.empty())
                return std::nullopt;
            captures[open.back()].end = here();
            open.pop_back();
            break;
        case u'.':
            if (i + 2 >= n || pattern[i + 1] != u'*' || pattern[i + 2] != u'?')
                return std::nullopt;
            pieces.push_back(literal);
            literal.clear();
            i += 2;
            break;
        case u'*':
        case u'?':
        case u'+':
        case u'[':
        case u']':
        case u'{':
        case u'}':
        case u'\\':
        case u'^':
        case u'$':
        case u'|':
            return std::nullopt;
        default:
            literal.append(QChar(c));
        }
    }
    if (!open.empty())
        return std::nullopt;
    pieces.push_back(literal);

    LazyPattern result;
    result.m_captures = std::move(captures);
    result.m_firstLinePiece = qsizetype(pieces.size());
    for (const QString& piece : pieces) {
        const qsizetype lineFeed = piece.indexOf(u'\n');
        if (lineFeed >= 0 && result.m_firstLinePiece == qsizetype(pieces.size()))
            result.m_firstLinePiece = qsizetype(result.m_pieces.size());
        result.m_pieces.push_back({scan::LiteralFinder(piece), lineFeed});
    }
    return result;
}

std::optional<LazyPattern::Match> LazyPattern::match(QStringView page) const
{
    const qsizetype n = page.size();
    const qsizetype groups = qsizetype(m_pieces.size()) - 1;
    const qsizetype headLength = m_pieces.front().finder.needle().size();
    std::vector<StepCache> caches(m_pieces.size());
    std::vector<qsizetype> starts(m_pieces.size());

    auto lineEnd = [&](StepCache& cache, qsizetype q) {
        if (cache.eolFrom < 0 || q < cache.eolFrom || q > cache.eol) {
            const qsizetype at = scan::indexOfLineFeed(page, q);
            cache.eolFrom = q;
            cache.eol = at < 0 ? n : at;
        }
        return cache.eol;
    };
    // Start positions worth trying: occurrences of the first piece, or, when
    // it is empty, line starts (any later start on a line can only do worse).
    auto nextStart = [&](qsizetype from) -> qsizetype {
        if (from > n)
            return -1;
        if (headLength > 0)
            return m_pieces.front().finder.indexIn(page, from);
        if (from == 0 || page[from - 1] == u'\n')
            return from;
        const qsizetype at = scan::indexOfLineFeed(page, from);
        return at < 0 ? -1 : at + 1;
    };

    for (qsizetype s = nextStart(0); s >= 0;) {
        starts[0] = s;
        qsizetype q = s + headLength;
        qsizetype failedAt = 0;
        qsizetype failedEol = 0;
        for (qsizetype i = 1; i <= groups; ++i) {
            const Piece& piece = m_pieces[size_t(i)];
            const QString& text = piece.finder.needle();
            StepCache& cache = caches[size_t(i)];
            qsizetype p = q;
            if (piece.lineFeedAt < 0) {
                if (!text.isEmpty()) {
                    if (cache.hitFrom < 0 || q < cache.hitFrom || q > cache.hit) {
                        const qsizetype at = piece.finder.indexIn(page, q);
                        cache.hitFrom = q;
                        cache.hit = at < 0 ? n + 1 : at;
                    }
                    if (cache.hit > n)
                        return std::nullopt; // no later start can find it either
                    const qsizetype eol = lineEnd(cache, q);
                    if (cache.hit > eol) {
                        failedAt = i;
                        failedEol = eol;
                        break;
                    }
                    p = cache.hit;
                }
            } else {
                const qsizetype eol = lineEnd(cache, q);
                if (eol >= n)
                    return std::nullopt;
                if (cache.checkedEol != eol) {
                    cache.checkedEol = eol;
                    cache.pieceAtEol = equalAt(page, eol - piece.lineFeedAt, text);
                }
                p = eol - piece.lineFeedAt;
                if (!cache.pieceAtEol || p < q) {
                    failedAt = i;
                    failedEol = eol;
                    break;
                }
            }
            starts[size_t(i)] = p;
            q = p + text.size();
        }
        if (failedAt == 0) {
            // QRegularExpression checks the whole subject before matching.
            if (!scan::isValidUtf16(page))
                return std::nullopt;
            return Match{std::move(starts), q};
        }
        qsizetype from = s + 1;
        if (failedAt <= m_firstLinePiece)
            from = failedEol + 1; // every start on this line fails the same way
        else if (failedAt == 1)
            from = std::max(from, failedEol - headLength + 1);
        s = nextStart(from);
    }
    return std::nullopt;
}

QStringView LazyPattern::captured(QStringView page, const Match& match, int index) const
{
    if (index == 0)
        return page.sliced(match.pieceStarts.front(), match.end - match.pieceStarts.front());
    if (index < 0 || index > captureCount())
        return {};
    const Capture& capture = m_captures[size_t(index - 1)];
    const qsizetype begin = match.pieceStarts[size_t(capture.begin.piece)] + capture.begin.offset;
    const qsizetype end = match.pieceStarts[size_t(capture.end.piece)] + capture.end.offset;
    return page.sliced(begin, end - begin);
}

} // namespace mizong
