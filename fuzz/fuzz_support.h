#pragma once

// What the fuzz targets share: a check that stops the run with a readable
// message (the fuzzer then keeps the input as a reproducer), a private scratch
// file for the targets that read files, and a way to stretch a small input
// across the file reader's buffer boundary.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

namespace fuzz {

// Bytes as a C string literal would show them, so that a failure names its text.
inline QByteArray escaped(QByteArrayView bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"')
            out += '\\' + QByteArray(1, c);
        else if (u >= 0x20 && u < 0x7f)
            out += c;
        else
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
    }
    return '"' + out + '"';
}

[[noreturn]] inline void fail(const char* condition, const char* file, int line, const QByteArray& detail)
{
    std::fprintf(stderr, "\n==== invariant violated: %s\n     at %s:%d\n", condition, file, line);
    if (!detail.isEmpty())
        std::fprintf(stderr, "     %s\n", detail.constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz

// Stops the run when `condition` is false; the optional detail (a QByteArray)
// says what was seen.
#define FUZZ_CHECK(condition, ...)                                                                                     \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::fuzz::fail(#condition, __FILE__, __LINE__, QByteArray(__VA_ARGS__));                                     \
    } while (0)

namespace fuzz {

// One file in a directory of its own, rewritten for every input and removed
// at exit. The directory lies in $TMPDIR (scripts/fuzz points it at memory).
class ScratchFile
{
public:
    explicit ScratchFile(const char* name)
    {
        const char* tmp = std::getenv("TMPDIR");
        QByteArray pattern = QByteArray(tmp && *tmp ? tmp : "/tmp") + "/ravelin-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        dir_ = pattern;
        path_ = dir_ + '/' + name;
    }

    ~ScratchFile()
    {
        // The file layer may leave nothing else here, so an empty directory is
        // the proof that it cleaned up after itself.
        ::unlink(path_.constData());
        ::rmdir(dir_.constData());
    }

    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    QString path() const { return QString::fromLocal8Bit(path_); }
    const QByteArray& nativePath() const { return path_; }

    void write(QByteArrayView bytes) const
    {
        const int fd = ::open(path_.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            std::perror("open scratch file");
            std::abort();
        }
        const char* p = bytes.data();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                std::perror("write scratch file");
                std::abort();
            }
            p += n;
            left -= n;
        }
        ::close(fd);
    }

    QByteArray read() const
    {
        QByteArray data;
        const int fd = ::open(path_.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return data;
        char chunk[16 * 1024];
        ssize_t n;
        while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
            data.append(chunk, n);
        ::close(fd);
        return data;
    }

    // How many entries the scratch directory holds besides "." and "..".
    int directoryEntries() const
    {
        DIR* dir = ::opendir(dir_.constData());
        if (!dir)
            return -1;
        int count = 0;
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ++count;
        }
        ::closedir(dir);
        return count;
    }

private:
    QByteArray dir_;
    QByteArray path_;
};

// The text-file reader works through a buffer of this size; a file that
// crosses it makes the reader refill in the middle of a line, a word or a
// CR LF pair.
inline constexpr qsizetype kReaderBufferSize = 64 * 1024;

// Chosen from the last bytes of an input: whether to stretch the file, and
// how. A stretched file is the input with a run of one filler byte inserted
// at a chosen place, long enough that the buffer boundary falls a chosen
// number of bytes after it.
class Stretch
{
public:
    static Stretch consume(FuzzedDataProvider& input)
    {
        Stretch s;
        const auto mode = input.ConsumeIntegral<uint8_t>();
        s.enabled_ = (mode & 7) == 7;
        if (s.enabled_) {
            // Text, blanks that words skip, and CRs that lines drop. Not line
            // feeds: 64 Ki lines make a run slow and reach nothing new.
            static constexpr char kFillers[] = {'a', ' ', '\r'};
            s.filler_ = kFillers[input.ConsumeIntegral<uint8_t>() % 3];
            s.past_ = input.ConsumeIntegral<uint8_t>();
            s.at_ = input.ConsumeIntegral<uint16_t>();
        }
        return s;
    }

    QByteArray apply(QByteArray content) const
    {
        if (!enabled_)
            return content;
        const qsizetype at = at_ % (content.size() + 1);
        const qsizetype fill = kReaderBufferSize - at - past_;
        if (fill > 0)
            content.insert(at, QByteArray(fill, filler_));
        return content;
    }

private:
    bool enabled_ = false;
    char filler_ = 'a';
    qsizetype past_ = 0;
    qsizetype at_ = 0;
};

inline QByteArray remainingBytes(FuzzedDataProvider& input)
{
    const std::vector<char> rest = input.ConsumeRemainingBytes<char>();
    return QByteArray(rest.data(), static_cast<qsizetype>(rest.size()));
}

} // namespace fuzz
