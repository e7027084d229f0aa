// The program's own start, up to the window's first paint.
#include "application.h"
#include "first_paint.h"
#include "main_window.h"

int main(int argc, char* argv[])
{
    return mizong::runApplication(argc, argv, [](mizong::Form1& window) {
        window.installEventFilter(new FirstPaintReporter(&window));
    });
}
