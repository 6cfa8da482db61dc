// The Linux side of the socket layer (see sys.h). Only this file includes the system's socket headers.
#include "sys.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include "win32/diagnostics.h"
#include "wsock32/errors.h"

// The program's single copy of platform/win32; weak, so a process without it can still load the library (and
// then has nowhere to report to).
extern "C" void WriteDiagnosticLine(LPCSTR line) __attribute__((weak));

namespace wsock32::sys {

static_assert(sizeof(sockaddr_in) == AddrSize);
static_assert(MSG_OOB == 1 && MSG_PEEK == 2 && MSG_DONTROUTE == 4, "flags are passed through unchanged");
static_assert(SHUT_WR == 1 && SHUT_RDWR == 2);

namespace {

// The codes reported so far. Never destroyed: the notifier and lookup threads may translate an error while
// static destructors run.
struct TReportedCodes {
  std::mutex Lock;
  std::set<int> Codes;
};

// An errno without a Winsock counterpart is a gap in the table below: say so once per code, so that the
// program's WSAENETDOWN can be traced to its cause without flooding standard error from a busy socket.
void ReportUnknownErrno(int err) {
  static TReportedCodes* reported = new TReportedCodes;
  {
    std::lock_guard guard(reported->Lock);
    if (!reported->Codes.insert(err).second) return;
  }
  if (!WriteDiagnosticLine) return;
  char text[128];
  std::string line = "wsock32: errno " + std::to_string(err) + " (" + strerror_r(err, text, sizeof text) +
                     ") has no Winsock error number; reported as WSAENETDOWN (" + std::to_string(WSAENETDOWN) + ")";
  WriteDiagnosticLine(line.c_str());
}

}  // namespace

int WsaFromErrno(int err) {
  switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;       // EWOULDBLOCK is the same number
    case EINPROGRESS: return WSAEWOULDBLOCK;  // a non-blocking connect under way: Winsock 1.1 says 10035
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;  // ENOTSUP is the same number
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;  // the connection is gone; a local shutdown is told apart above us
    case ENOBUFS:
    case ENOMEM:
    case ENOSR: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default:
      ReportUnknownErrno(err);
      return WSAENETDOWN;
  }
}

namespace {

int Fail() { return -WsaFromErrno(errno); }

// Blocking calls restart after a signal: on the original a blocking call is only interrupted on request.
template <class F>
auto Retry(F f) {
  for (;;) {
    auto r = f();
    if (r >= 0 || errno != EINTR) return r;
  }
}

int SetInt(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : Fail();
}

}  // namespace

int Socket(bool datagram) {
  int fd = socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail();
  // A port whose connections linger in TIME_WAIT can be bound again at once, as on the original platform.
  if (!datagram && SetInt(fd, SOL_SOCKET, SO_REUSEADDR, 1) < 0) {
    int r = Fail();
    close(fd);
    return r;
  }
  return fd;
}

void Close(int fd) {
  if (fd >= 0) close(fd);  // an EINTR still releases the descriptor on Linux: never retry
}

int SetNonBlocking(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return Fail();
  int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (wanted != flags && fcntl(fd, F_SETFL, wanted) < 0) return Fail();
  return 0;
}

int Bind(int fd, const void* addr) { return bind(fd, static_cast<const sockaddr*>(addr), AddrSize) == 0 ? 0 : Fail(); }

int Connect(int fd, const void* addr) {
  if (connect(fd, static_cast<const sockaddr*>(addr), AddrSize) == 0) return 0;
  if (errno != EINTR) return Fail();
  // A blocking connect that a signal interrupted goes on in the background: wait for its end.
  pollfd p{fd, POLLOUT, 0};
  if (Retry([&] { return poll(&p, 1, -1); }) < 0) return Fail();
  int err = TakeSocketError(fd);
  return err ? -err : 0;
}

int Listen(int fd, int backlog) {
  sockaddr_in own{};
  socklen_t len = sizeof own;
  // Listening on a socket that was never bound is an error there, not an implicit bind to any port.
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&own), &len) == 0 && own.sin_port == 0) return -WSAEINVAL;
  return listen(fd, backlog) == 0 ? 0 : Fail();
}

int Accept(int fd, void* addr, bool nonBlocking) {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
  int r = Retry([&] { return accept4(fd, reinterpret_cast<sockaddr*>(&peer), &len, flags); });
  if (r < 0) return Fail();
  if (addr) std::memcpy(addr, &peer, AddrSize);
  return r;
}

int ShutdownSend(int fd) { return shutdown(fd, SHUT_WR) == 0 ? 0 : Fail(); }
int ShutdownBoth(int fd) { return shutdown(fd, SHUT_RDWR) == 0 ? 0 : Fail(); }

int Send(int fd, const void* buf, int len, int flags, const void* to) {
  // MSG_NOSIGNAL: a send on a broken connection reports an error, as there, instead of killing the process.
  ssize_t r = Retry([&] {
    return sendto(fd, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL, static_cast<const sockaddr*>(to),
                  to ? AddrSize : 0);
  });
  return r < 0 ? Fail() : static_cast<int>(r);
}

int Receive(int fd, void* buf, int len, int flags, void* from, bool& truncated) {
  sockaddr_in peer{};
  iovec iov{buf, static_cast<size_t>(len)};
  msghdr msg{};
  msg.msg_name = from ? &peer : nullptr;
  msg.msg_namelen = from ? sizeof peer : 0;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t r = Retry([&] { return recvmsg(fd, &msg, flags); });
  if (r < 0) return Fail();
  truncated = (msg.msg_flags & MSG_TRUNC) != 0;
  if (from) std::memcpy(from, &peer, AddrSize);
  return static_cast<int>(r);
}

int Pending(int fd) {
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) < 0) return Fail();
  return n < 0 ? 0 : n;
}

int GetSockName(int fd, void* addr) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) < 0) return Fail();
  std::memcpy(addr, &a, AddrSize);
  return 0;
}

int GetPeerName(int fd, void* addr) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) < 0) return Fail();
  std::memcpy(addr, &a, AddrSize);
  return 0;
}

int TakeSocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return WsaFromErrno(errno);
  return WsaFromErrno(err);
}

bool ConnectEnded(int fd) {
  pollfd p{fd, POLLOUT, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & (POLLOUT | POLLERR | POLLHUP));
}

int SetOption(int fd, TOption option, int value) {
  switch (option) {
    case TOption::ReuseAddr: return SetInt(fd, SOL_SOCKET, SO_REUSEADDR, value != 0);
    case TOption::KeepAlive: return SetInt(fd, SOL_SOCKET, SO_KEEPALIVE, value != 0);
    case TOption::DontRoute: return SetInt(fd, SOL_SOCKET, SO_DONTROUTE, value != 0);
    case TOption::Broadcast: return SetInt(fd, SOL_SOCKET, SO_BROADCAST, value != 0);
    case TOption::OobInline: return SetInt(fd, SOL_SOCKET, SO_OOBINLINE, value != 0);
    case TOption::SndBuf: return SetInt(fd, SOL_SOCKET, SO_SNDBUF, value);
    case TOption::RcvBuf: return SetInt(fd, SOL_SOCKET, SO_RCVBUF, value);
    case TOption::NoDelay: return SetInt(fd, IPPROTO_TCP, TCP_NODELAY, value != 0);
  }
  return -WSAENOPROTOOPT;
}

int SetLinger(int fd, bool on, int seconds) {
  ::linger l{on ? 1 : 0, seconds};
  return setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : Fail();
}

// ---- Resolver ----

namespace {

int WsaFromHostError(int herr, int err) {
  switch (herr) {
    case HOST_NOT_FOUND: return WSAHOST_NOT_FOUND;
    case TRY_AGAIN: return WSATRY_AGAIN;
    case NO_RECOVERY: return WSANO_RECOVERY;
    case NO_DATA: return WSANO_DATA;
    default: return err ? WsaFromErrno(err) : WSANO_RECOVERY;
  }
}

std::vector<std::string> Strings(char** list) {
  std::vector<std::string> out;
  for (; list && *list; ++list) out.emplace_back(*list);
  return out;
}

// The reentrant lookups want a scratch buffer of unknown size: grow it while they answer ERANGE.
template <class F>
int WithScratch(F lookup) {
  std::vector<char> scratch(2048);
  for (;;) {
    int r = lookup(scratch.data(), scratch.size());
    if (r != ERANGE || scratch.size() >= (1u << 22)) return r;
    scratch.resize(scratch.size() * 2);
  }
}

int FromHostent(const hostent* h, THostEntry& entry) {
  if (h->h_addrtype != AF_INET || h->h_length != 4) return WSANO_DATA;
  entry.Name = h->h_name ? h->h_name : "";
  entry.Aliases = Strings(h->h_aliases);
  entry.Addresses.clear();
  for (char** a = h->h_addr_list; a && *a; ++a) {
    std::uint32_t v;
    std::memcpy(&v, *a, 4);
    entry.Addresses.push_back(v);
  }
  return 0;
}

}  // namespace

// gethostbyname_r keeps the order of the host database (no address sorting), which callers rely on.
int HostByName(const char* name, THostEntry& entry) {
  int result = 0;
  int r = WithScratch([&](char* buf, size_t size) {
    hostent h{};
    hostent* found = nullptr;
    int herr = 0;
    int rc = gethostbyname_r(name, &h, buf, size, &found, &herr);
    if (rc == ERANGE) return ERANGE;
    result = found ? FromHostent(found, entry) : WsaFromHostError(herr, rc);
    return 0;
  });
  return r ? WSANO_RECOVERY : result;
}

int HostByAddr(std::uint32_t addr, THostEntry& entry) {
  int result = 0;
  int r = WithScratch([&](char* buf, size_t size) {
    hostent h{};
    hostent* found = nullptr;
    int herr = 0;
    int rc = gethostbyaddr_r(&addr, sizeof addr, AF_INET, &h, buf, size, &found, &herr);
    if (rc == ERANGE) return ERANGE;
    result = found ? FromHostent(found, entry) : WsaFromHostError(herr, rc);
    return 0;
  });
  return r ? WSANO_RECOVERY : result;
}

int ServByName(const char* name, const char* proto, TServEntry& entry) {
  int result = 0;
  int r = WithScratch([&](char* buf, size_t size) {
    servent s{};
    servent* found = nullptr;
    int rc = getservbyname_r(name, proto, &s, buf, size, &found);
    if (rc == ERANGE) return ERANGE;
    if (!found) {
      result = WSANO_DATA;  // an unknown service is "no data" there, whatever the files said
      return 0;
    }
    entry.Name = found->s_name ? found->s_name : "";
    entry.Aliases = Strings(found->s_aliases);
    entry.Port = static_cast<std::uint16_t>(found->s_port);  // already in network byte order
    entry.Proto = found->s_proto ? found->s_proto : "";
    return 0;
  });
  return r ? WSANO_RECOVERY : result;
}

int ProtoByName(const char* name, TProtoEntry& entry) {
  int result = 0;
  int r = WithScratch([&](char* buf, size_t size) {
    protoent p{};
    protoent* found = nullptr;
    int rc = getprotobyname_r(name, &p, buf, size, &found);
    if (rc == ERANGE) return ERANGE;
    if (!found) {
      result = WSANO_DATA;
      return 0;
    }
    entry.Name = found->p_name ? found->p_name : "";
    entry.Aliases = Strings(found->p_aliases);
    entry.Number = found->p_proto;
    return 0;
  });
  return r ? WSANO_RECOVERY : result;
}

int HostName(std::string& name) {
  utsname u{};
  if (uname(&u) < 0) return WsaFromErrno(errno);
  name = u.nodename;
  return 0;
}

bool ParseAddress(const char* text, std::uint32_t& addr) {
  in_addr a{};
  if (inet_aton(text, &a) == 0) return false;
  addr = a.s_addr;
  return true;
}

}  // namespace wsock32::sys
