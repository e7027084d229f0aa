#pragma once

#include <functional>

namespace mizong {

// The environment the page view's engine reads when it starts; must run
// before any thread or Qt object exists.
void prepareEnvironment();

class Form1;

// The program's whole start: environment, application, window, event loop.
// `onWindow` (for probes) sees the window before it is shown.
int runApplication(int argc, char* argv[], const std::function<void(Form1&)>& onWindow = {});

} // namespace mizong
