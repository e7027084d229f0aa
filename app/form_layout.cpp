#include "form_layout.h"

#include "assets.h"
#include "device_lookup.h"
#include "form_controls.h"
#include "page_browser.h"
#include "sim_lookup.h"

#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <vector>

namespace mizong::layout {

#include "form_layout_rows.h"

namespace {

// True when every slot of the lookup's N fields is filled by exactly one
// result box, and nothing else fills one.
template <std::size_t N> constexpr bool fillsEachSlotOnce(Lookup lookup)
{
    std::array<int, N> boxes{};
    for (const Control& row : kFormLayoutRows) {
        if (row.fills.lookup != lookup)
            continue;
        if (row.kind != Kind::Result || row.fills.slot >= N)
            return false;
        ++boxes[row.fills.slot];
    }
    for (int count : boxes) {
        if (count != 1)
            return false;
    }
    return true;
}
static_assert(fillsEachSlotOnce<device::kFieldCount>(Lookup::Device),
              "form_layout.tsv: each device field needs exactly one result box");
static_assert(fillsEachSlotOnce<sim::kFieldCount>(Lookup::Sim),
              "form_layout.tsv: each SIM card field needs exactly one result box");

constexpr QSize kButtonPictureSize(128, 33);
const QColor kRed(255, 0, 0);

void paintRed(QWidget* widget, QPalette::ColorRole role)
{
    QPalette red = widget->palette();
    red.setColor(role, kRed);
    widget->setPalette(red);
}

QString buttonPicture(QStringView key)
{
    if (key == u"query")
        return assets::kButtonQuery.toString();
    if (key == u"clear")
        return assets::kButtonClear.toString();
    return assets::kButtonShop.toString();
}

} // namespace

std::span<const Control> controls()
{
    return kFormLayoutRows;
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

QWidget* createWidget(const Control& row, QWidget* parent)
{
    QWidget* widget = nullptr;
    switch (row.kind) {
    case Kind::Label:
    case Kind::Verdict:
    case Kind::Link: {
        QLabel* label = row.kind == Kind::Label     ? new QLabel(parent)
                        : row.kind == Kind::Verdict ? new FittedLabel(parent)
                                                    : new LinkLabel(parent);
        label->setText(row.text.toString());
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    case Kind::Input:
    case Kind::Result: {
        auto* box = new QLineEdit(parent);
        box->setReadOnly(row.kind == Kind::Result);
        // No length limit: Qt's default of 32767 would cut a pasted
        // identifier or a long value without a word.
        box->setMaxLength(std::numeric_limits<int>::max());
        widget = box;
        break;
    }
    case Kind::Button: {
        // The pictures carry the words; the accessible name and the tool tip
        // say them, and which lookup the button belongs to where two look alike.
        auto* button = new QPushButton(parent);
        button->setIcon(QIcon(buttonPicture(row.text)));
        button->setIconSize(kButtonPictureSize);
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setToolTip(row.accessibleName.toString());
        widget = button;
        break;
    }
    case Kind::Page:
        widget = new PageBrowser(parent);
        break;
    }
    widget->setObjectName(row.name.toString());
    widget->setGeometry(pixels(row));
    if (row.font != Font::Window)
        widget->setFont(font(row.font));
    if (row.red)
        paintRed(widget, qobject_cast<QLineEdit*>(widget) ? QPalette::Text : QPalette::WindowText);
    if (!row.takesFocus())
        widget->setFocusPolicy(Qt::NoFocus);
    if (!row.accessibleName.isEmpty())
        widget->setAccessibleName(row.accessibleName.toString());
    if (!row.accessibleDescription.isEmpty())
        widget->setAccessibleDescription(row.accessibleDescription.toString());
    return widget;
}

QHash<QString, QWidget*> createControls(QWidget* window)
{
    QHash<QString, QWidget*> made;
    for (const Control& row : kFormLayoutRows)
        made.insert(row.name.toString(), createWidget(row, window));
    // A caption names its box, for screen readers too.
    for (const Control& row : kFormLayoutRows) {
        if (!row.buddy.isEmpty()) {
            auto* caption = static_cast<QLabel*>(made.value(row.name.toString()));
            QWidget* box = made.value(row.buddy.toString());
            caption->setBuddy(box);
            box->setAccessibleName(caption->text());
        }
    }
    // The design numbers the labels too, though they never take the focus;
    // the chain keeps its order without them.
    std::vector<const Control*> chain;
    for (const Control& row : kFormLayoutRows) {
        if (row.takesFocus())
            chain.push_back(&row);
    }
    std::sort(chain.begin(), chain.end(),
              [](const Control* a, const Control* b) { return a->tabIndex < b->tabIndex; });
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(made.value(chain[i - 1]->name.toString()),
                             made.value(chain[i]->name.toString()));
    made.value(chain.front()->name.toString())->setFocus(Qt::OtherFocusReason);
    return made;
}

void installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"), {QStringLiteral("Microsoft YaHei"),
                                                            QStringLiteral("WenQuanYi Micro Hei"),
                                                            QStringLiteral("Noto Sans CJK SC"),
                                                            QStringLiteral("Droid Sans Fallback")});
    // The announcement's style sheet names them as Windows spells them.
    QFont::insertSubstitutions(QStringLiteral("Microsoft YaHei"),
                               {QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC"),
                                QStringLiteral("Droid Sans Fallback")});
    QFont::insertSubstitutions(QStringLiteral("SimSun"), {QStringLiteral("AR PL UMing CN"),
                                                          QStringLiteral("Noto Serif CJK SC"),
                                                          QStringLiteral("WenQuanYi Micro Hei")});
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                                QStringLiteral("Noto Serif CJK SC"),
                                QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC")});
}

} // namespace mizong::layout
