#pragma once

// The Windows Sockets error numbers that the client socket component reports,
// whatever socket layer it runs on. The log shows these numbers and the session
// compares against them, so every platform error is translated here, in one place.

#include <QByteArray>
#include <QHostInfo>

namespace socket_error {
// The component's own number: an activation with neither a host nor an address.
inline constexpr int NoAddress = 1110;

inline constexpr int Interrupted = 10004;               // WSAEINTR
inline constexpr int BadHandle = 10009;                 // WSAEBADF
inline constexpr int AccessDenied = 10013;              // WSAEACCES
inline constexpr int BadAddress = 10014;                // WSAEFAULT
inline constexpr int InvalidArgument = 10022;           // WSAEINVAL
inline constexpr int TooManySockets = 10024;            // WSAEMFILE
inline constexpr int WouldBlock = 10035;                // WSAEWOULDBLOCK, never reported
inline constexpr int InProgress = 10036;                // WSAEINPROGRESS
inline constexpr int AlreadyInProgress = 10037;         // WSAEALREADY
inline constexpr int NotASocket = 10038;                // WSAENOTSOCK
inline constexpr int DestinationRequired = 10039;       // WSAEDESTADDRREQ
inline constexpr int MessageTooLong = 10040;            // WSAEMSGSIZE
inline constexpr int WrongProtocolType = 10041;         // WSAEPROTOTYPE
inline constexpr int BadProtocolOption = 10042;         // WSAENOPROTOOPT
inline constexpr int ProtocolNotSupported = 10043;      // WSAEPROTONOSUPPORT
inline constexpr int SocketTypeNotSupported = 10044;    // WSAESOCKTNOSUPPORT
inline constexpr int OperationNotSupported = 10045;     // WSAEOPNOTSUPP
inline constexpr int FamilyNotSupported = 10046;        // WSAEPFNOSUPPORT
inline constexpr int AddressFamilyNotSupported = 10047; // WSAEAFNOSUPPORT
inline constexpr int AddressInUse = 10048;              // WSAEADDRINUSE
inline constexpr int AddressNotAvailable = 10049;       // WSAEADDRNOTAVAIL
inline constexpr int NetworkDown = 10050;               // WSAENETDOWN
inline constexpr int NetworkUnreachable = 10051;        // WSAENETUNREACH
inline constexpr int NetworkReset = 10052;              // WSAENETRESET
inline constexpr int ConnectionAborted = 10053;         // WSAECONNABORTED
inline constexpr int ConnectionReset = 10054;           // WSAECONNRESET
inline constexpr int NoBufferSpace = 10055;             // WSAENOBUFS
inline constexpr int AlreadyConnected = 10056;          // WSAEISCONN
inline constexpr int NotConnected = 10057;              // WSAENOTCONN
inline constexpr int Shutdown = 10058;                  // WSAESHUTDOWN
inline constexpr int TooManyReferences = 10059;         // WSAETOOMANYREFS
inline constexpr int TimedOut = 10060;                  // WSAETIMEDOUT
inline constexpr int ConnectionRefused = 10061;         // WSAECONNREFUSED
inline constexpr int NameLoop = 10062;                  // WSAELOOP
inline constexpr int NameTooLong = 10063;               // WSAENAMETOOLONG
inline constexpr int HostDown = 10064;                  // WSAEHOSTDOWN
inline constexpr int HostUnreachable = 10065;           // WSAEHOSTUNREACH
inline constexpr int SystemCallFailure = 10107;         // WSASYSCALLFAILURE
inline constexpr int HostNotFound = 11001;              // WSAHOST_NOT_FOUND
inline constexpr int TryAgain = 11002;                  // WSATRY_AGAIN
inline constexpr int NoRecovery = 11003;                // WSANO_RECOVERY
inline constexpr int NoData = 11004;                    // WSANO_DATA

// Translates a POSIX errno; 0 gives 0. An errno without a Windows Sockets counterpart
// becomes SystemCallFailure rather than a number that means something else.
int fromErrno(int posixErrno);

// Translates the outcome of a host lookup; NoError gives 0.
int fromHostLookup(QHostInfo::HostInfoError error);

// A short description of a number, for the "Windows socket error" message.
QByteArray description(int code);

// The session logs a socket error as its bare number ("error 10061"), as the
// window shows it; elsewhere the words go with it ("error 10061: connection
// refused"). Any other line is given back as it is.
QByteArray withWords(const QByteArray& line);

// "Windows socket error: %s (%d), on API '%s'" for a number and an operation.
QByteArray windowsSocketErrorMessage(int code, const QByteArray& api);
} // namespace socket_error
