#pragma once

#include <QCursor>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSize>

#include <future>

class QWidget;

namespace mizong {

// The window's pictures for the screen it is on: the background and the
// link cursor at the screen's pixel ratio (1x or 2x pictures), and the
// window's size in logical pixels kept across a move to a screen of another
// ratio. It watches the window's own events (screen change, resize, paint),
// so the window only draws what it is given.
class ScreenPictures final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScreenPictures)

public:
    // `window` starts at `logicalSize`.
    ScreenPictures(QWidget* window, QSize logicalSize);

    // The background: `decoded` when start-up decoded the 1x picture beside
    // the window's creation, else the window's own.
    void takeBackground(std::shared_future<QImage> decoded);
    const QPixmap& background() const { return m_background; }
    const QCursor& linkCursor() const { return m_linkCursor; }
    // A widget that shows the link cursor while it has a cursor set: it gets
    // the cursor for a new ratio too.
    void setLinkCursorWidget(QWidget* widget) { m_linkCursorWidget = widget; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeForScreen();
    void keepLogicalSize();
    void resized(QSize size);

    QWidget* m_window;
    QPointer<QWidget> m_linkCursorWidget;
    QPixmap m_background;
    QCursor m_linkCursor;
    // The ratio the pictures and the cursor were taken for, and the window's
    // last two sizes in logical pixels.
    qreal m_ratio = 1.0;
    QSize m_logicalSize;
    QSize m_earlierSize;
    QSize m_sizeToKeep;
    bool m_keepSizePending = false;
};

} // namespace mizong
