#pragma once

// Socket errors are reported with the WinSock numbers and names the lobby's texts were
// written against ("Error #10061 (WSAECONNREFUSED)"), so the same failure reads the same
// on every platform.
namespace ostrel {

// The WinSock number for a POSIX errno value; values with no counterpart map to
// themselves (below 10000, so they name no WinSock error).
int winsockErrorFromErrno(int errnoValue);

// The WinSock number for a getaddrinfo() failure code.
int winsockErrorFromGai(int gaiCode);

// "WSAECONNREFUSED" for 10061 and so on; "UNKNOWN ERROR" for any other code.
const char *winsockErrorName(int code);

} // namespace ostrel
