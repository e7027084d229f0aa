#include "form_controls.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

namespace mizong {

FittedLabel::FittedLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

qreal FittedLabel::textScale() const
{
    const qreal needed = QFontMetricsF(font()).horizontalAdvance(text());
    const qreal available = contentsRect().width();
    return needed > available && needed > 0 ? available / needed : 1.0;
}

void FittedLabel::paintEvent(QPaintEvent*)
{
    if (text().isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    const QRectF area = contentsRect();
    const qreal scale = textScale();
    painter.translate(area.topLeft());
    painter.scale(scale, 1.0);
    painter.drawText(QRectF(0, 0, area.width() / scale, area.height()),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text());
}

LinkLabel::LinkLabel(QWidget* parent) : FittedLabel(parent) {}

void LinkLabel::activate()
{
    if (!text().isEmpty())
        emit clicked();
}

void LinkLabel::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        emit clicked();
}

} // namespace mizong
