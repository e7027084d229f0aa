#include "accessibility.h"

#include "form_controls.h"
#include "page_accessible.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace mizong {

namespace {

// The help link: a link with a press action while it shows a caption; an
// empty caption is no link at all.
class LinkLabelAccessible final : public QAccessibleWidget
{
public:
    explicit LinkLabelAccessible(LinkLabel* label) : QAccessibleWidget(label, QAccessible::Link) {}

    QAccessible::Role role() const override
    {
        return isLink() ? QAccessible::Link : QAccessible::StaticText;
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return label()->text();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = isLink();
        return state;
    }

    QStringList actionNames() const override
    {
        return isLink() ? QStringList{pressAction()} : QStringList{};
    }

    void doAction(const QString& actionName) override
    {
        if (actionName == pressAction() && isLink())
            label()->activate();
    }

    QStringList keyBindingsForAction(const QString& actionName) const override
    {
        if (actionName == pressAction() && isLink())
            return {QStringLiteral("F1")};
        return {};
    }

private:
    LinkLabel* label() const { return static_cast<LinkLabel*>(widget()); }
    bool isLink() const { return !label()->text().isEmpty(); }
};

// The application's windows as a reader lists them: only those that reach
// the screen (a window without a native one would be listed as an empty
// top-level window beside the real one).
class ApplicationAccessible final : public QAccessibleApplication
{
public:
    int childCount() const override { return int(windows().size()); }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? int(windows().indexOf(child->object())) : -1;
    }

    QAccessibleInterface* child(int index) const override
    {
        const QObjectList list = windows();
        if (index < 0 || index >= list.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(list.at(index));
    }

private:
    static QObjectList windows()
    {
        QObjectList list;
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (window->type() == Qt::Popup || window->type() == Qt::Desktop || !window->handle())
                continue;
            if (QAccessibleInterface* root = window->accessibleRoot(); root && root->object())
                list.append(root->object());
        }
        return list;
    }
};

QAccessibleInterface* interfaceFor(const QString& className, QObject* object)
{
    if (object == qApp && className == QLatin1StringView("QApplication"))
        return new ApplicationAccessible;
    if (className == QLatin1StringView("mizong::PageBrowser"))
        return pageAccessibleFor(object);
    if (className == QLatin1StringView("mizong::LinkLabel"))
        return new LinkLabelAccessible(static_cast<LinkLabel*>(object));
    // A top-level widget is otherwise a "client" area, which screen readers
    // list as a filler instead of the application's window.
    if (className == QLatin1StringView("mizong::Form1"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

void installAccessibleInterfaces()
{
    static const bool installed = [] {
        QAccessible::installFactory(interfaceFor);
        return true;
    }();
    Q_UNUSED(installed);
}

void announce(QWidget* source, const QString& text)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QAccessibleAnnouncementEvent event(source, text);
#else
    // Before Qt 6.8 an alert from the label is how a reader learns of it.
    Q_UNUSED(text);
    QAccessibleEvent event(source, QAccessible::Alert);
#endif
    QAccessible::updateAccessibility(&event);
}

} // namespace mizong
