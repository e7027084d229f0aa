#pragma once

#include <QString>
#include <QStringView>

// Building blocks of the lazy-group matcher: substring search that keeps up
// with memory bandwidth on long pages, line-feed search and the UTF-16 check
// that QRegularExpression applies to every subject. Internal to mizong_extract
// (and its tests). They stay hand-written while tools/bench shows them 1.5x
// or more faster than QStringMatcher and QStringView::isValidUtf16 on the
// lookups' pages (about 2.5x and 8x here).
namespace mizong::scan {

// Finds a fixed needle. Candidates are filtered eight positions at a time on
// two of the needle's characters (chosen to be rare in HTML) before a full
// comparison, so neither a run of one repeated character nor a run of the
// needle's first character slows it down.
class LiteralFinder
{
public:
    explicit LiteralFinder(QStringView needle);

    // The first position >= from where the needle starts, or -1.
    qsizetype indexIn(QStringView haystack, qsizetype from) const;

    const QString& needle() const { return m_needle; }

private:
    QString m_needle;
    qsizetype m_first = 0;
    qsizetype m_second = 0;
};

// The first line feed at or after `from`, or -1.
qsizetype indexOfLineFeed(QStringView text, qsizetype from);

// True when every surrogate is part of a pair; QRegularExpression refuses to
// match anything in a text that fails this.
bool isValidUtf16(QStringView text);

} // namespace mizong::scan
