#pragma once

// Typed errors that carry the system's own 8-bit message. A handler that does
// not catch one lets it reach the application's error box.

#include <QByteArray>
#include <QString>

#include <exception>

class ERavelinError : public std::exception
{
public:
    explicit ERavelinError(QByteArray message);
    const QByteArray& Message() const { return message_; }
    const char* what() const noexcept override { return message_.constData(); }

private:
    QByteArray message_;
};

// A failure of the client socket component.
class ESocketError : public ERavelinError
{
public:
    using ERavelinError::ERavelinError;
};

// A text that does not convert to a number.
class EConvertError : public ERavelinError
{
public:
    using ERavelinError::ERavelinError;
};

// A file operation that failed, with its error number.
class EInOutError : public ERavelinError
{
public:
    explicit EInOutError(int errorCode);
    int ErrorCode() const { return errorCode_; }

    // The message shown for an error number: "File not found" for 2, ...,
    // "I/O error %d" for a number without a message of its own.
    static QByteArray MessageFor(int errorCode);

private:
    int errorCode_;
};

// Error numbers of the file layer that are not platform numbers.
namespace io_error {
inline constexpr int FileNotFound = 2;
inline constexpr int InvalidFilename = 3;
inline constexpr int TooManyOpenFiles = 4;
inline constexpr int AccessDenied = 5;
inline constexpr int ReadBeyondEnd = 100;
inline constexpr int DiskFull = 101;
inline constexpr int InvalidNumericInput = 106;
// Any other failure of the device or the system: no error of its own says more.
inline constexpr int GeneralFailure = 31;

// Translates a POSIX errno into the file layer's error number; an errno
// without a counterpart becomes GeneralFailure, never a number that means
// something else (EIO is 5, which here would say "File access denied").
int FromErrno(int posixErrno);
} // namespace io_error

// The text of the application's error box: the message, with a full stop
// appended when its last character sorts after ".".
QByteArray ErrorBoxText(const QByteArray& message);

// The application's title: the executable's file name without its directory,
// cut at the first ".".
QString ApplicationTitle(const QString& executablePath);
