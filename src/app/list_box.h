#pragma once

// A list box of 8-bit entries: single selection, an item height of 13, and,
// when sorted, entries kept in ascending byte order of the whole text. It
// shows at most the first 4 KiB of an entry, always as plain text (a tooltip
// included: a server's bytes are never read as markup); the entry itself is
// kept whole, with the others in one buffer.
//
// Every row is as high as the next, so the view finds a row's place by
// multiplying and lays nothing out per row: a list of a million lines costs it
// no more than one of ten. (A QListView lays every row out again whenever rows
// are added, which freezes the window once a list is long.)

#include "core/entry_block.h"

#include <QAbstractItemView>
#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QTimer>

#include <functional>
#include <optional>

class ListModel : public QAbstractListModel
{
public:
    explicit ListModel(bool sorted, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Every entry, including those not yet shown.
    const EntryBlock& entries() const { return entries_; }
    void append(const EntryBlock& entries);
    void clear();
    void remove(int index);
    // Shows the entries appended since the last showing.
    void flush();
    // The list is complete: every entry shows now, and the spare room that
    // growing left is given back.
    void finish();
    // A row's tooltip from `toolTip`, when it gives one; the line itself otherwise.
    void setToolTipFor(std::function<QString(QByteArrayView line)> toolTip) { toolTipFor_ = std::move(toolTip); }

private:
    bool sorted_;
    std::function<QString(QByteArrayView line)> toolTipFor_;
    EntryBlock entries_;
    // Rows the views know of. A long reply arrives in many reads, and
    // repainting the list for each would be wasted, so new rows are shown at
    // most every 50 ms until the list is complete.
    int shown_ = 0;
    QTimer cooldown_;
};

class ListBox : public QAbstractItemView
{
    Q_OBJECT

public:
    explicit ListBox(bool sorted, QWidget* parent = nullptr);

    const EntryBlock& entries() const { return model_->entries(); }
    // A copy of every entry, for a test or a small list.
    QList<QByteArray> items() const { return entries().toList(); }
    int count() const { return int(entries().size()); }
    // The selected entry's index, or -1.
    int selectedIndex() const;
    void setSelectedIndex(int index);
    // The selected entry, or nothing.
    std::optional<QByteArray> selectedItem() const;

    void append(const EntryBlock& entries) { model_->append(entries); }
    void append(const QList<QByteArray>& entries);
    void finish() { model_->finish(); }
    // Asks `toolTip` for each row's tooltip when it is shown; an empty answer
    // shows the line itself. Either is shown as plain text.
    void setToolTipFor(std::function<QString(QByteArrayView line)> toolTip)
    {
        model_->setToolTipFor(std::move(toolTip));
    }
    void clear() { model_->clear(); }
    // Removes one entry. When it was the selected one, nothing is selected
    // after: the selection never moves on to a line the user did not choose.
    void remove(int index);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    int sizeHintForRow(int row) const override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

private:
    int rows() const { return model_->rowCount(); }
    // The first row shown: the vertical scroll bar counts rows, not pixels.
    int topRow() const;
    // Rows that fit whole in the viewport, at least one.
    int rowsInView() const;
    // Repaints after rows came or went: the scroll bar's range and the rows in view.
    void rowsChanged();

    ListModel* model_;
};
