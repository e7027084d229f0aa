#pragma once

#include <functional>

namespace mizong {

// What the page view's engine is spared. Everything is on in the program; the
// memory benchmark turns one off at a time to show what it saves.
struct PageEngineSavings
{
    // No GL driver in the program: the window and the page both draw in software.
    bool withoutGlDriver = true;
    // No idle zygote kept for helpers outside the sandbox: the page starts none.
    bool withoutUnsandboxedZygote = true;
};

// The environment the page view's engine reads when it starts; must run
// before any thread or Qt object exists.
void prepareEnvironment(const PageEngineSavings& savings = {});

class Form1;

// The process-wide set-up every window of the program relies on: fonts,
// accessibility, application attributes and the page engine's GL share
// context. Once, after the application object exists and before any window
// is made; runApplication() calls it, and so does every program that makes a
// window of its own (tests, probes).
void prepareApplication();

// The program's whole start: environment, application, window, event loop.
// `onWindow` (for probes) sees the window before it is shown.
int runApplication(int argc, char* argv[], const std::function<void(Form1&)>& onWindow = {},
                   const PageEngineSavings& savings = {});

} // namespace mizong
