#include "app/accessibility.h"

#include "app/item_view_accessible.h"
#include "app/list_box.h"
#include "app/string_grid.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QWidget>

namespace {

// The application with its open popups after its windows. A popup is a
// window of its own, but Qt leaves popups out of the application's children
// and no widget lists a menu among its own; without this, a screen reader
// walking the tree never finds a context menu or its items.
class ApplicationAccessible : public QAccessibleApplication
{
public:
    int childCount() const override { return QAccessibleApplication::childCount() + int(popups().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows)
            return QAccessibleApplication::child(index);
        return QAccessible::queryAccessibleInterface(popups().value(index - windows));
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const int window = QAccessibleApplication::indexOfChild(child);
        if (window >= 0 || !child)
            return window;
        const qsizetype popup = popups().indexOf(qobject_cast<QWidget*>(child->object()));
        return popup < 0 ? -1 : QAccessibleApplication::childCount() + int(popup);
    }

private:
    static QList<QWidget*> popups()
    {
        QList<QWidget*> shown;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->windowType() == Qt::Popup && window->isVisible())
                shown.append(window);
        return shown;
    }
};

QAccessibleInterface* ravelinAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("ListBox"))
        return new ItemViewAccessible(static_cast<ListBox*>(object), QAccessible::List, QAccessible::ListItem);
    if (className == QLatin1String("StringGrid"))
        return new ItemViewAccessible(static_cast<StringGrid*>(object), QAccessible::Table, QAccessible::Cell);
    if (className == QLatin1String("QApplication") && object == qApp)
        return new ApplicationAccessible;
    // A window of its own made from a plain widget (the Player History, the
    // Fleet) is a window to a screen reader, not a filler inside one.
    if (className == QLatin1String("PlayerHistoryWindow") || className == QLatin1String("FleetWindow"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    QAccessible::installFactory(ravelinAccessible);
}
