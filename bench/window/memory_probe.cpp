// The program's own start (runApplication, exactly what main() runs), held
// open for memory: reports its PSS at the first paint, before the page view
// module loads, then "loaded" once the announcement page has loaded.
// `--with-gl-driver` and `--with-unsandboxed-zygote` each give up one of the
// page engine's savings, to show what it saves.
#include "application.h"
#include "first_paint.h"
#include "main_window.h"

#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <vector>

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
    mizong::PageEngineSavings savings;
    std::vector<char*> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--with-gl-driver") == 0)
            savings.withoutGlDriver = false;
        else if (std::strcmp(argv[i], "--with-unsandboxed-zygote") == 0)
            savings.withoutUnsandboxedZygote = false;
        else
            arguments.push_back(argv[i]);
    }
    arguments.push_back(nullptr);
    return mizong::runApplication(
        int(arguments.size()) - 1, arguments.data(),
        [](mizong::Form1& window) {
            window.installEventFilter(new FirstPaintReporter(&window, true));
            new LoadReporter(&window);
        },
        savings);
}

#include "memory_probe.moc"
