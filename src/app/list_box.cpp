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
    cooldown_.setSingleShot(true);
    cooldown_.setInterval(50);
    connect(&cooldown_, &QTimer::timeout, this, &ListBoxModel::Flush);
}

int ListBoxModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown_;
}

QVariant ListBoxModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= shown_)
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
        items_.append(entries);
        // The first batch shows at once; batches during the cooldown wait for its end.
        if (!cooldown_.isActive()) {
            Flush();
            cooldown_.start();
        }
        return;
    }
    Flush();
    for (const QByteArray& entry : entries) {
        // After any equal entries, so equal texts keep their order of arrival.
        const int at = int(std::upper_bound(items_.begin(), items_.end(), entry) - items_.begin());
        beginInsertRows({}, at, at);
        items_.insert(at, entry);
        ++shown_;
        endInsertRows();
    }
}

void ListBoxModel::Flush()
{
    if (shown_ == items_.size())
        return;
    beginInsertRows({}, shown_, int(items_.size()) - 1);
    shown_ = int(items_.size());
    endInsertRows();
}

void ListBoxModel::Clear()
{
    if (items_.isEmpty())
        return;
    beginResetModel();
    items_.clear();
    shown_ = 0;
    endResetModel();
}

void ListBoxModel::Delete(int index)
{
    Flush();
    if (index < 0 || index >= items_.size())
        return;
    beginRemoveRows({}, index, index);
    items_.removeAt(index);
    --shown_;
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
    model_->Flush();
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
