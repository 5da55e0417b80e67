#include "http/SocketErrors.h"

namespace SocketErrors {

QString Text(int errorNumber)
{
    switch (errorNumber) {
    case 10004: return QStringLiteral("Interrupted system call.");
    case 10009: return QStringLiteral("Bad file number.");
    case 10013: return QStringLiteral("Access denied.");
    case 10014: return QStringLiteral("Bad address.");
    case 10022: return QStringLiteral("Invalid argument.");
    case 10024: return QStringLiteral("Too many open files.");
    case 10035: return QStringLiteral("Operation would block. ");
    case 10036: return QStringLiteral("Operation now in progress.");
    case 10037: return QStringLiteral("Operation already in progress.");
    case 10038: return QStringLiteral("Socket operation on non-socket.");
    case 10039: return QStringLiteral("Destination address required.");
    case 10040: return QStringLiteral("Message too long.");
    case 10041: return QStringLiteral("Protocol wrong type for socket.");
    case 10042: return QStringLiteral("Bad protocol option.");
    case 10043: return QStringLiteral("Protocol not supported.");
    case 10044: return QStringLiteral("Socket type not supported.");
    case 10045: return QStringLiteral("Operation not supported on socket.");
    case 10046: return QStringLiteral("Protocol family not supported.");
    case 10047: return QStringLiteral("Address family not supported by protocol family.");
    case 10048: return QStringLiteral("Address already in use.");
    case 10049: return QStringLiteral("Cannot assign requested address.");
    case 10050: return QStringLiteral("Network is down.");
    case 10051: return QStringLiteral("Network is unreachable.");
    case 10052: return QStringLiteral("Net dropped connection or reset.");
    case 10053: return QStringLiteral("Software caused connection abort.");
    case 10054: return QStringLiteral("Connection reset by peer.");
    case 10055: return QStringLiteral("No buffer space available.");
    case 10056: return QStringLiteral("Socket is already connected.");
    case 10057: return QStringLiteral("Socket is not connected.");
    case 10058: return QStringLiteral("Cannot send or receive after socket is closed.");
    case 10059: return QStringLiteral("Too many references, cannot splice.");
    case 10060: return QStringLiteral("Connection timed out.");
    case 10061: return QStringLiteral("Connection refused.");
    case 10062: return QStringLiteral("Too many levels of symbolic links.");
    case 10063: return QStringLiteral("File name too long.");
    case 10064: return QStringLiteral("Host is down.");
    case 10065: return QStringLiteral("No route to host.");
    case 10066: return QStringLiteral("Directory not empty");
    case 11001: return QStringLiteral("Host not found.");
    default: return QString();
    }
}

QString Message(int errorNumber)
{
    return QStringLiteral("Socket Error # %1\r\n%2").arg(errorNumber).arg(Text(errorNumber));
}

} // namespace SocketErrors
