#include "app/list_box.h"

#include "app/text_codec.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int kItemHeight = 13;

// A line's tooltip. Escaped, markup in it shows as the bytes it is made of;
// a long line is broken into rows of at most 100 characters, at a blank where
// there is one in a row's second half, so that even a 4 KiB word fits the
// screen.
QString toolTipFor(const QString& line)
{
    constexpr qsizetype kRowLength = 100;
    QStringList rows;
    QStringView rest(line);
    while (rest.size() > kRowLength) {
        qsizetype cut = rest.first(kRowLength + 1).lastIndexOf(u' ') + 1;
        if (cut <= kRowLength / 2)
            cut = rest.at(kRowLength - 1).isHighSurrogate() ? kRowLength - 1 : kRowLength;
        rows.append(rest.first(cut).toString().toHtmlEscaped());
        rest = rest.sliced(cut);
    }
    rows.append(rest.toString().toHtmlEscaped());
    return QStringLiteral("<p style='white-space:pre'>") + rows.join(QStringLiteral("<br>")) + QStringLiteral("</p>");
}

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
    if (role == Qt::ToolTipRole) {
        const QByteArrayView line = entries_.at(index.row());
        const QString own = toolTipFor_ ? toolTipFor_(line) : QString();
        return toolTipFor(own.isEmpty() ? toDisplayLine(line) : own);
    }
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
    : QAbstractItemView(parent)
    , model_(new ListModel(sorted, this))
{
    setModel(model_);
    setItemDelegate(new QStyledItemDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideNone);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &ListBox::rowsChanged);
    connect(model_, &QAbstractItemModel::modelReset, this, &ListBox::rowsChanged);
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

int ListBox::topRow() const
{
    return verticalScrollBar()->value();
}

int ListBox::rowsInView() const
{
    return std::max(1, viewport()->height() / kItemHeight);
}

void ListBox::rowsChanged()
{
    updateGeometries();
    viewport()->update();
}

QRect ListBox::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != model_)
        return {};
    // As wide as the view, as a list box's rows are.
    return {0, (index.row() - topRow()) * kItemHeight, viewport()->width(), kItemHeight};
}

void ListBox::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid() || index.model() != model_)
        return;
    const int row = index.row();
    const int top = topRow();
    const int inView = rowsInView();
    switch (hint) {
    case EnsureVisible:
        if (row < top)
            verticalScrollBar()->setValue(row);
        else if (row >= top + inView)
            verticalScrollBar()->setValue(row - inView + 1);
        break;
    case PositionAtTop: verticalScrollBar()->setValue(row); break;
    case PositionAtBottom: verticalScrollBar()->setValue(row - inView + 1); break;
    case PositionAtCenter: verticalScrollBar()->setValue(row - inView / 2); break;
    }
}

QModelIndex ListBox::indexAt(const QPoint& point) const
{
    if (point.y() < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return {};
    const qint64 row = qint64(topRow()) + point.y() / kItemHeight;
    return row < rows() ? model_->index(int(row)) : QModelIndex();
}

int ListBox::sizeHintForRow(int) const
{
    return kItemHeight;
}

QModelIndex ListBox::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int count = rows();
    if (count == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model_->index(0);
    int row = current.row();
    switch (action) {
    case MoveUp:
    case MovePrevious: --row; break;
    case MoveDown:
    case MoveNext: ++row; break;
    case MovePageUp: row -= rowsInView(); break;
    case MovePageDown: row += rowsInView(); break;
    case MoveHome: row = 0; break;
    case MoveEnd: row = count - 1; break;
    case MoveLeft:
    case MoveRight: break; // one column: nothing to either side
    }
    return model_->index(std::clamp(row, 0, count - 1));
}

int ListBox::horizontalOffset() const
{
    return 0;
}

int ListBox::verticalOffset() const
{
    return topRow() * kItemHeight;
}

bool ListBox::isIndexHidden(const QModelIndex&) const
{
    return false;
}

void ListBox::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    const QRect area = rect.normalized();
    const int count = rows();
    const int first = topRow() + std::max(0, area.top()) / kItemHeight;
    const int last = std::min(count - 1, topRow() + std::max(0, area.bottom()) / kItemHeight);
    if (count == 0 || first > last || area.bottom() < 0) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    selectionModel()->select(QItemSelection(model_->index(first), model_->index(last)), command);
}

QRegion ListBox::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    const int top = topRow();
    const int bottom = top + rowsInView();
    for (const QItemSelectionRange& range : selection) {
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first <= last)
            region += QRect(0, (first - top) * kItemHeight, viewport()->width(), (last - first + 1) * kItemHeight);
    }
    return region;
}

void ListBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    const bool enabled = state & QStyle::State_Enabled;
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QItemSelectionModel* selections = selectionModel();

    const QRect area = event->rect();
    const int top = topRow();
    const int first = top + std::max(0, area.top()) / kItemHeight;
    const int last = std::min(rows() - 1, top + std::max(0, area.bottom()) / kItemHeight);
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model_->index(row);
        option.rect = visualRect(index);
        option.state = state;
        if (selections->isSelected(index))
            option.state |= QStyle::State_Selected;
        // As QListView paints them: a selected row keeps its colour in a window not active.
        if (enabled)
            option.palette.setCurrentColorGroup(QPalette::Normal);
        if (focus && index == current)
            option.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

void ListBox::updateGeometries()
{
    const int inView = rowsInView();
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(inView);
    verticalScrollBar()->setRange(0, std::max(0, rows() - inView));
    QAbstractItemView::updateGeometries();
}

void ListBox::scrollContentsBy(int, int dy)
{
    viewport()->scroll(0, dy * kItemHeight);
}

void ListBox::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    // Rows added below the view change only the scroll bar.
    if (start <= topRow() + rowsInView())
        viewport()->update();
}
