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

    int ColCount() const { return colCount_; }
    int RowCount() const { return rowCount_; }
    void SetColCount(int count);
    void SetRowCount(int count);
    QByteArray Cell(int col, int row) const;
    void SetCell(int col, int row, const QByteArray& text);

private:
    int colCount_ = 1;
    int rowCount_ = 1;
    // Column by column; may hold more than the counts show.
    QList<QList<QByteArray>> cells_;
};

class TStringGrid : public QTableView, public GridSource, public GridTarget
{
public:
    explicit TStringGrid(QWidget* parent = nullptr);

    int ColCount() const override { return model_->ColCount(); }
    int RowCount() const override { return model_->RowCount(); }
    QByteArray Cell(int col, int row) const override { return model_->Cell(col, row); }
    void SetColCount(int count) override;
    void SetRowCount(int count) override { model_->SetRowCount(count); }
    void SetCell(int col, int row, const QByteArray& text) override { model_->SetCell(col, row, text); }

    // The cells of one row, in column order.
    QList<QByteArray> Row(int row) const;

    void SetDefaultColWidth(int width);
    void SetDefaultRowHeight(int height);

private:
    StringGridModel* model_;
    int defaultColWidth_ = 64;
};
