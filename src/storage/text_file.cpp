#include "storage/text_file.h"

#include "core/errors.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kBufferSize = 64 * 1024;
constexpr char kCtrlZ = '\x1A';

// Appends [begin, end) to `line` without its CR bytes.
void appendWithoutCr(QByteArray& line, const char* begin, const char* end)
{
    while (begin < end) {
        const auto* cr = static_cast<const char*>(memchr(begin, '\r', static_cast<size_t>(end - begin)));
        const char* stop = cr ? cr : end;
        line.append(begin, stop - begin);
        begin = cr ? cr + 1 : end;
    }
}

} // namespace

TextFileReader::TextFileReader()
    : buffer_(new char[kBufferSize])
{ }

TextFileReader::~TextFileReader()
{
    close();
}

void TextFileReader::open(const QString& path, bool followLinks)
{
    close();
    const QByteArray nativePath = QFile::encodeName(path);
    if (nativePath.isEmpty())
        throw FileError(file_error::fromErrno(ENOENT));
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        throw FileError(file_error::fromErrno(errno));
    fd_ = fd;
}

void TextFileReader::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    pos_ = 0;
    end_ = 0;
    ended_ = false;
}

void TextFileReader::skipToLastBytes(qsizetype maxBytes)
{
    requireOpen();
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        throw FileError(file_error::fromErrno(errno));
    const off_t start = std::max<off_t>(st.st_size - maxBytes, 0);
    // A line that began before `start` is not whole: the line feed before it says whether it did.
    char before = '\n';
    if (start > 0 && ::pread(fd_, &before, 1, start - 1) < 0)
        throw FileError(file_error::fromErrno(errno));
    if (::lseek(fd_, start, SEEK_SET) < 0)
        throw FileError(file_error::fromErrno(errno));
    pos_ = 0;
    end_ = 0;
    ended_ = false;
    if (before != '\n')
        skipLine();
}

void TextFileReader::requireOpen() const
{
    if (fd_ < 0)
        throw FileError(file_error::FileNotOpen);
}

bool TextFileReader::available()
{
    if (ended_)
        return false;
    if (pos_ < end_)
        return true;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.get(), kBufferSize);
        if (got > 0) {
            pos_ = 0;
            end_ = got;
            return true;
        }
        if (got == 0) {
            ended_ = true;
            return false;
        }
        if (errno != EINTR)
            throw FileError(file_error::fromErrno(errno));
    }
}

bool TextFileReader::atEnd()
{
    requireOpen();
    if (!available())
        return true;
    if (buffer_[pos_] == kCtrlZ) {
        ended_ = true;
        return true;
    }
    return false;
}

QByteArray TextFileReader::readLine()
{
    QByteArray line;
    scanLine(&line);
    return line;
}

void TextFileReader::skipLine()
{
    scanLine(nullptr);
}

void TextFileReader::scanLine(QByteArray* line)
{
    requireOpen();
    while (available()) {
        const char* begin = buffer_.get() + pos_;
        const char* stop = buffer_.get() + end_;
        const auto* lf = static_cast<const char*>(memchr(begin, '\n', static_cast<size_t>(stop - begin)));
        const char* lineEnd = lf ? lf : stop;
        const auto* ctrlZ = static_cast<const char*>(memchr(begin, kCtrlZ, static_cast<size_t>(lineEnd - begin)));
        if (ctrlZ) {
            if (line)
                appendWithoutCr(*line, begin, ctrlZ);
            pos_ = ctrlZ - buffer_.get();
            ended_ = true;
            return;
        }
        if (line)
            appendWithoutCr(*line, begin, lineEnd);
        if (lf) {
            pos_ = lf + 1 - buffer_.get();
            return;
        }
        pos_ = end_;
    }
}

QByteArray TextFileReader::readWord(qsizetype maxLength)
{
    requireOpen();
    for (;;) {
        if (!available())
            return {};
        const auto c = static_cast<unsigned char>(buffer_[pos_]);
        if (c == kCtrlZ) {
            ended_ = true;
            return {};
        }
        if (c > ' ')
            break;
        ++pos_;
    }
    QByteArray word;
    while (word.size() < maxLength && available()) {
        const char c = buffer_[pos_];
        if (static_cast<unsigned char>(c) <= ' ')
            break; // a Ctrl+Z included: the next read sees it
        word.append(c);
        ++pos_;
    }
    return word;
}

TextFileWriter::TextFileWriter(const QString& path, mode_t newFileMode, WriteRules rules)
    : file_(path, newFileMode, rules)
{ }

void TextFileWriter::writeLine(QByteArrayView line)
{
    file_.write(line);
    file_.write("\r\n");
}

void TextFileWriter::commit()
{
    file_.commit();
}
