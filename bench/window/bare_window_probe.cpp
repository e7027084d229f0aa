// A bare Qt widget window of the same size: the yardstick for start-up.
#include "first_paint.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(804, 626);
    window.installEventFilter(new FirstPaintReporter(&window));
    window.show();
    return app.exec();
}
