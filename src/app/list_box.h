#pragma once

// A list box of 8-bit entries: single selection, an item height of 13, and,
// when sorted, entries kept in ascending byte order of the whole text.

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QListView>
#include <QTimer>

class ListBoxModel : public QAbstractListModel
{
public:
    explicit ListBoxModel(bool sorted, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Every entry, including those not yet shown.
    const QList<QByteArray>& Items() const { return items_; }
    void Append(const QList<QByteArray>& entries);
    void Clear();
    void Delete(int index);
    // Shows the entries appended since the last showing.
    void Flush();

private:
    bool sorted_;
    QList<QByteArray> items_;
    // Rows the views know of. A long reply arrives in many reads; showing
    // each read's entries at once would lay the whole list out again every
    // time, so new rows are shown at most every 50 ms.
    int shown_ = 0;
    QTimer cooldown_;
};

class TListBox : public QListView
{
public:
    explicit TListBox(bool sorted, QWidget* parent = nullptr);

    const QList<QByteArray>& Items() const { return model_->Items(); }
    int Count() const { return int(Items().size()); }
    // The selected entry's index, or -1.
    int ItemIndex() const;
    void SetItemIndex(int index);

    void Add(const QByteArray& entry) { model_->Append({entry}); }
    void Append(const QList<QByteArray>& entries) { model_->Append(entries); }
    void Clear() { model_->Clear(); }
    // Removes one entry. When it was the selected one, nothing is selected
    // after: the selection never moves on to a line the user did not choose.
    void Delete(int index);

private:
    ListBoxModel* model_;
};
