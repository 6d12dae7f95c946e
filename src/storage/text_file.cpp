#include "storage/text_file.h"

#include "core/errors.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qsizetype kBufferSize = 64 * 1024;
constexpr char kCtrlZ = '\x1A';
// The number the file layer reports for an operation on a file that is not open.
constexpr int kFileNotOpen = 103;

// Appends [begin, end) to `line` without its CR bytes.
void AppendWithoutCr(QByteArray& line, const char* begin, const char* end)
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
    Close();
}

void TextFileReader::Open(const QString& path)
{
    Close();
    const QByteArray nativePath = QFile::encodeName(path);
    if (nativePath.isEmpty())
        throw EInOutError(io_error::FromErrno(ENOENT));
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EInOutError(io_error::FromErrno(errno));
    fd_ = fd;
}

void TextFileReader::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    pos_ = 0;
    end_ = 0;
    ended_ = false;
}

void TextFileReader::RequireOpen() const
{
    if (fd_ < 0)
        throw EInOutError(kFileNotOpen);
}

bool TextFileReader::Available()
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
            throw EInOutError(io_error::FromErrno(errno));
    }
}

bool TextFileReader::AtEnd()
{
    RequireOpen();
    if (!Available())
        return true;
    if (buffer_[pos_] == kCtrlZ) {
        ended_ = true;
        return true;
    }
    return false;
}

QByteArray TextFileReader::ReadLine()
{
    QByteArray line;
    ScanLine(&line);
    return line;
}

void TextFileReader::SkipLine()
{
    ScanLine(nullptr);
}

void TextFileReader::ScanLine(QByteArray* line)
{
    RequireOpen();
    while (Available()) {
        const char* begin = buffer_.get() + pos_;
        const char* stop = buffer_.get() + end_;
        const auto* lf = static_cast<const char*>(memchr(begin, '\n', static_cast<size_t>(stop - begin)));
        const char* lineEnd = lf ? lf : stop;
        const auto* ctrlZ = static_cast<const char*>(memchr(begin, kCtrlZ, static_cast<size_t>(lineEnd - begin)));
        if (ctrlZ) {
            if (line)
                AppendWithoutCr(*line, begin, ctrlZ);
            pos_ = ctrlZ - buffer_.get();
            ended_ = true;
            return;
        }
        if (line)
            AppendWithoutCr(*line, begin, lineEnd);
        if (lf) {
            pos_ = lf + 1 - buffer_.get();
            return;
        }
        pos_ = end_;
    }
}

QByteArray TextFileReader::ReadWord(qsizetype maxLength)
{
    RequireOpen();
    for (;;) {
        if (!Available())
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
    while (word.size() < maxLength && Available()) {
        const char c = buffer_[pos_];
        if (static_cast<unsigned char>(c) <= ' ')
            break; // a Ctrl+Z included: the next read sees it
        word.append(c);
        ++pos_;
    }
    return word;
}

TextFileWriter::TextFileWriter(const QString& path, mode_t newFileMode)
    : file_(path, newFileMode)
{ }

void TextFileWriter::WriteLine(QByteArrayView line)
{
    file_.Write(line);
    file_.Write("\r\n");
}

void TextFileWriter::Commit()
{
    file_.Commit();
}
