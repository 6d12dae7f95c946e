#include "core/errors.h"

#include <QFileInfo>

#include <cerrno>

RavelinError::RavelinError(QByteArray message)
    : message_(std::move(message))
{ }

FileError::FileError(int code)
    : RavelinError(messageFor(code))
    , code_(code)
{ }

FileError::FileError(int code, QByteArray message)
    : RavelinError(std::move(message))
    , code_(code)
{ }

FileRefused::FileRefused(QByteArray message)
    : FileError(file_error::AccessDenied, std::move(message))
{ }

QByteArray FileError::messageFor(int code)
{
    switch (code) {
    case file_error::FileNotFound: return "File not found";
    case file_error::InvalidFilename: return "Invalid filename";
    case file_error::TooManyOpenFiles: return "Too many open files";
    case file_error::AccessDenied: return "File access denied";
    case file_error::ReadBeyondEnd: return "Read beyond end of file";
    case file_error::DiskFull: return "Disk full";
    case file_error::InvalidNumericInput: return "Invalid numeric input";
    default: return "I/O error " + QByteArray::number(code);
    }
}

int file_error::fromErrno(int posixErrno)
{
    switch (posixErrno) {
    case ENOENT: return FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return InvalidFilename;
    case EMFILE:
    case ENFILE: return TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return AccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return DiskFull;
    default: return GeneralFailure;
    }
}

QByteArray errorBoxText(const QByteArray& message)
{
    if (!message.isEmpty() && static_cast<unsigned char>(message.back()) > '.')
        return message + '.';
    return message;
}

QString applicationTitle(const QString& executablePath)
{
    const QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}
