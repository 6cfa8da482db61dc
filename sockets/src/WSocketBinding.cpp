// The socket component's run-time binding of "wsock32.dll" and its error texts.
//
// The library is loaded and started on the first call of any bound routine, and each routine finds its entry
// point by its Winsock name on its own first call. Entry points are atomics so that a routine bound on one thread
// is seen whole on another (the sender's frame thread calls through the binding too); loading, starting and
// unloading are serialised by one lock, which is recursive because the load starts the library through the bound
// WSAStartup, whose own binding comes back here.
#include <array>
#include <mutex>
#include <string>
#include <type_traits>

#include "sockets/WSocket.h"

std::atomic<std::int32_t> InstanceCount{0};

namespace {

constexpr const char* kLibraryName = "wsock32.dll";

// The entry-point table, in this order.
enum TWinsockProc : int {
  wpWSAStartup,
  wpWSACleanup,
  wpWSASetLastError,
  wpWSAGetLastError,
  wpWSACancelAsyncRequest,
  wpWSAAsyncGetHostByName,
  wpWSAAsyncGetHostByAddr,
  wpWSAAsyncSelect,
  wpgetservbyname,
  wpgetprotobyname,
  wpgethostbyname,
  wpsocket,
  wpshutdown,
  wpsetsockopt,
  wpsendto,
  wpsend,
  wprecv,
  wprecvfrom,
  wpntohs,
  wplisten,
  wpioctlsocket,
  wpinet_ntoa,
  wpinet_addr,
  wphtons,
  wpgetsockname,
  wpgetpeername,
  wpconnect,
  wpclosesocket,
  wpbind,
  wpaccept,
  wpCount
};

constexpr std::array<const char*, wpCount> kProcNames = {
    "WSAStartup",    "WSACleanup",  "WSASetLastError", "WSAGetLastError", "WSACancelAsyncRequest",
    "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSAAsyncSelect", "getservbyname", "getprotobyname",
    "gethostbyname", "socket",      "shutdown",        "setsockopt",      "sendto",
    "send",          "recv",        "recvfrom",        "ntohs",           "listen",
    "ioctlsocket",   "inet_ntoa",   "inet_addr",       "htons",           "getsockname",
    "getpeername",   "connect",     "closesocket",     "bind",            "accept"};

// The binding's own function-pointer types, written from the Winsock 1.1 prototypes.
using TWSAStartup = int (*)(WORD, LPWSADATA);
using TWSACleanup = int (*)();
using TWSASetLastError = void (*)(int);
using TWSAGetLastError = int (*)();
using TWSACancelAsyncRequest = int (*)(HANDLE);
using TWSAAsyncGetHostByName = HANDLE (*)(HWND, u_int, const char*, char*, int);
using TWSAAsyncGetHostByAddr = HANDLE (*)(HWND, u_int, const char*, int, int, char*, int);
using TWSAAsyncSelect = int (*)(SOCKET, HWND, u_int, LONG);
using Tgetservbyname = servent* (*)(const char*, const char*);
using Tgetprotobyname = protoent* (*)(const char*);
using Tgethostbyname = hostent* (*)(const char*);
using Tsocket = SOCKET (*)(int, int, int);
using Tshutdown = int (*)(SOCKET, int);
using Tsetsockopt = int (*)(SOCKET, int, int, const char*, int);
using Tsendto = int (*)(SOCKET, const char*, int, int, const sockaddr*, int);
using Tsend = int (*)(SOCKET, const char*, int, int);
using Trecv = int (*)(SOCKET, char*, int, int);
using Trecvfrom = int (*)(SOCKET, char*, int, int, sockaddr*, int*);
using Tntohs = u_short (*)(u_short);
using Tlisten = int (*)(SOCKET, int);
using Tioctlsocket = int (*)(SOCKET, LONG, ULONG*);
using Tinet_ntoa = char* (*)(in_addr);
using Tinet_addr = ULONG (*)(const char*);
using Thtons = u_short (*)(u_short);
using Tgetsockname = int (*)(SOCKET, sockaddr*, int*);
using Tgetpeername = int (*)(SOCKET, sockaddr*, int*);
using Tconnect = int (*)(SOCKET, const sockaddr*, int);
using Tclosesocket = int (*)(SOCKET);
using Tbind = int (*)(SOCKET, const sockaddr*, int);
using Taccept = SOCKET (*)(SOCKET, sockaddr*, int*);

// The types must stay those of the library's own prototypes (decltype does not reference the functions).
static_assert(std::is_same_v<TWSAStartup, decltype(&::WSAStartup)>);
static_assert(std::is_same_v<TWSACleanup, decltype(&::WSACleanup)>);
static_assert(std::is_same_v<TWSASetLastError, decltype(&::WSASetLastError)>);
static_assert(std::is_same_v<TWSAGetLastError, decltype(&::WSAGetLastError)>);
static_assert(std::is_same_v<TWSACancelAsyncRequest, decltype(&::WSACancelAsyncRequest)>);
static_assert(std::is_same_v<TWSAAsyncGetHostByName, decltype(&::WSAAsyncGetHostByName)>);
static_assert(std::is_same_v<TWSAAsyncGetHostByAddr, decltype(&::WSAAsyncGetHostByAddr)>);
static_assert(std::is_same_v<TWSAAsyncSelect, decltype(&::WSAAsyncSelect)>);
static_assert(std::is_same_v<Tgetservbyname, decltype(&::getservbyname)>);
static_assert(std::is_same_v<Tgetprotobyname, decltype(&::getprotobyname)>);
static_assert(std::is_same_v<Tgethostbyname, decltype(&::gethostbyname)>);
static_assert(std::is_same_v<Tsocket, decltype(&::socket)>);
static_assert(std::is_same_v<Tshutdown, decltype(&::shutdown)>);
static_assert(std::is_same_v<Tsetsockopt, decltype(&::setsockopt)>);
static_assert(std::is_same_v<Tsendto, decltype(&::sendto)>);
static_assert(std::is_same_v<Tsend, decltype(&::send)>);
static_assert(std::is_same_v<Trecv, decltype(&::recv)>);
static_assert(std::is_same_v<Trecvfrom, decltype(&::recvfrom)>);
static_assert(std::is_same_v<Tntohs, decltype(&::ntohs)>);
static_assert(std::is_same_v<Tlisten, decltype(&::listen)>);
static_assert(std::is_same_v<Tioctlsocket, decltype(&::ioctlsocket)>);
static_assert(std::is_same_v<Tinet_ntoa, decltype(&::inet_ntoa)>);
static_assert(std::is_same_v<Tinet_addr, decltype(&::inet_addr)>);
static_assert(std::is_same_v<Thtons, decltype(&::htons)>);
static_assert(std::is_same_v<Tgetsockname, decltype(&::getsockname)>);
static_assert(std::is_same_v<Tgetpeername, decltype(&::getpeername)>);
static_assert(std::is_same_v<Tconnect, decltype(&::connect)>);
static_assert(std::is_same_v<Tclosesocket, decltype(&::closesocket)>);
static_assert(std::is_same_v<Tbind, decltype(&::bind)>);
static_assert(std::is_same_v<Taccept, decltype(&::accept)>);

struct TBinding {
  std::recursive_mutex Lock;
  HMODULE LibHandle = nullptr;
  WSADATA StartupData{};
  std::array<std::atomic<FARPROC>, wpCount> Procs{};
};

// Never destroyed: the unit's finalization and late destructors may still call through it.
TBinding& Binding() {
  static TBinding* binding = new TBinding;
  return *binding;
}

template <class F>
F Bound(TWinsockProc which) {
  std::atomic<FARPROC>& slot = Binding().Procs[which];
  FARPROC proc = slot.load(std::memory_order_acquire);
  if (proc == nullptr) {
    proc = LoadWinsockProc(kProcNames[which]);
    slot.store(proc, std::memory_order_release);
  }
  return reinterpret_cast<F>(proc);
}

// The unit's finalization: the library is released at program end whatever the count says.
struct TFinalization {
  ~TFinalization() {
    try {
      UnloadWinsock();
    } catch (...) {
    }
  }
} gFinalization;

}  // namespace

FARPROC LoadWinsockProc(const std::string& Name) {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> guard(b.Lock);
  if (b.LibHandle == nullptr) {
    HMODULE handle = LoadLibraryA(kLibraryName);
    if (handle == nullptr)
      throw ESocketException(std::string("Unable to load ") + kLibraryName + " Error #" +
                             std::to_string(GetLastError()));
    b.LibHandle = handle;
    int r = WSocket::WSAStartup(0x0101, &b.StartupData);
    if (r != 0) throw ESocketException("%s: WSAStartup error #%d", {std::string(kLibraryName), std::int64_t{r}});
  }
  if (Name.empty()) return nullptr;
  FARPROC proc = GetProcAddress(b.LibHandle, Name.c_str());
  if (proc == nullptr)
    throw ESocketException("Procedure " + Name + " not found in " + kLibraryName + " Error #" +
                           std::to_string(GetLastError()));
  return proc;
}

void UnloadWinsock() {
  TBinding& b = Binding();
  {
    std::lock_guard<std::recursive_mutex> guard(b.Lock);
    if (b.LibHandle != nullptr) {
      // A library that cannot be cleaned up is still released: the binding must return to empty.
      struct TRelease {
        TBinding& b;
        ~TRelease() {
          FreeLibrary(b.LibHandle);
          b.LibHandle = nullptr;
          for (auto& proc : b.Procs) proc.store(nullptr, std::memory_order_release);
          InstanceCount = 0;
        }
      } release{b};
      WSocket::WSACleanup();
    }
  }
  InstanceCount = 0;
}

namespace WSocket {

int WSAStartup(WORD wVersionRequired, LPWSADATA lpWSAData) {
  return Bound<TWSAStartup>(wpWSAStartup)(wVersionRequired, lpWSAData);
}
int WSACleanup() { return Bound<TWSACleanup>(wpWSACleanup)(); }
void WSASetLastError(int iError) { Bound<TWSASetLastError>(wpWSASetLastError)(iError); }
int WSAGetLastError() { return Bound<TWSAGetLastError>(wpWSAGetLastError)(); }
int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) {
  return Bound<TWSACancelAsyncRequest>(wpWSACancelAsyncRequest)(hAsyncTaskHandle);
}
HANDLE WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen) {
  return Bound<TWSAAsyncGetHostByName>(wpWSAAsyncGetHostByName)(hWnd, wMsg, name, buf, buflen);
}
HANDLE WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf, int buflen) {
  return Bound<TWSAAsyncGetHostByAddr>(wpWSAAsyncGetHostByAddr)(hWnd, wMsg, addr, len, type, buf, buflen);
}
int WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, LONG lEvent) {
  return Bound<TWSAAsyncSelect>(wpWSAAsyncSelect)(s, hWnd, wMsg, lEvent);
}
servent* getservbyname(const char* name, const char* proto) {
  return Bound<Tgetservbyname>(wpgetservbyname)(name, proto);
}
protoent* getprotobyname(const char* name) { return Bound<Tgetprotobyname>(wpgetprotobyname)(name); }
hostent* gethostbyname(const char* name) { return Bound<Tgethostbyname>(wpgethostbyname)(name); }
SOCKET socket(int af, int type, int protocol) { return Bound<Tsocket>(wpsocket)(af, type, protocol); }
int shutdown(SOCKET s, int how) { return Bound<Tshutdown>(wpshutdown)(s, how); }
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  return Bound<Tsetsockopt>(wpsetsockopt)(s, level, optname, optval, optlen);
}
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
  return Bound<Tsendto>(wpsendto)(s, buf, len, flags, to, tolen);
}
int send(SOCKET s, const char* buf, int len, int flags) { return Bound<Tsend>(wpsend)(s, buf, len, flags); }
int recv(SOCKET s, char* buf, int len, int flags) { return Bound<Trecv>(wprecv)(s, buf, len, flags); }
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  return Bound<Trecvfrom>(wprecvfrom)(s, buf, len, flags, from, fromlen);
}
u_short ntohs(u_short netshort) { return Bound<Tntohs>(wpntohs)(netshort); }
int listen(SOCKET s, int backlog) { return Bound<Tlisten>(wplisten)(s, backlog); }
int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp) { return Bound<Tioctlsocket>(wpioctlsocket)(s, cmd, argp); }
char* inet_ntoa(in_addr in) { return Bound<Tinet_ntoa>(wpinet_ntoa)(in); }
ULONG inet_addr(const char* cp) { return Bound<Tinet_addr>(wpinet_addr)(cp); }
u_short htons(u_short hostshort) { return Bound<Thtons>(wphtons)(hostshort); }
int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  return Bound<Tgetsockname>(wpgetsockname)(s, name, namelen);
}
int getpeername(SOCKET s, sockaddr* name, int* namelen) {
  return Bound<Tgetpeername>(wpgetpeername)(s, name, namelen);
}
int connect(SOCKET s, const sockaddr* name, int namelen) { return Bound<Tconnect>(wpconnect)(s, name, namelen); }
int closesocket(SOCKET s) { return Bound<Tclosesocket>(wpclosesocket)(s); }
int bind(SOCKET s, const sockaddr* addr, int namelen) { return Bound<Tbind>(wpbind)(s, addr, namelen); }
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) { return Bound<Taccept>(wpaccept)(s, addr, addrlen); }

}  // namespace WSocket

std::string WSocketErrorText(std::int32_t ErrCode) {
  switch (ErrCode) {
    case 0: return "No Error";
    case 10004: return "Interrupted system call";
    case 10009: return "Bad file number";
    case 10013: return "Permission denied";
    case 10014: return "Bad address";
    case 10022: return "Invalid argument";
    case 10024: return "Too many open files";
    case 10035: return "Operation would block";
    case 10036: return "Operation now in progress";
    case 10037: return "Operation already in progress";
    case 10038: return "Socket operation on non-socket";
    case 10039: return "Destination address required";
    case 10040: return "Message too long";
    case 10041: return "Protocol wrong type for socket";
    case 10042: return "Protocol not available";
    case 10043: return "Protocol not supported";
    case 10044: return "Socket type not supported";
    case 10045: return "Operation not supported on socket";
    case 10046: return "Protocol family not supported";
    case 10047: return "Address family not supported by protocol family";
    case 10048: return "Address already in use";
    case 10049: return "Address not available";
    case 10050: return "Network is down";
    case 10051: return "Network is unreachable";
    case 10052: return "Network dropped connection on reset";
    case 10053: return "Connection aborted";
    case 10054: return "Connection reset by peer";
    case 10055: return "No buffer space available";
    case 10056: return "Socket is already connected";
    case 10057: return "Socket is not connected";
    case 10058: return "Can't send after socket shutdown";
    case 10059: return "Too many references: can't splice";
    case 10060: return "Connection timed out";
    case 10061: return "Connection refused";
    case 10062: return "Too many levels of symbolic links";
    case 10063: return "File name too long";
    case 10064: return "Host is down";
    case 10065: return "No route to host";
    case 10066: return "Directory not empty";
    case 10067: return "Too many processes";
    case 10068: return "Too many users";
    case 10069: return "Disc quota exceeded";
    case 10070: return "Stale NFS file handle";
    case 10071: return "Too many levels of remote in path";
    case 10091: return "Network sub-system is unusable";
    case 10092: return "WinSock DLL cannot support this application";
    case 10093: return "WinSock not initialized";
    case 11001: return "Host not found";
    case 11002: return "Non-authoritative host not found";
    case 11003: return "Non-recoverable error";
    case 11004: return "No Data";
    default: return "Not a WinSock error";
  }
}
