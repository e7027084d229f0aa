#pragma once

#include <QElapsedTimer>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QMarginsF>
#include <QString>
#include <QTextBlock>
#include <QTextOption>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <memory>

class QTextDocument;

namespace mizong::page {

// What a page's document is laid out for: the view's text settings and the
// size of its viewport.
struct LayoutTarget
{
    QFont font;
    QTextOption textOption;
    // The viewport without a vertical scroll bar, and the bar's width.
    qreal width = 0;
    qreal height = 0;
    qreal scrollBarWidth = 0;
    // The screen's device pixels per logical pixel, for media queries.
    qreal devicePixelRatio = 1;
};

// What a page's markup may refer to, loaded beforehand: nothing else is read.
struct PageResources
{
    QHash<QUrl, QImage> images;
};

// One page's work on the page thread. The window's thread drops it when the
// page is left; the page thread looks between steps and gives up, so no wait
// for it lasts longer than one step. A page whose pieces of work together
// take longer than the budget is dropped too.
class PageWork
{
public:
    explicit PageWork(std::chrono::milliseconds budget) : m_budget(budget) {}

    // Any thread.
    void drop() { m_dropped = true; }
    bool isOverTime() const { return m_overTime.load(); }
    // Every page's work, now and to come: the program is ending.
    static void dropAll();

    // The page thread, around each piece of the page's work and within it.
    void begin() { m_running.start(); }
    void end();
    bool isDropped() const;

private:
    const std::chrono::milliseconds m_budget;
    std::atomic<bool> m_dropped{false};
    mutable std::atomic<bool> m_overTime{false};
    QElapsedTimer m_running;
    qint64 m_spentMs = 0;
};

struct BuiltDocument
{
    // None when the work was dropped.
    std::unique_ptr<QTextDocument> document;
    // Laid out for the viewport less the scroll bar: the page is taller than it.
    bool needsScrollBar = false;
};

// The longest run of text a page's document keeps in one format: longer
// ones are cut where a line may break, in pieces Qt shapes one by one.
inline constexpr int kMaxTextRun = 64;

// Builds the page's document from prepared markup and lays it out completely
// for `target`, on the calling thread (any thread), which hands it to the
// view's. A view that shows it at the same width lays out nothing again.
// Whatever would lie below `maxHeight` pixels is cut before layout.
// `margins` are the page's own around its content (its body's), in pixels.
// A page known to be taller than the view (`scrolls`) is laid out beside
// the scroll bar at once, not first across the whole width.
BuiltDocument buildDocument(const QString& html, const QMarginsF& margins,
                            const PageResources& resources, const LayoutTarget& target,
                            qreal maxHeight, const PageWork& work, bool scrolls = false);

// Glyphs are measured once per thread, and the page thread's measures do
// not serve the window's: text first drawn would measure every glyph it
// shows new to the window's thread, then draw it. Walked through
// beforehand on the thread that draws, while it is idle, a little at a time,
// the text's first kWarmChars characters leave their glyphs measured there.
class TextWarmUp
{
public:
    static constexpr qsizetype kWarmChars = 32 * 1024;

    // What the walk itemizes and shapes is freed at each paragraph's end, as
    // Qt leaves a paragraph it has laid out, or kept for a paint about to
    // draw it, which then does neither again (a long paragraph's items take
    // it milliseconds).
    enum class Shaping
    {
        Free,
        Keep
    };

    // From the paragraph at `from` on, for `maxChars` characters. The
    // document outlives this walk and does not change during it.
    explicit TextWarmUp(const QTextDocument& document, int from = 0,
                        qsizetype maxChars = kWarmChars, Shaping shaping = Shaping::Free);

    // Whether the first paint had better measure the characters from `from`
    // to `to` itself, which it does sooner than a walk before it: at most
    // kPaintMeasures glyphs (a character in a format; at about 20 us each
    // to measure and draw, a third of the window's 16 ms), in paragraphs of
    // at most kPaintParagraph characters (the paint itemizes one whole).
    static constexpr qsizetype kPaintMeasures = 256;
    static constexpr int kPaintParagraph = 4096;
    static bool fewGlyphs(const QTextDocument& document, int from, int to);

    // Goes on for about `slice`, a run of at most kMaxTextRun characters or
    // a paragraph's end at a time, and for one at least; false once done.
    bool step(std::chrono::milliseconds slice);

private:
    QTextBlock m_block;
    int m_item = 0;
    // This walk made the paragraph's shaping data, and frees it.
    bool m_own = false;
    qsizetype m_chars = 0;
    qsizetype m_maxChars;
    Shaping m_shaping;
};

// Sets up on the calling thread what its first text would: its fonts in
// `target`'s font, their fallbacks and their shaping. For a thread about to
// lay out a page, while the page is still on its way.
void warmUpText(const LayoutTarget& target);

// An image as a page may show it: null unless its bytes are a PNG, JPEG, GIF,
// BMP, ICO or WebP (where Qt has the plug-in), when its header declares more
// than `maxPixels` (checked before any pixel is decoded), or when it does not
// decode.
QImage decodeImage(const QByteArray& bytes, qint64 maxPixels);

} // namespace mizong::page
