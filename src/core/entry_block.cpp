#include "core/entry_block.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// The smallest buffer a block is given: a few lines' worth.
constexpr qsizetype kSmallest = 1024;

#if defined(__linux__)
// Pages of its own are given in pieces of a huge page, on a huge page's
// bounds, so that the kernel may back them with huge pages.
constexpr qsizetype kHugePage = 2 << 20;
// From this size on, a buffer has pages of its own; a buffer that gathers
// whole blocks (a list on its way to being long) has them sooner.
constexpr qsizetype kMappedSize = 2 << 20;
constexpr qsizetype kGatheringMappedSize = 256 << 10;

qsizetype roundUp(qsizetype size, qsizetype unit)
{
    return (size + unit - 1) / unit * unit;
}

qsizetype pageSize()
{
    static const qsizetype page = qsizetype(::sysconf(_SC_PAGESIZE));
    return page;
}

// `size` bytes of fresh pages, a multiple of kHugePage, starting on a
// multiple of it: mapped that much more than needed, then trimmed.
char* mapHugePages(qsizetype size)
{
    void* pages = ::mmap(nullptr, size_t(size + kHugePage), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        throw std::bad_alloc();
    char* const mapped = static_cast<char*>(pages);
    char* const start = mapped + (kHugePage - qsizetype(quintptr(mapped) % kHugePage)) % kHugePage;
    if (start > mapped)
        ::munmap(mapped, size_t(start - mapped));
    ::munmap(start + size, size_t(mapped + kHugePage - start));
    ::madvise(start, size_t(size), MADV_HUGEPAGE);
    return start;
}
#endif

// The capacity a buffer grows to from `capacity`: twice as much on the heap,
// where growing may copy, half again once it has pages of its own.
qsizetype grown(qsizetype capacity)
{
#if defined(__linux__)
    if (capacity >= kGatheringMappedSize)
        return capacity + capacity / 2;
#endif
    return 2 * capacity;
}

} // namespace

EntryBlock::Buffer::Buffer(Buffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr))
    , capacity_(std::exchange(other.capacity_, 0))
    , ready_(std::exchange(other.ready_, 0))
    , mapped_(std::exchange(other.mapped_, false))
{ }

EntryBlock::Buffer& EntryBlock::Buffer::operator=(Buffer&& other) noexcept
{
    std::swap(data_, other.data_);
    std::swap(capacity_, other.capacity_);
    std::swap(ready_, other.ready_);
    std::swap(mapped_, other.mapped_);
    return *this;
}

EntryBlock::Buffer::~Buffer()
{
    release();
}

void EntryBlock::Buffer::release()
{
#if defined(__linux__)
    if (mapped_)
        ::munmap(data_, size_t(capacity_));
    else
#endif
        std::free(data_);
    data_ = nullptr;
    capacity_ = ready_ = 0;
    mapped_ = false;
}

void EntryBlock::Buffer::resize(qsizetype capacity, qsizetype kept, [[maybe_unused]] bool gathering)
{
    if (capacity == 0) {
        release();
        return;
    }
#if defined(__linux__)
    if (mapped_ && capacity <= capacity_) {
        // Shrinks in place: the pages past the new end go back.
        capacity = roundUp(capacity, pageSize());
        if (capacity < capacity_)
            ::munmap(data_ + capacity, size_t(capacity_ - capacity));
        capacity_ = capacity;
        ready_ = std::min(ready_, capacity);
        return;
    }
    // Once mapped, a buffer stays so.
    if (mapped_ || capacity >= (gathering ? kGatheringMappedSize : kMappedSize)) {
        capacity = roundUp(capacity, kHugePage);
        if (mapped_ && capacity_ % kHugePage == 0) {
            // Grows without a copy: in place when the addresses after it are
            // free, else its pages move, whole, to the start of fresh room.
            if (::mremap(data_, size_t(capacity_), size_t(capacity), 0) != MAP_FAILED) {
                capacity_ = capacity;
                return;
            }
            char* const room = mapHugePages(capacity);
            if (::mremap(data_, size_t(capacity_), size_t(capacity_), MREMAP_MAYMOVE | MREMAP_FIXED, room)
                == MAP_FAILED) {
                ::munmap(room, size_t(capacity));
                throw std::bad_alloc();
            }
            data_ = room;
            capacity_ = capacity;
            return;
        }
        Buffer fresh;
        fresh.data_ = mapHugePages(capacity);
        fresh.capacity_ = capacity;
        fresh.mapped_ = true;
        fresh.prepare(kept);
        if (kept > 0)
            std::memcpy(fresh.data_, data_, size_t(kept));
        *this = std::move(fresh);
        return;
    }
#endif
    void* grown = std::realloc(data_, size_t(capacity));
    if (!grown)
        throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = ready_ = capacity;
}

void EntryBlock::Buffer::prepare([[maybe_unused]] qsizetype end)
{
#if defined(__linux__)
    if (!mapped_ || end <= ready_)
        return;
    const qsizetype to = std::min(capacity_, roundUp(std::max(end, ready_ + 1), kHugePage));
#if defined(MADV_POPULATE_WRITE)
    // Failing (a kernel older than 5.14) only leaves the pages to fault one by one.
    ::madvise(data_ + ready_, size_t(to - ready_), MADV_POPULATE_WRITE);
#endif
    ready_ = to;
#endif
}

EntryBlock::EntryBlock(const EntryBlock& other)
    : wide_(other.wide_)
{
    makeRoom(other.used_, other.count_);
    if (other.used_ > 0)
        std::memcpy(bytes_.data(), other.bytes_.data(), size_t(other.used_));
    if (other.count_ > 0)
        std::memcpy(ends_.data(), other.ends_.data(), size_t(other.count_ * endSize()));
    used_ = other.used_;
    count_ = other.count_;
}

EntryBlock::EntryBlock(EntryBlock&& other) noexcept
    : bytes_(std::move(other.bytes_))
    , used_(std::exchange(other.used_, 0))
    , ends_(std::move(other.ends_))
    , count_(std::exchange(other.count_, 0))
    , bytesRoom_(std::exchange(other.bytesRoom_, 0))
    , endsRoom_(std::exchange(other.endsRoom_, 0))
    , wide_(std::exchange(other.wide_, false))
{ }

EntryBlock& EntryBlock::operator=(const EntryBlock& other)
{
    if (this != &other)
        *this = EntryBlock(other);
    return *this;
}

EntryBlock& EntryBlock::operator=(EntryBlock&& other) noexcept
{
    bytes_ = std::move(other.bytes_);
    ends_ = std::move(other.ends_);
    std::swap(used_, other.used_);
    std::swap(count_, other.count_);
    std::swap(bytesRoom_, other.bytesRoom_);
    std::swap(endsRoom_, other.endsRoom_);
    std::swap(wide_, other.wide_);
    return *this;
}

void EntryBlock::makeRoom(qsizetype end, qsizetype entries, bool gathering)
{
    if (end > kNarrowLimit && !wide_)
        widen();
    if (end > bytes_.capacity())
        bytes_.resize(std::max({end, grown(bytes_.capacity()), kSmallest}), used_, gathering);
    bytes_.prepare(end);
    bytesRoom_ = bytes_.ready();
    const qsizetype endsEnd = entries * endSize();
    if (endsEnd > ends_.capacity())
        ends_.resize(std::max({endsEnd, grown(ends_.capacity()), kSmallest}), count_ * endSize(), gathering);
    ends_.prepare(endsEnd);
    endsRoom_ = ends_.ready() / endSize();
}

void EntryBlock::widen()
{
    Buffer wide;
    wide.resize(std::max(count_ * qsizetype(sizeof(qsizetype)), kSmallest), 0);
    wide.prepare(count_ * qsizetype(sizeof(qsizetype)));
    auto* out = reinterpret_cast<qsizetype*>(wide.data());
    for (qsizetype i = 0; i < count_; ++i)
        out[i] = endOf(i);
    ends_ = std::move(wide);
    wide_ = true;
    endsRoom_ = ends_.ready() / endSize();
}

bool EntryBlock::holds(QByteArrayView bytes) const
{
    const std::less<const char*> before;
    const char* const begin = bytes_.data();
    return !bytes.isEmpty() && begin && !before(bytes.data(), begin) && before(bytes.data(), begin + used_);
}

void EntryBlock::appendGrowing(QByteArrayView first, QByteArrayView second)
{
    // Growing may move the buffer: an entry made of the block's own bytes is copied out first.
    if (holds(first) || holds(second)) {
        append(first.toByteArray(), second.toByteArray());
        return;
    }
    const qsizetype end = used_ + first.size() + second.size();
    makeRoom(end, count_ + 1);
    put(first, second, end);
}

void EntryBlock::append(const EntryBlock& other)
{
    if (other.isEmpty())
        return;
    if (this == &other) {
        append(EntryBlock(other));
        return;
    }
    const qsizetype offset = used_;
    const qsizetype first = count_;
    makeRoom(used_ + other.used_, count_ + other.count_, true);
    if (other.used_ > 0)
        std::memcpy(bytes_.data() + offset, other.bytes_.data(), size_t(other.used_));
    used_ += other.used_;
    count_ += other.count_;
    if (wide_ || other.wide_) {
        for (qsizetype i = 0; i < other.count_; ++i)
            setEnd(first + i, offset + other.endOf(i));
        return;
    }
    // Both narrow, and every end fits in four bytes, as the last does.
    auto* out = reinterpret_cast<quint32*>(ends_.data()) + first;
    const auto* in = reinterpret_cast<const quint32*>(other.ends_.data());
    for (qsizetype i = 0; i < other.count_; ++i)
        out[i] = quint32(offset) + in[i];
}

void EntryBlock::insert(qsizetype i, QByteArrayView entry)
{
    if (holds(entry)) {
        insert(i, entry.toByteArray());
        return;
    }
    const qsizetype start = i == 0 ? 0 : endOf(i - 1);
    const qsizetype length = entry.size();
    append(entry); // room, and one more end, at the back
    char* bytes = bytes_.data();
    std::memmove(bytes + start + length, bytes + start, size_t(used_ - length - start));
    if (length > 0)
        std::memcpy(bytes + start, entry.data(), size_t(length));
    for (qsizetype k = count_ - 1; k > i; --k)
        setEnd(k, endOf(k - 1) + length);
    setEnd(i, start + length);
}

void EntryBlock::remove(qsizetype i)
{
    const qsizetype start = i == 0 ? 0 : endOf(i - 1);
    const qsizetype length = endOf(i) - start;
    char* bytes = bytes_.data();
    if (length > 0)
        std::memmove(bytes + start, bytes + start + length, size_t(used_ - start - length));
    used_ -= length;
    --count_;
    for (qsizetype k = i; k < count_; ++k)
        setEnd(k, endOf(k + 1) - length);
}

void EntryBlock::clear()
{
    *this = EntryBlock();
}

void EntryBlock::squeeze()
{
    bytes_.resize(used_, used_);
    ends_.resize(count_ * endSize(), count_ * endSize());
    bytesRoom_ = bytes_.ready();
    endsRoom_ = ends_.ready() / endSize();
}

QList<QByteArray> EntryBlock::toList() const
{
    QList<QByteArray> list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i).toByteArray());
    return list;
}
