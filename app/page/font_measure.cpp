#include "font_measure.h"

#include "computed_style.h"

#include <algorithm>
#include <cmath>

namespace mizong::page {

qreal FontMeasure::width(QStringView text, const css::ComputedStyle& style) const
{
    return metrics(style).horizontalAdvance(text.toString());
}

qreal FontMeasure::lineHeight(const css::ComputedStyle& style) const
{
    return metrics(style).height();
}

qreal FontMeasure::normalLineHeight(const css::ComputedStyle& style) const
{
    // Qt rounds the sum up, browsers each part: a line of 12 px
    // WenQuanYi is 15 px in Qt, 14 in a browser.
    const QFontMetricsF& m = metrics(style);
    return std::round(m.ascent()) + std::round(m.descent()) + std::round(m.leading());
}

const QFontMetricsF& FontMeasure::metrics(const css::ComputedStyle& style) const
{
    // A cell's words come one after another in one style.
    if (&style == m_lastStyle)
        return *m_last;
    const int size = int(std::lround(std::clamp<qreal>(style.fontSize, 1, 10000)));
    const QString key = style.fontFamilies.join(u',') + u'/' + QString::number(size) + u'/' +
                        QString::number(style.fontWeight) +
                        (style.italic ? QStringLiteral("i") : QString());
    auto it = m_metrics.find(key);
    if (it == m_metrics.end()) {
        QFont font = m_base;
        if (!style.fontFamilies.isEmpty())
            font.setFamilies(style.fontFamilies);
        font.setPixelSize(size);
        font.setWeight(QFont::Weight(std::clamp(style.fontWeight / 100 * 100, 100, 900)));
        font.setItalic(style.italic);
        it = m_metrics.emplace(key, font);
    }
    m_lastStyle = &style;
    m_last = &*it;
    return *it;
}

} // namespace mizong::page
