#pragma once

// What a screen reader sees of a list box or a string grid: a list (or a
// table) whose children are its rows (or cells), each with the text the view
// shows, and focus and selection events as the current item moves.
//
// A child is made only when something asks for it, and kept, under its row
// and column, until its row or column goes or the view is emptied: a list of
// a million lines costs nothing here until a line is read. Rows that come or
// go move only the children kept after them, so a view that grows or shrinks
// at its end costs nothing per row either. (Qt's own item-view interface
// rebuilds every child it keeps, each holding a persistent model index, on
// every change of rows: once a reader has read a long table, each row added
// or taken away costs as much as the whole table.)

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QAccessibleWidget>
#include <QObject>

#include <map>
#include <utility>

class QAbstractItemView;

class ItemViewAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    // `role` is the view's (List or Table), `itemRole` its children's (ListItem or Cell).
    ItemViewAccessible(QAbstractItemView* view, QAccessible::Role role, QAccessible::Role itemRole);
    ~ItemViewAccessible() override;

    QAbstractItemView* view() const;
    // The children made so far, for a test or a benchmark.
    qsizetype keptChildren() const { return children_.size(); }

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return int(selectedColumns().size()); }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override;
    QList<int> selectedRows() const override;
    bool isColumnSelected(int column) const override;
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int column) override;
    bool unselectRow(int row) override;
    bool unselectColumn(int column) override;
    // The model's own signals keep the children right, whether or not a
    // reader is listening; the view's change events add nothing.
    void modelChange(QAccessibleTableModelChangeEvent*) override { }

private:
    using Place = std::pair<int, int>; // row, column

    // Moves the children kept at or after `first` (a row or a column) by `by`,
    // first dropping those in [first, first - by) when `by` is negative.
    void move(bool rows, int first, int by);
    void dropAll();
    void tellCurrent(const QModelIndex& current);
    void tell(const QModelIndex& index, QAccessible::Event event);

    QAccessible::Role itemRole_;
    mutable std::map<Place, QAccessible::Id> children_;
    // Holds the connections to the model and the selection; they end with this.
    QObject connections_;
};
