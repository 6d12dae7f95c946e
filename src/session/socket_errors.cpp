#include "session/socket_errors.h"

#include <QChar>

#include <array>
#include <cerrno>

namespace socket_error {
namespace {

constexpr int NoLookupError = -1;

struct Entry
{
    int code;
    const char* description;
    std::array<int, 3> errnos; // 0 fills unused places
    int lookupError;           // a QHostInfo::HostInfoError, or NoLookupError
};

// The one translation table: each Windows Sockets number, its description, and
// the platform errors that mean the same thing.
constexpr Entry Table[] = {
    {NoAddress, "No address specified", {}, NoLookupError},
    {Interrupted, "Interrupted function call", {EINTR}, NoLookupError},
    {BadHandle, "Bad file descriptor", {EBADF}, NoLookupError},
    {AccessDenied, "Permission denied", {EACCES, EPERM}, NoLookupError},
    {BadAddress, "Bad address", {EFAULT}, NoLookupError},
    {InvalidArgument, "Invalid argument", {EINVAL}, NoLookupError},
    {TooManySockets, "Too many open sockets", {EMFILE, ENFILE}, NoLookupError},
    {WouldBlock, "Resource temporarily unavailable", {EWOULDBLOCK, EAGAIN}, NoLookupError},
    {InProgress, "Operation now in progress", {EINPROGRESS}, NoLookupError},
    {AlreadyInProgress, "Operation already in progress", {EALREADY}, NoLookupError},
    {NotASocket, "Socket operation on nonsocket", {ENOTSOCK}, NoLookupError},
    {DestinationRequired, "Destination address required", {EDESTADDRREQ}, NoLookupError},
    {MessageTooLong, "Message too long", {EMSGSIZE}, NoLookupError},
    {WrongProtocolType, "Protocol wrong type for socket", {EPROTOTYPE}, NoLookupError},
    {BadProtocolOption, "Bad protocol option", {ENOPROTOOPT}, NoLookupError},
    {ProtocolNotSupported, "Protocol not supported", {EPROTONOSUPPORT}, NoLookupError},
    {SocketTypeNotSupported, "Socket type not supported", {ESOCKTNOSUPPORT}, NoLookupError},
    {OperationNotSupported, "Operation not supported", {EOPNOTSUPP, ENOTSUP}, NoLookupError},
    {FamilyNotSupported, "Protocol family not supported", {EPFNOSUPPORT}, NoLookupError},
    {AddressFamilyNotSupported, "Address family not supported by protocol family", {EAFNOSUPPORT}, NoLookupError},
    {AddressInUse, "Address already in use", {EADDRINUSE}, NoLookupError},
    {AddressNotAvailable, "Cannot assign requested address", {EADDRNOTAVAIL}, NoLookupError},
    {NetworkDown, "Network is down", {ENETDOWN}, NoLookupError},
    {NetworkUnreachable, "Network is unreachable", {ENETUNREACH}, NoLookupError},
    {NetworkReset, "Network dropped connection on reset", {ENETRESET}, NoLookupError},
    {ConnectionAborted, "Software caused connection abort", {ECONNABORTED}, NoLookupError},
    {ConnectionReset, "Connection reset by peer", {ECONNRESET}, NoLookupError},
    {NoBufferSpace, "No buffer space available", {ENOBUFS, ENOMEM}, NoLookupError},
    {AlreadyConnected, "Socket is already connected", {EISCONN}, NoLookupError},
    {NotConnected, "Socket is not connected", {ENOTCONN}, NoLookupError},
    // A send after the connection broke: Linux says EPIPE where Windows says shutdown.
    {Shutdown, "Cannot send after socket shutdown", {ESHUTDOWN, EPIPE}, NoLookupError},
    {TooManyReferences, "Too many references", {ETOOMANYREFS}, NoLookupError},
    {TimedOut, "Connection timed out", {ETIMEDOUT}, NoLookupError},
    {ConnectionRefused, "Connection refused", {ECONNREFUSED}, NoLookupError},
    {NameLoop, "Cannot translate name", {ELOOP}, NoLookupError},
    {NameTooLong, "Name too long", {ENAMETOOLONG}, NoLookupError},
    {HostDown, "Host is down", {EHOSTDOWN}, NoLookupError},
    {HostUnreachable, "No route to host", {EHOSTUNREACH}, NoLookupError},
    {SystemCallFailure, "System call failure", {}, NoLookupError},
    {HostNotFound, "Host not found", {}, QHostInfo::HostNotFound},
    // The lookup layer reports a temporary resolver failure as an unknown error.
    {TryAgain, "Nonauthoritative host not found", {}, QHostInfo::UnknownError},
    {NoRecovery, "This is a nonrecoverable error", {}, NoLookupError},
    {NoData, "Valid name, no data record of requested type", {}, NoLookupError},
};

} // namespace

int fromErrno(int posixErrno)
{
    if (posixErrno == 0)
        return 0;
    for (const Entry& entry : Table) {
        for (const int e : entry.errnos) {
            if (e == posixErrno)
                return entry.code;
        }
    }
    return SystemCallFailure;
}

int fromHostLookup(QHostInfo::HostInfoError error)
{
    if (error == QHostInfo::NoError)
        return 0;
    for (const Entry& entry : Table) {
        if (entry.lookupError == error)
            return entry.code;
    }
    return HostNotFound;
}

QByteArray description(int code)
{
    for (const Entry& entry : Table) {
        if (entry.code == code)
            return entry.description;
    }
    return "Unknown error";
}

QByteArray withWords(const QByteArray& line)
{
    constexpr QByteArrayView kError = "error ";
    if (!line.startsWith(kError))
        return line;
    bool isNumber = false;
    const int code = line.mid(kError.size()).toInt(&isNumber);
    if (!isNumber)
        return line;
    QByteArray words = description(code);
    if (!words.isEmpty())
        words[0] = char(QChar::toLower(uint(words[0])));
    return line + ": " + words;
}

QByteArray windowsSocketErrorMessage(int code, const QByteArray& api)
{
    return "Windows socket error: " + description(code) + " (" + QByteArray::number(code) + "), on API '" + api + "'";
}

} // namespace socket_error
