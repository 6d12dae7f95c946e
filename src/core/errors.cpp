#include "core/errors.h"

#include <QFileInfo>

#include <cerrno>

ERavelinError::ERavelinError(QByteArray message)
    : message_(std::move(message))
{ }

EInOutError::EInOutError(int errorCode)
    : ERavelinError(MessageFor(errorCode))
    , errorCode_(errorCode)
{ }

QByteArray EInOutError::MessageFor(int errorCode)
{
    switch (errorCode) {
    case io_error::FileNotFound: return "File not found";
    case io_error::InvalidFilename: return "Invalid filename";
    case io_error::TooManyOpenFiles: return "Too many open files";
    case io_error::AccessDenied: return "File access denied";
    case io_error::ReadBeyondEnd: return "Read beyond end of file";
    case io_error::DiskFull: return "Disk full";
    case io_error::InvalidNumericInput: return "Invalid numeric input";
    default: return "I/O error " + QByteArray::number(errorCode);
    }
}

int io_error::FromErrno(int posixErrno)
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

QByteArray ErrorBoxText(const QByteArray& message)
{
    if (!message.isEmpty() && static_cast<unsigned char>(message.back()) > '.')
        return message + '.';
    return message;
}

QString ApplicationTitle(const QString& executablePath)
{
    const QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}
