// A bare Qt widget window of the same size: the yardstick for start-up and
// memory. `--hold` keeps it running after the first paint (for memory);
// `--share-gl` asks for the shared GL context as the program does.
#include "first_paint.h"

#include <QApplication>
#include <QWidget>

#include <cstring>

int main(int argc, char* argv[])
{
    bool hold = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hold") == 0)
            hold = true;
        else if (std::strcmp(argv[i], "--share-gl") == 0)
            QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    }
    QApplication app(argc, argv);
    QWidget window;
    window.resize(804, 626);
    window.installEventFilter(new FirstPaintReporter(&window, hold));
    window.show();
    return app.exec();
}
