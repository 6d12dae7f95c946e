#pragma once

// The program's plain-text files: 8-bit text without conversion. A line ends
// at LF or CR LF and the line end is not part of it; a CR that does not end a
// line is dropped and the line goes on after it; a Ctrl+Z byte ends the file.
// Written lines end in CR LF, the last one included.

#include "storage/replacing_file.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

// Reads a text file through its own buffer. Errors raise FileError with the
// file layer's number for the platform's error.
class TextFileReader
{
public:
    TextFileReader();
    ~TextFileReader();

    TextFileReader(const TextFileReader&) = delete;
    TextFileReader& operator=(const TextFileReader&) = delete;

    // Opens `path` for reading, closing any file opened before. Without
    // `followLinks`, a link is not read through (it fails as an invalid name).
    void open(const QString& path, bool followLinks = true);
    bool isOpen() const { return fd_ >= 0; }
    void close();

    // Moves to the first whole line within the last `maxBytes` bytes of the
    // file, so that a long file's end is read without reading all of it. The
    // whole file when it is no longer.
    void skipToLastBytes(qsizetype maxBytes);

    // True when nothing is left before the end of the file or a Ctrl+Z.
    bool atEnd();

    // The next line without its line end, moving past the line end. At the end
    // of the file this is the empty text.
    QByteArray readLine();

    // Moves past the rest of the current line and its line end.
    void skipLine();

    // Skips every byte of code 32 or less (blanks, control characters, line
    // ends), then takes the run of up to `maxLength` bytes above 32 that
    // follows. The empty text when the file ends first.
    QByteArray readWord(qsizetype maxLength);

private:
    void requireOpen() const;
    // Moves past the current line, appending its text to `line` unless null.
    void scanLine(QByteArray* line);
    // Refills the buffer when it is used up; false at the end of the data.
    bool available();

    int fd_ = -1;
    std::unique_ptr<char[]> buffer_;
    qsizetype pos_ = 0;
    qsizetype end_ = 0;
    bool ended_ = false; // end of data or a Ctrl+Z reached
};

// Writes a text file line by line, replacing the file only when every line was
// written (see ReplacingFile). Nothing changes on disk until commit.
class TextFileWriter
{
public:
    // `newFileMode` applies when the file does not exist yet, less the umask.
    explicit TextFileWriter(const QString& path, mode_t newFileMode = 0666, WriteRules rules = {});

    void writeLine(QByteArrayView line);
    void commit();

private:
    ReplacingFile file_;
};
