#include "screen_pictures.h"

#include "assets.h"
#include "cursor_hotspot.h"

#include <QEvent>
#include <QResizeEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace mizong {

namespace {

// Pictures come with a twice-as-large variant for screens with a device
// pixel ratio of 2; QIcon picks it by itself, pixmaps are picked here.
QPixmap backgroundFor(qreal devicePixelRatio)
{
    if (devicePixelRatio > 1.0) {
        QPixmap large(assets::kBackground2x.toString());
        large.setDevicePixelRatio(2.0);
        return large;
    }
    return QPixmap(assets::kBackground.toString());
}

// The hand pointer at 32 pixels; on a screen with twice the pixels, drawn
// from the large picture at 64 so it keeps the same size and stays sharp.
QCursor linkCursorFor(qreal devicePixelRatio)
{
    const bool large = devicePixelRatio > 1.0;
    const int source = large ? 128 : 32;
    const int logical = 32;
    QPixmap pixmap;
    for (const assets::SizedPicture& picture : assets::kCursorHands) {
        if (picture.size == source)
            pixmap = QPixmap(picture.path.toString());
    }
    QPoint hotSpot;
    for (const assets::CursorHotSpot& spot : assets::kCursorHotSpots) {
        if (spot.size == logical)
            hotSpot = QPoint(spot.x, spot.y);
    }
    if (large) {
        pixmap =
            pixmap.scaled(2 * logical, 2 * logical, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        pixmap.setDevicePixelRatio(2.0);
    }
    return QCursor(pixmap, hotSpot.x(), hotSpot.y());
}

} // namespace

ScreenPictures::ScreenPictures(QWidget* window, QSize logicalSize)
    : QObject(window), m_window(window), m_ratio(window->devicePixelRatioF()),
      m_logicalSize(logicalSize), m_earlierSize(logicalSize)
{
    m_linkCursor = linkCursorFor(m_ratio);
    window->installEventFilter(this);
}

void ScreenPictures::takeBackground(std::shared_future<QImage> decoded)
{
    m_background = decoded.valid() && m_ratio <= 1.0 ? QPixmap::fromImage(decoded.get())
                                                     : backgroundFor(m_ratio);
}

bool ScreenPictures::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    case QEvent::DevicePixelRatioChange:
#endif
    // A paint also catches a window first shown on a screen other than the
    // one it was made for, which sends no change of screen.
    case QEvent::Paint:
        takeForScreen();
        break;
    case QEvent::Resize:
        takeForScreen();
        resized(static_cast<QResizeEvent*>(event)->size());
        break;
    default:
        break;
    }
    return false;
}

// Cheap when nothing changed: the pictures are taken again only for a new ratio.
void ScreenPictures::takeForScreen()
{
    const qreal ratio = m_window->devicePixelRatioF();
    if (qFuzzyCompare(ratio, m_ratio))
        return;
    const qreal previous = std::exchange(m_ratio, ratio);
    m_background = backgroundFor(ratio);
    m_linkCursor = linkCursorFor(ratio);
    if (m_linkCursorWidget && m_linkCursorWidget->testAttribute(Qt::WA_SetCursor))
        m_linkCursorWidget->setCursor(m_linkCursor);
    m_window->update();
    if (!m_window->isWindow() || m_keepSizePending)
        return;
    // On X11 a window moved to a screen of another ratio keeps its size in
    // device pixels, which would show only part of the window. Depending on
    // the Qt version the platform's size arrives before or after the change
    // of ratio; one that kept the device pixels of the size before is the
    // platform's, not the user's.
    const auto devicePixels = [](QSize size, qreal scale) { return QSizeF(size) * scale; };
    const QSizeF now = devicePixels(m_window->size(), ratio);
    const QSizeF before = devicePixels(m_earlierSize, previous);
    const bool platformSize = m_window->size() != m_earlierSize &&
                              qAbs(now.width() - before.width()) < 1 &&
                              qAbs(now.height() - before.height()) < 1;
    m_sizeToKeep = platformSize ? m_earlierSize : m_logicalSize;
    m_keepSizePending = true;
    // Once the platform's geometry for the new screen is in as well.
    QTimer::singleShot(0, this, &ScreenPictures::keepLogicalSize);
}

void ScreenPictures::keepLogicalSize()
{
    m_keepSizePending = false;
    if (m_window->size() != m_sizeToKeep)
        m_window->resize(m_sizeToKeep);
    // The widget may keep its logical size while the native window does not.
    if (QWindow* window = m_window->windowHandle(); window && window->size() != m_sizeToKeep)
        window->resize(m_sizeToKeep);
}

void ScreenPictures::resized(QSize size)
{
    if (!m_keepSizePending && size != m_logicalSize) {
        m_earlierSize = m_logicalSize;
        m_logicalSize = size;
    }
}

} // namespace mizong
