#pragma once

// The entries of a list held as one buffer: every entry's bytes one after the
// other, and where each ends. A list of a million short lines then costs its
// bytes and one offset a line, not an allocation a line.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

class EntryBlock
{
public:
    qsizetype size() const { return ends_.size(); }
    bool isEmpty() const { return ends_.isEmpty(); }
    // Entry `i`, exactly as it came, valid until the block changes.
    QByteArrayView at(qsizetype i) const;
    // The bytes of all entries: what the block holds beyond its offsets.
    qsizetype byteCount() const { return bytes_.size(); }
    // Memory the block holds, its spare capacity included.
    qsizetype memoryUsed() const;

    // Appends an entry made of `first` followed directly by `second`.
    void append(QByteArrayView first, QByteArrayView second = {});
    void append(const EntryBlock& other);
    void insert(qsizetype i, QByteArrayView entry);
    void remove(qsizetype i);
    void clear();
    // Gives back the spare capacity that growing left behind.
    void squeeze();

    QList<QByteArray> toList() const;

private:
    qsizetype startOf(qsizetype i) const { return i == 0 ? 0 : ends_[i - 1]; }

    QByteArray bytes_;
    QList<qsizetype> ends_;
};
