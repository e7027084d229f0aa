#include "form_layout.h"

#include <QStringList>

namespace mizong::layout {

#include "form_layout_rows.h"

std::span<const Control> controls()
{
    return kFormLayoutRows;
}

const Control& control(QStringView name)
{
    for (const Control& row : kFormLayoutRows) {
        if (row.name == name)
            return row;
    }
    qFatal("the window's layout has no control %s", qPrintable(name.toString()));
}

QRect pixels(const Control& control)
{
    const auto px = [](int twips) { return qRound(twips / 15.0); };
    return QRect(px(control.left), px(control.top), px(control.width), px(control.height));
}

// The design's fonts; where they are missing, the substitutions made at
// start-up pick the Simplified Chinese fonts the system has.
QFont font(Font font)
{
    if (font == Font::Window) {
        QFont label(QStringLiteral("微软雅黑"));
        label.setPointSizeF(9);
        label.setWeight(QFont::Normal);
        return label;
    }
    QFont box(QStringLiteral("宋体"));
    box.setPointSizeF(10.5);
    box.setWeight(font == Font::BoxBold ? QFont::Bold : QFont::Normal);
    return box;
}

void installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"), {QStringLiteral("Microsoft YaHei"),
                                                            QStringLiteral("WenQuanYi Micro Hei"),
                                                            QStringLiteral("Noto Sans CJK SC"),
                                                            QStringLiteral("Droid Sans Fallback")});
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                                QStringLiteral("Noto Serif CJK SC"),
                                QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC")});
}

} // namespace mizong::layout
