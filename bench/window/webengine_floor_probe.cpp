// The web engine's own floor: a program that only shows the announcement page
// in a QWebEngineView, set up as Qt's documentation asks. Prints "loaded".
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWebEngineView view;
    view.resize(369, 221);
    QObject::connect(&view, &QWebEngineView::loadFinished, [](bool) {
        std::puts("loaded");
        std::fflush(stdout);
    });
    view.load(QUrl(QStringLiteral(MIZONG_ANNOUNCEMENT_URL)));
    view.show();
    return app.exec();
}
