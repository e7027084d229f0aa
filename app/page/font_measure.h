#pragma once

#include "page_markup.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QString>

// Text measured in the fonts Qt's importer makes of the written style, for
// the writer's table columns and line heights. Qt Gui: made and used on the
// page thread, where the page is laid out in the same fonts.
namespace mizong::page {

class FontMeasure final : public TextMeasure
{
public:
    explicit FontMeasure(const QFont& base) : m_base(base) {}

    qreal width(QStringView text, const css::ComputedStyle& style) const override;
    qreal lineHeight(const css::ComputedStyle& style) const override;
    qreal normalLineHeight(const css::ComputedStyle& style) const override;

private:
    // A metrics object for each font the page uses.
    const QFontMetricsF& metrics(const css::ComputedStyle& style) const;

    QFont m_base;
    mutable QHash<QString, QFontMetricsF> m_metrics;
    mutable const css::ComputedStyle* m_lastStyle = nullptr;
    mutable const QFontMetricsF* m_last = nullptr;
};

} // namespace mizong::page
