#include "core/entry_block.h"

QByteArrayView EntryBlock::at(qsizetype i) const
{
    const qsizetype start = startOf(i);
    return QByteArrayView(bytes_).sliced(start, ends_[i] - start);
}

qsizetype EntryBlock::memoryUsed() const
{
    return bytes_.capacity() + ends_.capacity() * qsizetype(sizeof(qsizetype));
}

void EntryBlock::append(QByteArrayView first, QByteArrayView second)
{
    bytes_.append(first).append(second);
    ends_.append(bytes_.size());
}

void EntryBlock::append(const EntryBlock& other)
{
    const qsizetype offset = bytes_.size();
    bytes_.append(other.bytes_);
    ends_.reserve(ends_.size() + other.ends_.size());
    for (const qsizetype end : other.ends_)
        ends_.append(offset + end);
}

void EntryBlock::insert(qsizetype i, QByteArrayView entry)
{
    const qsizetype start = startOf(i);
    bytes_.insert(start, entry);
    ends_.insert(i, start + entry.size());
    for (qsizetype k = i + 1; k < ends_.size(); ++k)
        ends_[k] += entry.size();
}

void EntryBlock::remove(qsizetype i)
{
    const qsizetype start = startOf(i);
    const qsizetype length = ends_[i] - start;
    bytes_.remove(start, length);
    ends_.removeAt(i);
    for (qsizetype k = i; k < ends_.size(); ++k)
        ends_[k] -= length;
}

void EntryBlock::clear()
{
    bytes_.clear();
    ends_.clear();
}

void EntryBlock::squeeze()
{
    bytes_.squeeze();
    ends_.squeeze();
}

QList<QByteArray> EntryBlock::toList() const
{
    QList<QByteArray> list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i).toByteArray());
    return list;
}
