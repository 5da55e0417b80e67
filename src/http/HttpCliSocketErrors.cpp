#include "http/HttpCliSocketErrors.h"

#include <utility>

namespace HttpCliSocketErrors {

QByteArray Text(int winsockError)
{
    static constexpr std::pair<int, const char*> table[] = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Address not available"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"},
        {10053, "Connection aborted"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Cannot send after socket shutdown"},
        {10059, "Too many references: cannot splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disk quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network subsystem is unavailable"},
        {10092, "WinSock version not supported"},
        {10093, "Successful WSAStartup not yet performed"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
    };
    for (const auto& [number, text] : table) {
        if (number == winsockError)
            return text;
    }
    return "Not a WinSock error";
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

QByteArray Describe(int winsockError)
{
    return Text(winsockError) + " (Error #" + QByteArray::number(winsockError) + ")";
}

} // namespace HttpCliSocketErrors
