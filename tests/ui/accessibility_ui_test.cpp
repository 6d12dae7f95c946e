// What a screen reader finds in the window: each list box as a list of its
// lines, the line under the cursor told as the focus moves, rows made only
// when read and gone with their line, and the lists' menu with its items.

#include "app/accessibility.h"
#include "app/item_view_accessible.h"
#include "app/list_box.h"
#include "app/string_grid.h"
#include "window_fixture.h"

#include <QAccessible>
#include <QAccessibleBridge>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {

// The names of the items that took the focus, as the events told them.
QStringList focusedItems;

// Plays the screen reader's bridge. Without a reader, Qt hands a view's
// events to the bridges it loaded rather than to an update handler, so the
// test is loaded as one, as the AT-SPI bridge would be.
class RecordingBridge : public QAccessibleBridge
{
public:
    void setRootObject(QAccessibleInterface*) override { }
    void notifyAccessibilityUpdate(QAccessibleEvent* event) override
    {
        if (event->type() != QAccessible::Focus)
            return;
        if (QAccessibleInterface* item = event->accessibleInterface(); item && item->role() == QAccessible::ListItem)
            focusedItems.append(item->text(QAccessible::Name));
    }
};

} // namespace

class RecordingBridgePlugin : public QAccessibleBridgePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QAccessibleBridgeFactoryInterface_iid FILE "recording_bridge.json")

public:
    // Qt keeps the bridges it makes to the end and never deletes them.
    QAccessibleBridge* create(const QString&) override
    {
        static RecordingBridge bridge;
        return &bridge;
    }
};

Q_IMPORT_PLUGIN(RecordingBridgePlugin)

namespace {

class AccessibilityTest : public WindowTest
{
protected:
    static void SetUpTestSuite() { installAccessibility(); }

    QAccessibleInterface& accessible(QWidget& widget)
    {
        QAccessibleInterface* found = QAccessible::queryAccessibleInterface(&widget);
        if (!found)
            throw std::runtime_error("no accessible interface");
        return *found;
    }

    // Shows the page that holds `list` and gives the list the focus.
    void focus(ListBox& list, const char* page)
    {
        window().show();
        control<QTabWidget>("pages").setCurrentWidget(&control<QWidget>(page));
        window().activateWindow();
        list.setFocus();
        ASSERT_TRUE(WaitUntil([&] { return list.hasFocus(); }));
    }
};

struct ListCase
{
    const char* list;
    const char* page;
    const char* name;
};

TEST_F(AccessibilityTest, EachListReadsAsItsLinesAndTellsTheLineUnderTheCursor)
{
    const ListCase cases[] = {
        {"playerList", "playersPage", "Player List"},
        {"banList", "bansPage", "Ban List"},
        {"localMapList", "mapsPage", "Local Maps"},
        {"rotationList", "mapsPage", "Server Map Rotation"},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.list);
        ListBox& box = list(c.list);
        box.clear();
        // The player list sorts: these are in byte order already.
        box.append(QList<QByteArray>{"a first", "b caf\xE9 \x80", "c third", "d fourth"});
        box.finish();
        QAccessibleInterface& view = accessible(box);
        EXPECT_EQ(view.role(), QAccessible::List);
        EXPECT_EQ(view.text(QAccessible::Name), QLatin1String(c.name));
        ASSERT_EQ(view.childCount(), 4);
        EXPECT_EQ(view.child(1)->role(), QAccessible::ListItem);
        EXPECT_EQ(view.child(1)->text(QAccessible::Name), QStringLiteral("b caf\u00E9 \u20AC"));
        EXPECT_TRUE(view.child(3)->state().selectable);

        focus(box, c.page);
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint(5, 13 + 6));
        EXPECT_TRUE(view.child(1)->state().selected);
        EXPECT_TRUE(view.child(1)->state().focused);
        focusedItems.clear();
        QTest::keyClick(&box, Qt::Key_Down);
        EXPECT_FALSE(view.child(1)->state().selected);
        EXPECT_TRUE(view.child(2)->state().selected);
        EXPECT_TRUE(view.child(2)->state().focused);
        EXPECT_EQ(focusedItems, QStringList{QStringLiteral("c third")});
    }
}

TEST_F(AccessibilityTest, RowsAreMadeWhenReadAndGoWithTheirLines)
{
    ListBox& box = list("banList");
    EntryBlock lines;
    for (int i = 0; i < 1000000; ++i)
        lines.append(QByteArray::number(i));
    box.append(lines);
    box.finish();
    auto& view = dynamic_cast<ItemViewAccessible&>(accessible(box));
    ASSERT_EQ(view.childCount(), 1000000);
    EXPECT_EQ(view.keptChildren(), 0);
    EXPECT_EQ(view.child(999999)->text(QAccessible::Name), QLatin1String("999999"));
    EXPECT_EQ(view.keptChildren(), 1);

    // A line taken away before a row moves the row; its own, or a clear, drops it.
    QAccessibleInterface* row = view.child(5);
    const QAccessible::Id id = QAccessible::uniqueId(row);
    box.remove(2);
    EXPECT_EQ(view.child(4), row);
    EXPECT_EQ(view.indexOfChild(row), 4);
    EXPECT_EQ(row->text(QAccessible::Name), QLatin1String("5"));
    box.remove(4);
    EXPECT_EQ(QAccessible::accessibleInterface(id), nullptr);
    EXPECT_EQ(view.child(4)->text(QAccessible::Name), QLatin1String("6"));
    const QAccessible::Id last = QAccessible::uniqueId(view.child(999997));
    box.clear();
    EXPECT_EQ(QAccessible::accessibleInterface(last), nullptr);
    EXPECT_EQ(view.keptChildren(), 0);
    EXPECT_EQ(view.childCount(), 0);

    // The grid's cells, the same way: rows added at its end move none.
    auto& grid = control<StringGrid>("announcementGrid");
    QAccessibleInterface& table = accessible(grid);
    EXPECT_EQ(table.role(), QAccessible::Table);
    QAccessibleInterface* second = table.child(1);
    EXPECT_EQ(second->role(), QAccessible::Cell);
    EXPECT_EQ(second->text(QAccessible::Name), QLatin1String("second"));
    grid.setRowCount(grid.rowCount() + 1);
    EXPECT_EQ(table.child(1), second);
}

TEST_F(AccessibilityTest, AListsMenuIsInTheTreeWithItsItemsWhileOpen)
{
    ListBox& box = list("playerList");
    focus(box, "playersPage");
    QAccessibleInterface* application = QAccessible::queryAccessibleInterface(qApp);
    const int windows = application->childCount();
    QStringList items;
    // The menu runs its own loop; it is read and closed from inside it.
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        if (application->childCount() == windows + 1) {
            QAccessibleInterface* shown = application->child(windows);
            EXPECT_EQ(shown->role(), QAccessible::PopupMenu);
            EXPECT_EQ(application->indexOfChild(shown), windows);
            for (int i = 0; i < shown->childCount(); ++i)
                items.append(shown->child(i)->text(QAccessible::Name));
        }
        menu->close();
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), box.viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(box.viewport(), &click);
    EXPECT_EQ(
        items,
        (QStringList{QStringLiteral("Copy All"), QStringLiteral("Save As..."), QStringLiteral("Player History...")}));
    EXPECT_TRUE(WaitUntil([&] { return application->childCount() == windows; }));
}

} // namespace

#include "accessibility_ui_test.moc"
