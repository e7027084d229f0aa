#pragma once

#include <QLabel>

namespace mizong {

// A one-line label that keeps its fixed geometry yet shows its whole caption:
// a caption wider than the label is drawn horizontally condensed to fit,
// never clipped and never over a neighbour.
class FittedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit FittedLabel(QWidget* parent = nullptr);

    // The horizontal scale the caption is drawn with (1 when it fits).
    qreal textScale() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The help link under the verdict: a FittedLabel that reports left clicks.
class LinkLabel final : public FittedLabel
{
    Q_OBJECT

public:
    explicit LinkLabel(QWidget* parent = nullptr);

    // Opens the link as a click does (a screen reader's press, a shortcut);
    // nothing while the caption is empty.
    void activate();

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

} // namespace mizong
