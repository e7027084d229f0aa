#pragma once

#include <functional>

namespace mizong {

class Form1;

// The process-wide set-up every window of the program relies on: fonts and
// accessibility. Once, after the application object exists and before any window
// is made; runApplication() calls it, and so does every program that makes a
// window of its own (tests, probes).
void prepareApplication();

// The program's whole start: environment, application, window, event loop.
// `onWindow` (for probes) sees the window before it is shown.
int runApplication(int argc, char* argv[], const std::function<void(Form1&)>& onWindow = {});

} // namespace mizong
