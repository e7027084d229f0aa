// The program's own start (runApplication, exactly what main() runs), held
// open for memory: reports its PSS at the first paint, before the page view
// module loads, then "loaded" once the announcement page has loaded.
#include "application.h"
#include "first_paint.h"
#include "main_window.h"

#include <QTimer>
#include <QWidget>

#include <cstdio>

// Waits for the page view, which a module creates after the first paint, and
// reports its first finished load. Connected by signature, as this probe does
// not link the web engine either.
class LoadReporter final : public QObject
{
    Q_OBJECT

public:
    explicit LoadReporter(QWidget* window) : QObject(window), m_window(window)
    {
        connect(&m_poll, &QTimer::timeout, this, &LoadReporter::lookForView);
        m_poll.start(20);
    }

private slots:
    void lookForView()
    {
        for (QWidget* child : m_window->findChildren<QWidget*>()) {
            if (qstrcmp(child->metaObject()->className(), "QWebEngineView") == 0) {
                m_poll.stop();
                connect(child, SIGNAL(loadFinished(bool)), this, SLOT(loaded()));
                return;
            }
        }
    }
    void loaded()
    {
        std::puts("loaded");
        std::fflush(stdout);
    }

private:
    QWidget* m_window;
    QTimer m_poll;
};

int main(int argc, char* argv[])
{
    return mizong::runApplication(argc, argv, [](mizong::Form1& window) {
        window.installEventFilter(new FirstPaintReporter(&window, true));
        new LoadReporter(&window);
    });
}

#include "memory_probe.moc"
