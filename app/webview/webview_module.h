#pragma once

class QWidget;

// The page view module's one entry point: creates a web page view inside
// `parent`. Resolved by name at run time, so it has C linkage.
extern "C" {
using CreateWebViewFunction = QWidget* (*)(QWidget* parent);
}
inline constexpr const char* kCreateWebViewSymbol = "mizong_create_web_view";
