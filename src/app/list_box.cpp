#include "app/list_box.h"

#include "app/text_codec.h"

#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int kItemHeight = 13;

class FixedHeightDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight};
    }
};

} // namespace

ListBoxModel::ListBoxModel(bool sorted, QObject* parent)
    : QAbstractListModel(parent)
    , sorted_(sorted)
{
}

int ListBoxModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(items_.size());
}

QVariant ListBoxModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= items_.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return ToDisplayLine(items_[index.row()]); // the entry itself is kept whole
    return {};
}

void ListBoxModel::Append(const QList<QByteArray>& entries)
{
    if (entries.isEmpty())
        return;
    if (!sorted_) {
        const int first = int(items_.size());
        beginInsertRows({}, first, first + int(entries.size()) - 1);
        items_.append(entries);
        endInsertRows();
        return;
    }
    for (const QByteArray& entry : entries) {
        // After any equal entries, so equal texts keep their order of arrival.
        const int at = int(std::upper_bound(items_.begin(), items_.end(), entry) - items_.begin());
        beginInsertRows({}, at, at);
        items_.insert(at, entry);
        endInsertRows();
    }
}

void ListBoxModel::Clear()
{
    if (items_.isEmpty())
        return;
    beginResetModel();
    items_.clear();
    endResetModel();
}

void ListBoxModel::Delete(int index)
{
    if (index < 0 || index >= items_.size())
        return;
    beginRemoveRows({}, index, index);
    items_.removeAt(index);
    endRemoveRows();
}

TListBox::TListBox(bool sorted, QWidget* parent)
    : QListView(parent)
    , model_(new ListBoxModel(sorted, this))
{
    setModel(model_);
    setItemDelegate(new FixedHeightDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideNone);
}

int TListBox::ItemIndex() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TListBox::SetItemIndex(int index)
{
    if (index < 0 || index >= Count()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex at = model_->index(index);
    selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
}

void TListBox::Delete(int index)
{
    const bool wasSelected = index == ItemIndex();
    model_->Delete(index);
    if (wasSelected) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    }
}
