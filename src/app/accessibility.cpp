#include "app/accessibility.h"

#include "app/item_view_accessible.h"
#include "app/list_box.h"
#include "app/string_grid.h"

namespace {

QAccessibleInterface* ravelinAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("ListBox"))
        return new ItemViewAccessible(static_cast<ListBox*>(object), QAccessible::List, QAccessible::ListItem);
    if (className == QLatin1String("StringGrid"))
        return new ItemViewAccessible(static_cast<StringGrid*>(object), QAccessible::Table, QAccessible::Cell);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    QAccessible::installFactory(ravelinAccessible);
}
