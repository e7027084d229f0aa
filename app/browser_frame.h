#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

namespace mizong {

class PageView;

// The place of the embedded page view in the window. The view itself comes
// from a module that is loaded on the first navigation, after the window's
// first paint, so the web engine's large libraries never delay the window.
// Without the module the frame stays blank and the window works on.
class BrowserFrame final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserFrame)

public:
    // `modulePath` empty: the module installed beside the program.
    explicit BrowserFrame(QString modulePath, QWidget* parent = nullptr);

    void navigate(const QUrl& url);

    QUrl requestedUrl() const { return m_requested; }
    // The page view's widget once the view is made, else nullptr.
    QWidget* view() const;

    // Where the module is looked for when no path is given.
    static QStringList moduleCandidates();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    PageView* loadView();

    QString m_modulePath;
    // Owned through its widget, a child of the frame.
    PageView* m_view = nullptr;
    bool m_loadTried = false;
    QUrl m_requested;
};

} // namespace mizong
