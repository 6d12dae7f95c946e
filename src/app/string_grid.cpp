#include "app/string_grid.h"

#include "app/text_codec.h"

#include <QHeaderView>

int StringGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rowCount_;
}

int StringGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : colCount_;
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return toDisplay(cell(index.column(), index.row()));
}

bool StringGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    setCell(index.column(), index.row(), toBytes(value.toString()));
    return true;
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const
{
    return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
}

void StringGridModel::setColCount(int count)
{
    count = std::max(count, 1);
    if (count == colCount_)
        return;
    if (count > colCount_) {
        beginInsertColumns({}, colCount_, count - 1);
        colCount_ = count;
        endInsertColumns();
    } else {
        beginRemoveColumns({}, count, colCount_ - 1);
        colCount_ = count;
        endRemoveColumns();
    }
}

void StringGridModel::setRowCount(int count)
{
    count = std::max(count, 1);
    if (count == rowCount_)
        return;
    if (count > rowCount_) {
        beginInsertRows({}, rowCount_, count - 1);
        rowCount_ = count;
        endInsertRows();
    } else {
        beginRemoveRows({}, count, rowCount_ - 1);
        rowCount_ = count;
        endRemoveRows();
    }
}

QByteArray StringGridModel::cell(int col, int row) const
{
    if (col < 0 || col >= cells_.size() || row < 0 || row >= cells_[col].size())
        return {};
    return cells_[col][row];
}

void StringGridModel::setCell(int col, int row, const QByteArray& text)
{
    if (col < 0 || row < 0)
        return;
    if (col >= cells_.size())
        cells_.resize(col + 1);
    if (row >= cells_[col].size())
        cells_[col].resize(row + 1);
    cells_[col][row] = text;
    if (col < colCount_ && row < rowCount_) {
        const QModelIndex at = index(row, col);
        emit dataChanged(at, at);
    }
}

StringGrid::StringGrid(QWidget* parent)
    : QTableView(parent)
    , model_(new StringGridModel(this))
{
    setModel(model_);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);
}

void StringGrid::setColCount(int count)
{
    model_->setColCount(count);
    for (int c = 0; c < model_->colCount(); ++c)
        setColumnWidth(c, defaultColWidth_);
}

QList<QByteArray> StringGrid::row(int row) const
{
    QList<QByteArray> cells;
    for (int c = 0; c < colCount(); ++c)
        cells.append(cell(c, row));
    return cells;
}

void StringGrid::setDefaultColWidth(int width)
{
    defaultColWidth_ = width;
    horizontalHeader()->setDefaultSectionSize(width);
    for (int c = 0; c < model_->colCount(); ++c)
        setColumnWidth(c, width);
}

void StringGrid::setDefaultRowHeight(int height)
{
    verticalHeader()->setMinimumSectionSize(height);
    verticalHeader()->setDefaultSectionSize(height);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

void StringGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QAbstractItemView::currentChanged(current, previous);
}

void StringGrid::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected);
}
