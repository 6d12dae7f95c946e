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

ListModel::ListModel(bool sorted, QObject* parent)
    : QAbstractListModel(parent)
    , sorted_(sorted)
{
    cooldown_.setSingleShot(true);
    cooldown_.setInterval(50);
    connect(&cooldown_, &QTimer::timeout, this, &ListModel::flush);
}

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown_;
}

QVariant ListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= shown_)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return toDisplayLine(items_[index.row()]); // the entry itself is kept whole
    return {};
}

void ListModel::append(const QList<QByteArray>& entries)
{
    if (entries.isEmpty())
        return;
    if (!sorted_) {
        items_.append(entries);
        // The first batch shows at once; batches during the cooldown wait for its end.
        if (!cooldown_.isActive()) {
            flush();
            cooldown_.start();
        }
        return;
    }
    flush();
    for (const QByteArray& entry : entries) {
        // After any equal entries, so equal texts keep their order of arrival.
        const int at = int(std::upper_bound(items_.begin(), items_.end(), entry) - items_.begin());
        beginInsertRows({}, at, at);
        items_.insert(at, entry);
        ++shown_;
        endInsertRows();
    }
}

void ListModel::flush()
{
    if (shown_ == items_.size())
        return;
    beginInsertRows({}, shown_, int(items_.size()) - 1);
    shown_ = int(items_.size());
    endInsertRows();
}

void ListModel::clear()
{
    if (items_.isEmpty())
        return;
    beginResetModel();
    items_.clear();
    shown_ = 0;
    endResetModel();
}

void ListModel::remove(int index)
{
    flush();
    if (index < 0 || index >= items_.size())
        return;
    beginRemoveRows({}, index, index);
    items_.removeAt(index);
    --shown_;
    endRemoveRows();
}

ListBox::ListBox(bool sorted, QWidget* parent)
    : QListView(parent)
    , model_(new ListModel(sorted, this))
{
    setModel(model_);
    setItemDelegate(new FixedHeightDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideNone);
}

int ListBox::selectedIndex() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void ListBox::setSelectedIndex(int index)
{
    model_->flush();
    if (index < 0 || index >= count()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex at = model_->index(index);
    selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
}

std::optional<QByteArray> ListBox::selectedItem() const
{
    const int index = selectedIndex();
    if (index < 0)
        return std::nullopt;
    return items()[index];
}

void ListBox::remove(int index)
{
    const bool wasSelected = index == selectedIndex();
    model_->remove(index);
    if (wasSelected) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    }
}
