#include "winsockerror.h"

#include <cerrno>
#include <netdb.h>

namespace ostrel {

int winsockErrorFromErrno(int e)
{
    // WinSock numbered its errors 10000 + the BSD errno, which Linux does not share, so
    // each value is mapped by name.
    switch (e) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EWOULDBLOCK:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    // Writing to a connection the peer has torn down is a reset connection on WinSock.
    case ECONNRESET:
    case EPIPE:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return e;
    }
}

int winsockErrorFromGai(int gaiCode)
{
    switch (gaiCode) {
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
    case EAI_SYSTEM:
        return winsockErrorFromErrno(errno);
    default:
        return 11003;
    }
}

const char *winsockErrorName(int code)
{
    switch (code) {
    case 10004:
        return "WSAEINTR";
    case 10009:
        return "WSAEBADF";
    case 10013:
        return "WSAEACCES";
    case 10014:
        return "WSAEFAULT";
    case 10022:
        return "WSAEINVAL";
    case 10024:
        return "WSAEMFILE";
    case 10035:
        return "WSAEWOULDBLOCK";
    case 10036:
        return "WSAEINPROGRESS";
    case 10037:
        return "WSAEALREADY";
    case 10038:
        return "WSAENOTSOCK";
    case 10039:
        return "WSAEDESTADDRREQ";
    case 10040:
        return "WSAEMSGSIZE";
    case 10041:
        return "WSAEPROTOTYPE";
    case 10042:
        return "WSAENOPROTOOPT";
    case 10043:
        return "WSAEPROTONOSUPPORT";
    case 10044:
        return "WSAESOCKTNOSUPPORT";
    case 10045:
        return "WSAEOPNOTSUPP";
    case 10046:
        return "WSAEPFNOSUPPORT";
    case 10047:
        return "WSAEAFNOSUPPORT";
    case 10048:
        return "WSAEADDRINUSE";
    case 10049:
        return "WSAEADDRNOTAVAIL";
    case 10050:
        return "WSAENETDOWN";
    case 10051:
        return "WSAENETUNREACH";
    case 10052:
        return "WSAENETRESET";
    case 10053:
        return "WSAECONNABORTED";
    case 10054:
        return "WSAECONNRESET";
    case 10055:
        return "WSAENOBUFS";
    case 10056:
        return "WSAEISCONN";
    case 10057:
        return "WSAENOTCONN";
    case 10058:
        return "WSAESHUTDOWN";
    case 10059:
        return "WSAETOOMANYREFS";
    case 10060:
        return "WSAETIMEDOUT";
    case 10061:
        return "WSAECONNREFUSED";
    case 10062:
        return "WSAELOOP";
    case 10063:
        return "WSAENAMETOOLONG";
    case 10064:
        return "WSAEHOSTDOWN";
    case 10065:
        return "WSAEHOSTUNREACH";
    case 10066:
        return "WSAENOTEMPTY";
    case 10067:
        return "WSAEPROCLIM";
    case 10068:
        return "WSAEUSERS";
    case 10069:
        return "WSAEDQUOT";
    case 10070:
        return "WSAESTALE";
    case 10071:
        return "WSAEREMOTE";
    case 10091:
        return "WSASYSNOTREADY";
    case 10092:
        return "WSAVERNOTSUPPORTED";
    case 10093:
        return "WSANOTINITIALISED";
    case 10101:
        return "WSAEDISCON";
    case 11001:
        return "WSAHOST_NOT_FOUND";
    case 11002:
        return "WSATRY_AGAIN";
    case 11003:
        return "WSANO_RECOVERY";
    case 11004:
        return "WSANO_DATA";
    default:
        return "UNKNOWN ERROR";
    }
}

} // namespace ostrel
