#include "webview_module.h"

#include <QWebEngineView>

extern "C" Q_DECL_EXPORT QWidget* mizong_create_web_view(QWidget* parent)
{
    return new QWebEngineView(parent);
}
