#pragma once

// A list box of 8-bit entries: single selection, an item height of 13, and,
// when sorted, entries kept in ascending byte order of the whole text. It
// shows at most the first 4 KiB of an entry, always as plain text (a tooltip
// included: a server's bytes are never read as markup); the entry itself is
// kept whole, with the others in one buffer.

#include "core/entry_block.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QListView>
#include <QTimer>

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

private:
    bool sorted_;
    EntryBlock entries_;
    // Rows the views know of. A long reply arrives in many reads; showing
    // each read's entries at once would lay the list out again every time,
    // so new rows are shown at most every 50 ms until the list is complete.
    int shown_ = 0;
    QTimer cooldown_;
};

class ListBox : public QListView
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
    void clear() { model_->clear(); }
    // Removes one entry. When it was the selected one, nothing is selected
    // after: the selection never moves on to a line the user did not choose.
    void remove(int index);

private:
    ListModel* model_;
};
