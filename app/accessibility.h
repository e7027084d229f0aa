#pragma once

#include <QString>

class QWidget;

namespace mizong {

// Makes the window's own controls speak for themselves to screen readers:
// the window is a frame named by its title, the help link under the verdict
// is a link that can be pressed, and the application lists only windows that
// reach the screen. Call it right after the application object is made,
// before a reader can have asked for anything. Safe to call more than once.
void installAccessibleInterfaces();

// Tells a screen reader of a change the user did not move to, such as a new
// verdict: a label's own name change is read only when it has the focus.
void announce(QWidget* source, const QString& text);

} // namespace mizong
