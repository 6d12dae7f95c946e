#include "app/list_box.h"

#include "app/text_codec.h"

#include <QStyledItemDelegate>

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
    if (role == Qt::DisplayRole)
        return toDisplayLine(entries_.at(index.row()));
    // A tooltip reads markup when it looks like some; escaped, it shows the bytes.
    if (role == Qt::ToolTipRole)
        return QStringLiteral("<p style='white-space:pre'>") + toDisplayLine(entries_.at(index.row())).toHtmlEscaped()
            + QStringLiteral("</p>");
    return {};
}

void ListModel::append(const EntryBlock& entries)
{
    if (entries.isEmpty())
        return;
    if (!sorted_) {
        entries_.append(entries);
        // The first batch shows at once; batches during the cooldown wait for its end.
        if (!cooldown_.isActive()) {
            flush();
            cooldown_.start();
        }
        return;
    }
    flush();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QByteArrayView entry = entries.at(i);
        // After any equal entries, so equal texts keep their order of arrival.
        qsizetype low = 0;
        qsizetype high = entries_.size();
        while (low < high) {
            const qsizetype middle = (low + high) / 2;
            if (entry < entries_.at(middle))
                high = middle;
            else
                low = middle + 1;
        }
        beginInsertRows({}, int(low), int(low));
        entries_.insert(low, entry);
        ++shown_;
        endInsertRows();
    }
}

void ListModel::flush()
{
    if (shown_ == entries_.size())
        return;
    beginInsertRows({}, shown_, int(entries_.size()) - 1);
    shown_ = int(entries_.size());
    endInsertRows();
}

void ListModel::finish()
{
    cooldown_.stop();
    flush();
    entries_.squeeze();
}

void ListModel::clear()
{
    cooldown_.stop();
    if (entries_.isEmpty())
        return;
    beginResetModel();
    entries_.clear();
    shown_ = 0;
    endResetModel();
}

void ListModel::remove(int index)
{
    flush();
    if (index < 0 || index >= entries_.size())
        return;
    beginRemoveRows({}, index, index);
    entries_.remove(index);
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
    return entries().at(index).toByteArray();
}

void ListBox::append(const QList<QByteArray>& entries)
{
    EntryBlock block;
    for (const QByteArray& entry : entries)
        block.append(entry);
    model_->append(block);
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
