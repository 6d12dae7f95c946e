#pragma once

// The entries of a list held as one buffer: every entry's bytes one after the
// other, and where each ends. A list of a million short lines then costs its
// bytes and four bytes a line, not an allocation a line.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstring>
#include <limits>

class EntryBlock
{
public:
    EntryBlock() = default;
    EntryBlock(const EntryBlock& other);
    EntryBlock(EntryBlock&& other) noexcept;
    EntryBlock& operator=(const EntryBlock& other);
    EntryBlock& operator=(EntryBlock&& other) noexcept;
    ~EntryBlock() = default;

    qsizetype size() const { return count_; }
    bool isEmpty() const { return count_ == 0; }
    // Entry `i`, exactly as it came, valid until the block changes.
    QByteArrayView at(qsizetype i) const
    {
        const qsizetype start = i == 0 ? 0 : endOf(i - 1);
        return QByteArrayView(bytes_.data() + start, endOf(i) - start);
    }
    // The bytes of all entries: what the block holds beyond its offsets.
    qsizetype byteCount() const { return used_; }
    // Memory the block holds, its spare capacity included.
    qsizetype memoryUsed() const { return bytes_.capacity() + ends_.capacity(); }

    // Appends an entry made of `first` followed directly by `second`.
    void append(QByteArrayView first, QByteArrayView second = {})
    {
        const qsizetype end = used_ + first.size() + second.size();
        if (end > bytesRoom_ || count_ == endsRoom_ || (end > kNarrowLimit && !wide_)) {
            appendGrowing(first, second);
            return;
        }
        put(first, second, end);
    }
    void append(const EntryBlock& other);
    void insert(qsizetype i, QByteArrayView entry);
    void remove(qsizetype i);
    // Empties the block and gives back its memory.
    void clear();
    // Empties the block but keeps its memory for the entries that come next,
    // already touched: a block filled again and again (one for each read)
    // then costs no fresh pages.
    void clearKeepingRoom()
    {
        used_ = 0;
        count_ = 0;
    }
    // Gives back the spare capacity that growing left behind.
    void squeeze();

    QList<QByteArray> toList() const;

private:
    // Storage that grows. Small buffers live on the heap. Large ones get
    // pages of their own, which the kernel may back with huge pages, and are
    // readied many pages at a time: touched one by one, fresh pages cost a
    // fault each, dear in a virtual machine, where a list of a million lines
    // would wait on them longer than on everything else.
    class Buffer
    {
    public:
        Buffer() = default;
        Buffer(const Buffer&) = delete;
        Buffer& operator=(const Buffer&) = delete;
        Buffer(Buffer&& other) noexcept;
        Buffer& operator=(Buffer&& other) noexcept;
        ~Buffer();

        char* data() const { return data_; }
        qsizetype capacity() const { return capacity_; }
        // Bytes from the start that are readied: the whole of a heap buffer.
        qsizetype ready() const { return ready_; }
        // Gives the buffer room for `capacity` bytes, keeping the first
        // `kept`. A buffer `gathering` whole blocks gets pages of its own sooner.
        void resize(qsizetype capacity, qsizetype kept, bool gathering = false);
        // Readies at least the first `end` bytes.
        void prepare(qsizetype end);

    private:
        void release();

        char* data_ = nullptr;
        qsizetype capacity_ = 0;
        qsizetype ready_ = 0;
        bool mapped_ = false;
    };

    // Ends take four bytes while they fit; a block that grows past this keeps
    // eight bytes an end from then on.
    static constexpr qsizetype kNarrowLimit = std::numeric_limits<quint32>::max();

    qsizetype endSize() const { return wide_ ? qsizetype(sizeof(qsizetype)) : qsizetype(sizeof(quint32)); }
    qsizetype endOf(qsizetype i) const
    {
        if (wide_)
            return reinterpret_cast<const qsizetype*>(ends_.data())[i];
        return reinterpret_cast<const quint32*>(ends_.data())[i];
    }
    void setEnd(qsizetype i, qsizetype end)
    {
        if (wide_)
            reinterpret_cast<qsizetype*>(ends_.data())[i] = end;
        else
            reinterpret_cast<quint32*>(ends_.data())[i] = quint32(end);
    }
    // Makes room for bytes up to `end` and for `entries` entries, growing by
    // half again so that appending stays linear, widening the ends when they
    // need it.
    void makeRoom(qsizetype end, qsizetype entries, bool gathering = false);
    void widen();
    void appendGrowing(QByteArrayView first, QByteArrayView second);
    bool holds(QByteArrayView bytes) const;
    // List lines are mostly short, and copied inline they cost less than a
    // call to memcpy: 16 bytes from each end and the middle, overlapping.
    static void copy(char* out, QByteArrayView bytes)
    {
        const char* in = bytes.data();
        const qsizetype size = bytes.size();
        if (size < 16 || size > 64) {
            if (size > 0)
                std::memcpy(out, in, size_t(size));
            return;
        }
        std::memcpy(out, in, 16);
        std::memcpy(out + size - 16, in + size - 16, 16);
        if (size > 32) {
            std::memcpy(out + 16, in + 16, 16);
            std::memcpy(out + size - 32, in + size - 32, 16);
        }
    }
    // Writes an entry into room that is there.
    void put(QByteArrayView first, QByteArrayView second, qsizetype end)
    {
        char* out = bytes_.data() + used_;
        copy(out, first);
        copy(out + first.size(), second);
        used_ = end;
        setEnd(count_++, end);
    }

    Buffer bytes_;
    qsizetype used_ = 0;
    Buffer ends_;
    qsizetype count_ = 0;
    // How far bytes and ends may be written without asking the buffers first.
    qsizetype bytesRoom_ = 0;
    qsizetype endsRoom_ = 0;
    bool wide_ = false;
};
