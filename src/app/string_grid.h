#pragma once

// An editable grid of 8-bit cells with settable column and row counts. Cells
// that a smaller count takes off the grid keep their text and show it again
// when the count grows back.

#include "storage/grid_file.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>
#include <QTableView>

class StringGridModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int colCount() const { return colCount_; }
    void setColCount(int count);
    void setRowCount(int count);
    QByteArray cell(int col, int row) const;
    void setCell(int col, int row, const QByteArray& text);

private:
    int colCount_ = 1;
    int rowCount_ = 1;
    // Column by column; may hold more than the counts show.
    QList<QList<QByteArray>> cells_;
};

class StringGrid : public QTableView, public GridSource, public GridTarget
{
    Q_OBJECT

public:
    explicit StringGrid(QWidget* parent = nullptr);

    int colCount() const override { return model_->colCount(); }
    int rowCount() const override { return model_->rowCount(); }
    QByteArray cell(int col, int row) const override { return model_->cell(col, row); }
    void setColCount(int count) override;
    void setRowCount(int count) override { model_->setRowCount(count); }
    void setCell(int col, int row, const QByteArray& text) override { model_->setCell(col, row, text); }

    // The cells of one row, in column order.
    QList<QByteArray> row(int row) const;

    void setDefaultColWidth(int width);
    void setDefaultRowHeight(int height);

protected:
    // The grid's accessible interface tells of the current cell and the
    // selection itself (app/item_view_accessible.h). QTableView's own events
    // number the cells as if the hidden headers were there, and list every
    // selected cell to find the first.
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    StringGridModel* model_;
    int defaultColWidth_ = 64;
};
