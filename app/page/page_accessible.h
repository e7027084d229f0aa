#pragma once

class QAccessibleInterface;
class QObject;

namespace mizong {

// A screen reader's view of the page view: a document, named as the window
// names it, whose text can be read and whose links are its children, each
// with its name and a press action. nullptr for any other object.
QAccessibleInterface* pageAccessibleFor(QObject* object);

} // namespace mizong
