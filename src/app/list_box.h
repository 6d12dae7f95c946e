#pragma once

// A list box of 8-bit entries: single selection, an item height of 13, and,
// when sorted, entries kept in ascending byte order of the whole text. It
// shows at most the first 4 KiB of an entry, always as plain text; the entry
// itself is kept whole.

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
    const QList<QByteArray>& items() const { return items_; }
    void append(const QList<QByteArray>& entries);
    void clear();
    void remove(int index);
    // Shows the entries appended since the last showing.
    void flush();

private:
    bool sorted_;
    QList<QByteArray> items_;
    // Rows the views know of. A long reply arrives in many reads; showing
    // each read's entries at once would lay the whole list out again every
    // time, so new rows are shown at most every 50 ms.
    int shown_ = 0;
    QTimer cooldown_;
};

class ListBox : public QListView
{
    Q_OBJECT

public:
    explicit ListBox(bool sorted, QWidget* parent = nullptr);

    const QList<QByteArray>& items() const { return model_->items(); }
    int count() const { return int(items().size()); }
    // The selected entry's index, or -1.
    int selectedIndex() const;
    void setSelectedIndex(int index);
    // The selected entry, or nothing.
    std::optional<QByteArray> selectedItem() const;

    void append(const QList<QByteArray>& entries) { model_->append(entries); }
    void clear() { model_->clear(); }
    // Removes one entry. When it was the selected one, nothing is selected
    // after: the selection never moves on to a line the user did not choose.
    void remove(int index);

private:
    ListModel* model_;
};
