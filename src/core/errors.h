#pragma once

// Typed errors that carry the system's own 8-bit message. A handler that does
// not catch one lets it reach the application's error box.

#include <QByteArray>
#include <QString>

#include <exception>

class RavelinError : public std::exception
{
public:
    explicit RavelinError(QByteArray message);
    const QByteArray& message() const { return message_; }
    const char* what() const noexcept override { return message_.constData(); }

private:
    QByteArray message_;
};

// A failure of the client socket.
class SocketError : public RavelinError
{
public:
    using RavelinError::RavelinError;
};

// A text that does not convert to a number.
class ConvertError : public RavelinError
{
public:
    using RavelinError::RavelinError;
};

// A file operation that failed, with its error number.
class FileError : public RavelinError
{
public:
    explicit FileError(int code);
    int code() const { return code_; }

    // The message shown for an error number: "File not found" for 2, ...,
    // "I/O error %d" for a number without a message of its own.
    static QByteArray messageFor(int code);

protected:
    FileError(int code, QByteArray message);

private:
    int code_;
};

// A save refused before a byte was written, for a reason the number alone
// would not tell (a link that leads to another user's file, a file another
// window holds): access denied, with the reason as its message.
class FileRefused : public FileError
{
public:
    explicit FileRefused(QByteArray message);
};

// The file layer's error numbers, the same whatever system the program runs on.
namespace file_error {
inline constexpr int FileNotFound = 2;
inline constexpr int InvalidFilename = 3;
inline constexpr int TooManyOpenFiles = 4;
inline constexpr int AccessDenied = 5;
// Any other failure of the device or the system: no error of its own says more.
inline constexpr int GeneralFailure = 31;
inline constexpr int ReadBeyondEnd = 100;
inline constexpr int DiskFull = 101;
inline constexpr int FileNotOpen = 103;
inline constexpr int InvalidNumericInput = 106;

// Translates a POSIX errno into the file layer's error number; an errno
// without a counterpart becomes GeneralFailure, never a number that means
// something else (EIO is 5, which here would say "File access denied").
int fromErrno(int posixErrno);
} // namespace file_error

// The text of the application's error box: the message, with a full stop
// appended when its last character sorts after ".".
QByteArray errorBoxText(const QByteArray& message);

// The application's title: the executable's file name without its directory,
// cut at the first ".".
QString applicationTitle(const QString& executablePath);
