#pragma once

// Internal to mizong_extract (and its tests): pattern_extract.h is the
// interface.

#include "text_scan_p.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

// A pattern of literal pieces joined by lazy groups ".*?" that never cross a
// line feed, with capturing parentheses around any run of them, matched in
// time linear in the page. Internal to mizong_extract; the semantics are
// QRegularExpression's for the same pattern, except where PCRE2 gives up at
// its match limit and QRegularExpression reports no match: this still finds
// the match. Objects are immutable after compile() and may be shared between
// threads.
namespace mizong {

class LazyPattern
{
public:
    // Positions of a match: where each literal piece starts in the page.
    struct Match
    {
        std::vector<qsizetype> pieceStarts;
        qsizetype end = 0;
    };

    // No value when the pattern uses anything beyond literals, ".*?" and
    // plain capturing parentheses (or is not a valid expression at all).
    static std::optional<LazyPattern> compile(QStringView pattern);

    // The first (leftmost) match, or no value.
    std::optional<Match> match(QStringView page) const;

    // Numbered as QRegularExpression numbers them: 0 is the whole match,
    // 1 the first parenthesis. A null view for a group that does not exist.
    QStringView captured(QStringView page, const Match& match, int index) const;

    int captureCount() const { return int(m_captures.size()); }

private:
    // A place in the pattern: `offset` characters into literal piece `piece`.
    struct Bound
    {
        int piece = 0;
        qsizetype offset = 0;
    };
    struct Capture
    {
        Bound begin;
        Bound end;
    };
    struct Piece
    {
        scan::LiteralFinder finder;
        qsizetype lineFeedAt; // offset of the first line feed, or -1
    };

    LazyPattern() = default;

    std::vector<Piece> m_pieces; // one more than there are lazy groups
    std::vector<Capture> m_captures;
    // Index of the first piece holding a line feed (pieces.size() if none).
    qsizetype m_firstLinePiece = 0;
};

} // namespace mizong
