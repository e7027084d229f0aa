#include "pattern_extract.h"

#include "lazy_pattern_p.h"

#include <QHash>
#include <QMutex>
#include <QRegularExpression>

#include <memory>

namespace mizong {

namespace {

// The lookups reuse a dozen or so patterns; compiling costs little, but
// building the searchers again for every field of every lookup is waste.
// Null entries remember patterns outside the lazy-group family.
std::shared_ptr<const LazyPattern> lazyPatternFor(const QString& pattern)
{
    static QMutex mutex;
    static QHash<QString, std::shared_ptr<const LazyPattern>> cache;
    constexpr qsizetype cacheLimit = 64;
    {
        const QMutexLocker lock(&mutex);
        const auto it = cache.constFind(pattern);
        if (it != cache.cend())
            return *it;
    }
    std::optional<LazyPattern> compiled = LazyPattern::compile(pattern);
    std::shared_ptr<const LazyPattern> entry;
    if (compiled)
        entry = std::make_shared<const LazyPattern>(std::move(*compiled));
    const QMutexLocker lock(&mutex);
    if (cache.size() >= cacheLimit)
        cache.clear();
    cache.insert(pattern, entry);
    return entry;
}

} // namespace

std::optional<QStringList> extractGroupsRegex(QStringView page, const QString& pattern,
                                              const QList<int>& groups)
{
    const QRegularExpression re(pattern);
    // Qt 6.5 added matchView() for views and Qt 6.8 deprecates match() on
    // them; Qt 6.4 has only match(). Neither copies the page.
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const QRegularExpressionMatch m = re.matchView(page);
#else
    const QRegularExpressionMatch m = re.match(page);
#endif
    if (!m.hasMatch())
        return std::nullopt;
    QStringList values;
    values.reserve(groups.size());
    for (int g : groups)
        values.append(m.captured(g + 1));
    return values;
}

std::optional<QStringList> extractGroups(QStringView page, const QString& pattern,
                                         const QList<int>& groups)
{
    const std::shared_ptr<const LazyPattern> lazy = lazyPatternFor(pattern);
    if (!lazy)
        return extractGroupsRegex(page, pattern, groups);
    const std::optional<LazyPattern::Match> m = lazy->match(page);
    if (!m)
        return std::nullopt;
    QStringList values;
    values.reserve(groups.size());
    for (int g : groups)
        values.append(lazy->captured(page, *m, g + 1).toString());
    return values;
}

std::optional<QString> extractGroup(QStringView page, const QString& pattern, int group)
{
    auto values = extractGroups(page, pattern, {group});
    if (!values)
        return std::nullopt;
    return values->first();
}

QString joinPieces(std::initializer_list<QStringView> pieces)
{
    QString text;
    for (QStringView piece : pieces)
        text.append(piece);
    return text;
}

QString trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString removeAll(QStringView text, QStringView piece)
{
    QString out = text.toString();
    if (!piece.isEmpty())
        out.remove(piece.toString());
    return out;
}

QString removeBlanks(QStringView text)
{
    QString out = text.toString();
    out.remove(u' ');
    return out;
}

} // namespace mizong
