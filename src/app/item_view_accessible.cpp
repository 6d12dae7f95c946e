#include "app/item_view_accessible.h"

#include <QAbstractItemView>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QPointer>

#include <climits>

namespace {

// A caption as it is read: "&Player List" is "Player List", "&&" one '&'.
QString withoutMnemonic(const QString& caption)
{
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size())
            ++i;
        plain.append(caption[i]);
    }
    return plain;
}

// One row of a list or one cell of a grid. It knows its place, not a model
// index: the view's interface moves it when rows or columns come or go.
class ItemAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    ItemAccessible(QAbstractItemView* view, int row, int column, QAccessible::Role role)
        : row(row)
        , column(column)
        , view_(view)
        , role_(role)
    { }

    int row;
    int column;

    QModelIndex index() const
    {
        return view_ && view_->model() ? view_->model()->index(row, column, view_->rootIndex()) : QModelIndex();
    }

    bool isValid() const override { return index().isValid(); }
    // Not an object of its own: events name it by its id.
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return role_; }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this) : nullptr;
    }

    // What the view shows: the model's display text, already through the codec.
    QString text(QAccessible::Text type) const override
    {
        const QModelIndex at = index();
        if (!at.isValid() || (type != QAccessible::Name && type != QAccessible::Value))
            return {};
        return at.data(Qt::DisplayRole).toString();
    }
    void setText(QAccessible::Text, const QString&) override { }

    QRect rect() const override
    {
        const QModelIndex at = index();
        if (!at.isValid())
            return {};
        const QRect shown = view_->visualRect(at) & view_->viewport()->rect();
        return shown.isEmpty() ? QRect() : shown.translated(view_->viewport()->mapToGlobal(QPoint(0, 0)));
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const QModelIndex at = index();
        if (!at.isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.selectable = view_->selectionMode() != QAbstractItemView::NoSelection;
        state.selected = isSelected();
        state.focused = view_->hasFocus() && view_->currentIndex() == at;
        state.active = state.focused;
        state.offscreen = !view_->viewport()->rect().intersects(view_->visualRect(at));
        state.editable = (view_->model()->flags(at) & Qt::ItemIsEditable) != 0;
        return state;
    }

    bool isSelected() const override
    {
        const QModelIndex at = index();
        return at.isValid() && view_->selectionModel() && view_->selectionModel()->isSelected(at);
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column; }
    int rowIndex() const override { return row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    QPointer<QAbstractItemView> view_;
    QAccessible::Role role_;
};

} // namespace

ItemViewAccessible::ItemViewAccessible(QAbstractItemView* view, QAccessible::Role role, QAccessible::Role itemRole)
    : QAccessibleWidget(view, role)
    , itemRole_(itemRole)
{
    const QAbstractItemModel* model = view->model();
    QObject::connect(model, &QAbstractItemModel::rowsInserted, &connections_,
                     [this](const QModelIndex&, int first, int last) { move(true, first, last - first + 1); });
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, &connections_,
                     [this](const QModelIndex&, int first, int last) { move(true, first, first - last - 1); });
    QObject::connect(model, &QAbstractItemModel::columnsInserted, &connections_,
                     [this](const QModelIndex&, int first, int last) { move(false, first, last - first + 1); });
    QObject::connect(model, &QAbstractItemModel::columnsRemoved, &connections_,
                     [this](const QModelIndex&, int first, int last) { move(false, first, first - last - 1); });
    QObject::connect(model, &QAbstractItemModel::modelReset, &connections_, [this] { dropAll(); });
    QObject::connect(model, &QAbstractItemModel::layoutChanged, &connections_, [this] { dropAll(); });
    // Nobody is told anything until something has asked for this interface:
    // a view nobody reads costs nothing as its current item moves.
    const QItemSelectionModel* selection = view->selectionModel();
    QObject::connect(selection, &QItemSelectionModel::currentChanged, &connections_,
                     [this](const QModelIndex& current) { tellCurrent(current); });
    QObject::connect(selection, &QItemSelectionModel::selectionChanged, &connections_,
                     [this](const QItemSelection& selected, const QItemSelection& deselected) {
                         // The first of each, as Qt's views tell it: a whole grid
                         // selected at once is one event, not one a cell.
                         if (!selected.isEmpty())
                             tell(selected.first().topLeft(), QAccessible::SelectionAdd);
                         if (!deselected.isEmpty())
                             tell(deselected.first().topLeft(), QAccessible::SelectionRemove);
                     });
}

ItemViewAccessible::~ItemViewAccessible()
{
    dropAll();
}

QAbstractItemView* ItemViewAccessible::view() const
{
    return static_cast<QAbstractItemView*>(widget());
}

void* ItemViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

// Its own name, or else the caption of the box it sits in.
QString ItemViewAccessible::text(QAccessible::Text type) const
{
    if (type != QAccessible::Name)
        return QAccessibleWidget::text(type);
    if (!view()->accessibleName().isEmpty())
        return withoutMnemonic(view()->accessibleName());
    for (const QWidget* above = view()->parentWidget(); above && !above->isWindow(); above = above->parentWidget())
        if (const auto* box = qobject_cast<const QGroupBox*>(above))
            return withoutMnemonic(box->title());
    return {};
}

int ItemViewAccessible::rowCount() const
{
    return view()->model()->rowCount(view()->rootIndex());
}

int ItemViewAccessible::columnCount() const
{
    return view()->model()->columnCount(view()->rootIndex());
}

int ItemViewAccessible::childCount() const
{
    return int(std::min<qint64>(qint64(rowCount()) * columnCount(), INT_MAX));
}

QAccessibleInterface* ItemViewAccessible::child(int index) const
{
    const int columns = columnCount();
    if (index < 0 || columns == 0)
        return nullptr;
    return cellAt(index / columns, index % columns);
}

QAccessibleInterface* ItemViewAccessible::cellAt(int row, int column) const
{
    if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return nullptr;
    const auto kept = children_.find({row, column});
    if (kept != children_.end())
        return QAccessible::accessibleInterface(kept->second);
    auto* item = new ItemAccessible(view(), row, column, itemRole_);
    children_.emplace(Place{row, column}, QAccessible::registerAccessibleInterface(item));
    return item;
}

int ItemViewAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    // A child knows its place; it is ours when it is the one kept there.
    QAccessibleTableCellInterface* cell = child ? const_cast<QAccessibleInterface*>(child)->tableCellInterface()
                                                : nullptr;
    if (!cell)
        return -1;
    const auto kept = children_.find({cell->rowIndex(), cell->columnIndex()});
    if (kept == children_.end() || QAccessible::accessibleInterface(kept->second) != child)
        return -1;
    return cell->rowIndex() * columnCount() + cell->columnIndex();
}

QAccessibleInterface* ItemViewAccessible::childAt(int x, int y) const
{
    const QModelIndex at = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
    return at.isValid() ? cellAt(at.row(), at.column()) : nullptr;
}

QAccessibleInterface* ItemViewAccessible::focusChild() const
{
    const QModelIndex current = view()->currentIndex();
    return view()->hasFocus() && current.isValid() ? cellAt(current.row(), current.column()) : nullptr;
}

int ItemViewAccessible::selectedCellCount() const
{
    return int(view()->selectionModel()->selectedIndexes().size());
}

QList<QAccessibleInterface*> ItemViewAccessible::selectedCells() const
{
    QList<QAccessibleInterface*> cells;
    for (const QModelIndex& index : view()->selectionModel()->selectedIndexes())
        cells.append(cellAt(index.row(), index.column()));
    return cells;
}

QList<int> ItemViewAccessible::selectedColumns() const
{
    QList<int> columns;
    for (const QModelIndex& index : view()->selectionModel()->selectedColumns())
        columns.append(index.column());
    return columns;
}

QList<int> ItemViewAccessible::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : view()->selectionModel()->selectedRows())
        rows.append(index.row());
    return rows;
}

bool ItemViewAccessible::isColumnSelected(int column) const
{
    return view()->selectionModel()->isColumnSelected(column, view()->rootIndex());
}

bool ItemViewAccessible::isRowSelected(int row) const
{
    return view()->selectionModel()->isRowSelected(row, view()->rootIndex());
}

bool ItemViewAccessible::selectRow(int row)
{
    const QModelIndex index = view()->model()->index(row, 0, view()->rootIndex());
    if (!index.isValid() || view()->selectionMode() == QAbstractItemView::NoSelection)
        return false;
    const bool single = view()->selectionMode() == QAbstractItemView::SingleSelection;
    view()->selectionModel()->select(index,
                                     (single ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Select)
                                         | QItemSelectionModel::Rows);
    return true;
}

bool ItemViewAccessible::selectColumn(int column)
{
    const QModelIndex index = view()->model()->index(0, column, view()->rootIndex());
    if (!index.isValid() || view()->selectionMode() == QAbstractItemView::NoSelection)
        return false;
    view()->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Columns);
    return true;
}

bool ItemViewAccessible::unselectRow(int row)
{
    const QModelIndex index = view()->model()->index(row, 0, view()->rootIndex());
    if (!index.isValid())
        return false;
    view()->selectionModel()->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

bool ItemViewAccessible::unselectColumn(int column)
{
    const QModelIndex index = view()->model()->index(0, column, view()->rootIndex());
    if (!index.isValid())
        return false;
    view()->selectionModel()->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Columns);
    return true;
}

void ItemViewAccessible::move(bool rows, int first, int by)
{
    // Children are ordered by row, so rows at the end touch nothing kept
    // before them; a change of columns looks at every child kept.
    auto at = rows ? children_.lower_bound({first, INT_MIN}) : children_.begin();
    std::map<Place, QAccessible::Id> moved;
    while (at != children_.end()) {
        Place place = at->first;
        const QAccessible::Id id = at->second;
        int& moving = rows ? place.first : place.second;
        if (moving < first) {
            ++at;
            continue;
        }
        at = children_.erase(at);
        if (by < 0 && moving < first - by) {
            QAccessible::deleteAccessibleInterface(id);
            continue;
        }
        // One that was dropped from outside is forgotten here too.
        auto* item = static_cast<ItemAccessible*>(QAccessible::accessibleInterface(id));
        if (!item)
            continue;
        moving += by;
        item->row = place.first;
        item->column = place.second;
        moved.emplace(place, id);
    }
    children_.merge(moved);
}

void ItemViewAccessible::dropAll()
{
    for (const auto& kept : children_)
        QAccessible::deleteAccessibleInterface(kept.second);
    children_.clear();
}

// A screen reader reads the item that takes the focus: with a list in focus,
// Down says the next line.
void ItemViewAccessible::tellCurrent(const QModelIndex& current)
{
    if (view()->hasFocus())
        tell(current, QAccessible::Focus);
}

void ItemViewAccessible::tell(const QModelIndex& index, QAccessible::Event type)
{
    QAccessibleInterface* item = cellAt(index.row(), index.column());
    if (!item)
        return;
    QAccessibleEvent event(item, type);
    QAccessible::updateAccessibility(&event);
}
