// Winsock 1.1 as the suite's socket component and its own-address helper use it: the functions, records and
// constants of "wsock32.dll", done over POSIX sockets by the shared library libwsock32.so.
//
// Who uses it and how:
// - The socket component loads "wsock32.dll" with LoadLibraryA and binds each routine by its Winsock name with
//   GetProcAddress ("socket", "WSAAsyncSelect" ...). The module loader of platform/win32 asks this library's
//   TarvoModuleProc for every name looked up in it.
// - Programs may also link libwsock32.so and call the functions below directly (the own-address helper does).
//   Both roads reach the same copy in the process: the loader never maps the library twice.
//
// Why the exported symbols carry a prefix: names such as socket, bind, send, htons or gethostbyname are also
// the C library's. Exported under those names they would interpose on every other user of them in the process
// (the toolkit, the display connection, the sanitizer's interceptors) and hand them Winsock handles and
// Winsock error numbers. So the library exports wsock32_socket ..., and the Winsock names below are inline
// C++ forwarders that only code compiled against this header sees.
//
// The window functions (PostMessageA, IsWindow) are the program's single copy of platform/win32: the library
// contains none and binds to the program's at load time (tarvo_win32 makes every executable that links it
// export them). Without them WSAAsyncSelect and the asynchronous lookups fail with WSASYSNOTREADY.
//
// Rules for a translation unit that includes this header:
// - It must not also include the system's socket headers (<sys/socket.h>, <netinet/in.h>, <arpa/inet.h>,
//   <netdb.h>): both declare the same names. This header includes none of them.
// - gethostname(char*, int) sits beside the C library's gethostname(char*, size_t) when <unistd.h> is seen;
//   pass the length as an int (a literal, or int(sizeof buf)) to reach the Winsock one.
// - The C library owns the global names timeval and u_long with other widths, so the Winsock versions are
//   wsock32::timeval and wsock32::u_long. The prototypes use ULONG/LONG (32 bits, as on the original).
//
// Behaviour that callers rely on:
// - Every call made before WSAStartup, or after the last WSACleanup, fails with WSANOTINITIALISED (10093);
//   only the byte-order and address-text conversions and the last-error pair work at any time, as there.
// - Errors are Winsock's numbers, per thread (WSAGetLastError); a call that succeeds leaves the last error as
//   it was. Bad handles give WSAENOTSOCK, null or short buffers WSAEFAULT, bad lengths or values WSAEINVAL.
// - WSAAsyncSelect posts (socket, WSAMAKESELECTREPLY(event, error)) with the re-enabling rules of Winsock 1.1,
//   and makes the socket non-blocking. Notifications come from one notifier thread per process.
// - After closesocket returns, no notification for that socket is posted any more, and one that is already
//   queued carries the old handle, which no later socket ever gets (see SOCKET below).
// - The asynchronous lookups write the host entry inside the caller's buffer and post
//   (handle, WSAMAKEASYNCREPLY(length, error)); after a successful WSACancelAsyncRequest no reply arrives.
//   The hostent record starts at the first address of the buffer that is aligned for a pointer, so a caller
//   that reads it at the buffer's start declares the buffer alignas(8) (a plain char array may start
//   anywhere); the length counts from the buffer's start, and everything the record points to lies inside.
// - gethostbyname, getservbyname, getprotobyname and inet_ntoa return storage of the calling thread, valid
//   until that thread's next call of the same function.
// - The last WSACleanup stops the library's threads, so the library may be unloaded afterwards.
//
// 64-bit: SOCKET is pointer-sized (32 bits on the original). A handle holds the descriptor in its low 32 bits
// and a per-open generation above them, so a handle is never reused while the process lives. The handles of
// the asynchronous lookups are pointer-sized HANDLEs whose values fit in 32 bits. wParam/lParam of the posted
// notifications are pointer-sized; the event/error and length/error halves are the low 32 bits, as before.
// Every record below keeps its original byte layout (sockaddr_in 16 bytes, linger 4 bytes, the 32-bit
// address in in_addr); records that hold pointers (hostent, servent, protoent, WSADATA) hold 64-bit pointers.
#pragma once

#include "win32/types.h"
#include "wsock32/errors.h"

#if defined(__GNUC__)
#define WSOCK32_API __attribute__((visibility("default")))
#else
#define WSOCK32_API
#endif

// ---- Types ----------------------------------------------------------------------------------------------

using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;

namespace wsock32 {
using u_long = ULONG;  // 32 bits, unlike the C library's u_long

struct timeval {
  LONG tv_sec;
  LONG tv_usec;
};
}  // namespace wsock32

using SOCKET = UINT_PTR;
constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
constexpr int SOCKET_ERROR = -1;

struct in_addr {
  union {
    struct {
      u_char s_b1, s_b2, s_b3, s_b4;
    } S_un_b;
    struct {
      u_short s_w1, s_w2;
    } S_un_w;
    ULONG S_addr;
  } S_un;
};
// The usual spelling sin_addr.s_addr; kept as a macro, as Winsock code expects it.
#define s_addr S_un.S_addr

struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  u_short sin_port;  // network byte order
  struct in_addr sin_addr;
  char sin_zero[8];
};

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;  // null-terminated list of h_length-byte addresses, in the host database's order
};
#define h_addr h_addr_list[0]

struct servent {
  char* s_name;
  char** s_aliases;
  short s_port;  // network byte order
  char* s_proto;
};

struct protoent {
  char* p_name;
  char** p_aliases;
  short p_proto;
};

// Given to SO_LINGER: 4 bytes, two 16-bit fields.
struct linger {
  u_short l_onoff;
  u_short l_linger;  // seconds
};

static_assert(sizeof(in_addr) == 4 && sizeof(sockaddr) == 16 && sizeof(sockaddr_in) == 16);
static_assert(sizeof(linger) == 4 && sizeof(wsock32::timeval) == 8);

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

constexpr int MAXGETHOSTSTRUCT = 1024;  // a buffer this large always holds an asynchronous lookup's host entry

// ---- Constants ------------------------------------------------------------------------------------------

constexpr int AF_UNSPEC = 0;
constexpr int AF_INET = 2;
constexpr int PF_INET = AF_INET;

constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;

constexpr int IPPROTO_IP = 0;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;

constexpr ULONG INADDR_ANY = 0x00000000u;
constexpr ULONG INADDR_LOOPBACK = 0x7F000001u;  // host byte order, as the original
constexpr ULONG INADDR_BROADCAST = 0xFFFFFFFFu;
constexpr ULONG INADDR_NONE = 0xFFFFFFFFu;

// Option levels and names.
constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_DEBUG = 0x0001;
constexpr int SO_ACCEPTCONN = 0x0002;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_DONTROUTE = 0x0010;
constexpr int SO_BROADCAST = 0x0020;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_OOBINLINE = 0x0100;
constexpr int SO_DONTLINGER = ~SO_LINGER;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_ERROR = 0x1007;
constexpr int SO_TYPE = 0x1008;
constexpr int TCP_NODELAY = 0x0001;  // level IPPROTO_TCP

// ioctlsocket commands. The original's long is 32 bits; FIONBIO's top bit makes it negative there too.
constexpr LONG FIONREAD = 0x4004667F;
constexpr LONG FIONBIO = static_cast<LONG>(0x8004667Eu);

constexpr int MSG_OOB = 0x1;
constexpr int MSG_PEEK = 0x2;
constexpr int MSG_DONTROUTE = 0x4;

// shutdown directions.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr int SOMAXCONN = 5;

// WSAAsyncSelect events.
constexpr LONG FD_READ = 0x01;
constexpr LONG FD_WRITE = 0x02;
constexpr LONG FD_OOB = 0x04;
constexpr LONG FD_ACCEPT = 0x08;
constexpr LONG FD_CONNECT = 0x10;
constexpr LONG FD_CLOSE = 0x20;

// ---- Error numbers: wsock32/errors.h ------------------------------------------------------------------

// ---- Message parameter helpers ------------------------------------------------------------------------------

constexpr WORD WSAGETASYNCBUFLEN(LPARAM lParam) { return LOWORD(static_cast<DWORD_PTR>(lParam)); }
constexpr WORD WSAGETASYNCERROR(LPARAM lParam) { return HIWORD(static_cast<DWORD_PTR>(lParam)); }
constexpr WORD WSAGETSELECTEVENT(LPARAM lParam) { return LOWORD(static_cast<DWORD_PTR>(lParam)); }
constexpr WORD WSAGETSELECTERROR(LPARAM lParam) { return HIWORD(static_cast<DWORD_PTR>(lParam)); }
constexpr LPARAM WSAMAKEASYNCREPLY(WORD buflen, WORD error) { return static_cast<LPARAM>(MAKELONG(buflen, error)); }
constexpr LPARAM WSAMAKESELECTREPLY(WORD event, WORD error) { return static_cast<LPARAM>(MAKELONG(event, error)); }

// ---- Functions ------------------------------------------------------------------------------------------------
//
// The library's exported symbols are wsock32_<Winsock name>, with C linkage; the functions with the Winsock
// names are inline forwarders below (C++ linkage, so they never meet the C library's symbols). Run-time
// binding: TarvoModuleProc maps a Winsock name ("socket", "WSAStartup" ...) to the same function, or gives
// null; the module loader's GetProcAddress asks it for every name looked up in this module.

extern "C" {
WSOCK32_API FARPROC TarvoModuleProc(const char* name);
WSOCK32_API int wsock32_WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
WSOCK32_API int wsock32_WSACleanup();
WSOCK32_API void wsock32_WSASetLastError(int iError);
WSOCK32_API int wsock32_WSAGetLastError();
WSOCK32_API int wsock32_WSACancelAsyncRequest(HANDLE hAsyncTaskHandle);
WSOCK32_API HANDLE wsock32_WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen);
WSOCK32_API HANDLE wsock32_WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf,
                                                 int buflen);
WSOCK32_API int wsock32_WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, LONG lEvent);
WSOCK32_API struct servent* wsock32_getservbyname(const char* name, const char* proto);
WSOCK32_API struct protoent* wsock32_getprotobyname(const char* name);
WSOCK32_API struct hostent* wsock32_gethostbyname(const char* name);
WSOCK32_API int wsock32_gethostname(char* name, int namelen);
WSOCK32_API SOCKET wsock32_socket(int af, int type, int protocol);
WSOCK32_API int wsock32_shutdown(SOCKET s, int how);
WSOCK32_API int wsock32_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
WSOCK32_API int wsock32_sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen);
WSOCK32_API int wsock32_send(SOCKET s, const char* buf, int len, int flags);
WSOCK32_API int wsock32_recv(SOCKET s, char* buf, int len, int flags);
WSOCK32_API int wsock32_recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen);
WSOCK32_API int wsock32_listen(SOCKET s, int backlog);
WSOCK32_API int wsock32_ioctlsocket(SOCKET s, LONG cmd, ULONG* argp);
WSOCK32_API int wsock32_getsockname(SOCKET s, struct sockaddr* name, int* namelen);
WSOCK32_API int wsock32_getpeername(SOCKET s, struct sockaddr* name, int* namelen);
WSOCK32_API int wsock32_connect(SOCKET s, const struct sockaddr* name, int namelen);
WSOCK32_API int wsock32_closesocket(SOCKET s);
WSOCK32_API int wsock32_bind(SOCKET s, const struct sockaddr* addr, int namelen);
WSOCK32_API SOCKET wsock32_accept(SOCKET s, struct sockaddr* addr, int* addrlen);
WSOCK32_API u_short wsock32_ntohs(u_short netshort);
WSOCK32_API u_short wsock32_htons(u_short hostshort);
WSOCK32_API char* wsock32_inet_ntoa(struct in_addr in);
WSOCK32_API ULONG wsock32_inet_addr(const char* cp);
}  // extern "C"

inline int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  return wsock32_WSAStartup(wVersionRequested, lpWSAData);
}
inline int WSACleanup() { return wsock32_WSACleanup(); }
inline void WSASetLastError(int iError) { wsock32_WSASetLastError(iError); }
inline int WSAGetLastError() { return wsock32_WSAGetLastError(); }
inline int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) { return wsock32_WSACancelAsyncRequest(hAsyncTaskHandle); }
inline HANDLE WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen) {
  return wsock32_WSAAsyncGetHostByName(hWnd, wMsg, name, buf, buflen);
}
inline HANDLE WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf, int buflen) {
  return wsock32_WSAAsyncGetHostByAddr(hWnd, wMsg, addr, len, type, buf, buflen);
}
inline int WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, LONG lEvent) {
  return wsock32_WSAAsyncSelect(s, hWnd, wMsg, lEvent);
}
inline struct servent* getservbyname(const char* name, const char* proto) { return wsock32_getservbyname(name, proto); }
inline struct protoent* getprotobyname(const char* name) { return wsock32_getprotobyname(name); }
inline struct hostent* gethostbyname(const char* name) { return wsock32_gethostbyname(name); }
inline int gethostname(char* name, int namelen) { return wsock32_gethostname(name, namelen); }
inline SOCKET socket(int af, int type, int protocol) { return wsock32_socket(af, type, protocol); }
inline int shutdown(SOCKET s, int how) { return wsock32_shutdown(s, how); }
inline int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  return wsock32_setsockopt(s, level, optname, optval, optlen);
}
inline int sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen) {
  return wsock32_sendto(s, buf, len, flags, to, tolen);
}
inline int send(SOCKET s, const char* buf, int len, int flags) { return wsock32_send(s, buf, len, flags); }
inline int recv(SOCKET s, char* buf, int len, int flags) { return wsock32_recv(s, buf, len, flags); }
inline int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen) {
  return wsock32_recvfrom(s, buf, len, flags, from, fromlen);
}
inline int listen(SOCKET s, int backlog) { return wsock32_listen(s, backlog); }
inline int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp) { return wsock32_ioctlsocket(s, cmd, argp); }
inline int getsockname(SOCKET s, struct sockaddr* name, int* namelen) { return wsock32_getsockname(s, name, namelen); }
inline int getpeername(SOCKET s, struct sockaddr* name, int* namelen) { return wsock32_getpeername(s, name, namelen); }
inline int connect(SOCKET s, const struct sockaddr* name, int namelen) { return wsock32_connect(s, name, namelen); }
inline int closesocket(SOCKET s) { return wsock32_closesocket(s); }
inline int bind(SOCKET s, const struct sockaddr* addr, int namelen) { return wsock32_bind(s, addr, namelen); }
inline SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrlen) { return wsock32_accept(s, addr, addrlen); }
inline u_short ntohs(u_short netshort) { return wsock32_ntohs(netshort); }
inline u_short htons(u_short hostshort) { return wsock32_htons(hostshort); }
inline char* inet_ntoa(struct in_addr in) { return wsock32_inet_ntoa(in); }
inline ULONG inet_addr(const char* cp) { return wsock32_inet_addr(cp); }
