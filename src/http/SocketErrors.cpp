#include "http/SocketErrors.h"

namespace SocketErrors {
namespace {

struct TRow {
    int Number;
    const char* Text;       // the blocking connection's; nullptr where it has none
    const char* Short;      // the event-driven client's
};

constexpr TRow kTable[] = {
    {0, nullptr, "No Error"},
    {10004, "Interrupted system call.", "Interrupted system call"},
    {10009, "Bad file number.", "Bad file number"},
    {10013, "Access denied.", "Permission denied"},
    {10014, "Bad address.", "Bad address"},
    {10022, "Invalid argument.", "Invalid argument"},
    {10024, "Too many open files.", "Too many open files"},
    {10035, "Operation would block. ", "Operation would block"},
    {10036, "Operation now in progress.", "Operation now in progress"},
    {10037, "Operation already in progress.", "Operation already in progress"},
    {10038, "Socket operation on non-socket.", "Socket operation on non-socket"},
    {10039, "Destination address required.", "Destination address required"},
    {10040, "Message too long.", "Message too long"},
    {10041, "Protocol wrong type for socket.", "Protocol wrong type for socket"},
    {10042, "Bad protocol option.", "Protocol not available"},
    {10043, "Protocol not supported.", "Protocol not supported"},
    {10044, "Socket type not supported.", "Socket type not supported"},
    {10045, "Operation not supported on socket.", "Operation not supported on socket"},
    {10046, "Protocol family not supported.", "Protocol family not supported"},
    {10047, "Address family not supported by protocol family.", "Address family not supported by protocol family"},
    {10048, "Address already in use.", "Address already in use"},
    {10049, "Cannot assign requested address.", "Address not available"},
    {10050, "Network is down.", "Network is down"},
    {10051, "Network is unreachable.", "Network is unreachable"},
    {10052, "Net dropped connection or reset.", "Network dropped connection on reset"},
    {10053, "Software caused connection abort.", "Connection aborted"},
    {10054, "Connection reset by peer.", "Connection reset by peer"},
    {10055, "No buffer space available.", "No buffer space available"},
    {10056, "Socket is already connected.", "Socket is already connected"},
    {10057, "Socket is not connected.", "Socket is not connected"},
    {10058, "Cannot send or receive after socket is closed.", "Cannot send after socket shutdown"},
    {10059, "Too many references, cannot splice.", "Too many references: cannot splice"},
    {10060, "Connection timed out.", "Connection timed out"},
    {10061, "Connection refused.", "Connection refused"},
    {10062, "Too many levels of symbolic links.", "Too many levels of symbolic links"},
    {10063, "File name too long.", "File name too long"},
    {10064, "Host is down.", "Host is down"},
    {10065, "No route to host.", "No route to host"},
    {10066, "Directory not empty", "Directory not empty"},
    {10067, nullptr, "Too many processes"},
    {10068, nullptr, "Too many users"},
    {10069, nullptr, "Disk quota exceeded"},
    {10070, nullptr, "Stale NFS file handle"},
    {10071, nullptr, "Too many levels of remote in path"},
    {10091, nullptr, "Network subsystem is unavailable"},
    {10092, nullptr, "WinSock version not supported"},
    {10093, nullptr, "Successful WSAStartup not yet performed"},
    {11001, "Host not found.", "Host not found"},
    {11002, nullptr, "Non-authoritative host not found"},
    {11003, nullptr, "Non-recoverable error"},
    {11004, nullptr, "No Data"},
};

const TRow* find(int number)
{
    for (const TRow& row : kTable) {
        if (row.Number == number)
            return &row;
    }
    return nullptr;
}

} // namespace

QString Text(int errorNumber)
{
    const TRow* row = find(errorNumber);
    return row && row->Text ? QString::fromLatin1(row->Text) : QString();
}

QString Message(int errorNumber)
{
    return QStringLiteral("Socket Error # %1\r\n%2").arg(errorNumber).arg(Text(errorNumber));
}

QByteArray ShortText(int errorNumber)
{
    const TRow* row = find(errorNumber);
    return row ? QByteArray(row->Short) : QByteArray("Not a WinSock error");
}

QByteArray Describe(int errorNumber)
{
    return ShortText(errorNumber) + " (Error #" + QByteArray::number(errorNumber) + ")";
}

int ConnectNumber(int socketError)
{
    switch (socketError) {
    case 10061: case 10022: return 10061;
    case 10060: case 10065: case 10051: case 10048: return 10051;
    case 10013: return 10013;
    case 10047: case 10009: case 10014: case 10038: return -1;  // reads "Not a WinSock error"
    default: return 10061;
    }
}

int SocketNumber(int socketError)
{
    switch (socketError) {
    case 10024: case 10055: return 10024;
    case 10043: case 10047: case 10022: return 10045;
    case 10013: return 10013;
    default: return -1;
    }
}

int BindNumber(int socketError)
{
    switch (socketError) {
    case 10048: case 10013: case 10049: return socketError;
    case 10022: return 10045;
    default: return -1;
    }
}

} // namespace SocketErrors
