#pragma once

class QWidget;

namespace mizong {

// A desktop session that ends (SIGTERM), a terminal's Ctrl+C (SIGINT) or a
// hang-up (SIGHUP) closes `window` as its close button does, so the program
// ends through its normal path and takes the page view's processes with it.
// Returns false when the handlers could not be installed.
bool closeOnTermination(QWidget* window);

} // namespace mizong
