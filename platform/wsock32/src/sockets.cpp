// The socket table and the socket calls: creation, addresses, connections, data, options and commands.
#include <bit>
#include <cstring>
#include <utility>
#include <vector>

#include "state.h"

namespace wsock32 {

namespace {

// Lives as long as the process: the notifier thread may still look sockets up while static objects are
// destroyed at exit (a program need not call the last WSACleanup).
struct TTable {
  std::mutex Lock;
  std::vector<PSocket> Sockets;  // by descriptor
  std::uint32_t NextGeneration = 1;
};
TTable& Tab() {
  static TTable* t = new TTable;
  return *t;
}

// Generations stay below 2^31, so no handle is INVALID_SOCKET and every handle is unique while the
// process lives (a generation comes round again only after 2^31 opens).
SOCKET MakeHandle(int fd, std::uint32_t generation) {
  return (static_cast<SOCKET>(generation) << 32) | static_cast<std::uint32_t>(fd);
}

PSocket Lookup(SOCKET s) {
  if (s == INVALID_SOCKET) return nullptr;
  std::uint32_t fd = static_cast<std::uint32_t>(s & 0xFFFFFFFFu);
  TTable& t = Tab();
  std::lock_guard lock(t.Lock);
  if (fd >= t.Sockets.size() || !t.Sockets[fd] || t.Sockets[fd]->Handle != s) return nullptr;
  return t.Sockets[fd];
}

int Fail(int code) {
  SetError(code);
  return SOCKET_ERROR;
}

// The Winsock record as the caller gave it: present, long enough, and of the Internet family.
int CheckAddress(const sockaddr* addr, int len) {
  if (!addr || len < static_cast<int>(sizeof(sockaddr_in))) return WSAEFAULT;
  if (reinterpret_cast<const sockaddr_in*>(addr)->sin_family != AF_INET) return WSAEAFNOSUPPORT;
  return 0;
}

// A destination must name a real peer: the any-address or port 0 is no one to talk to.
bool IsNoPeer(const sockaddr* addr) {
  sockaddr_in a;
  std::memcpy(&a, addr, sizeof a);
  return a.sin_addr.s_addr == INADDR_ANY || a.sin_port == 0;
}

// The caller's output record: null is allowed when the length is null too; otherwise 16 bytes at least.
int CheckOutAddress(const sockaddr* addr, const int* len) {
  if (!addr) return 0;
  if (!len || *len < static_cast<int>(sizeof(sockaddr_in))) return WSAEFAULT;
  return 0;
}

void PutAddress(const char (&raw)[sys::AddrSize], sockaddr* addr, int* len) {
  if (!addr) return;
  std::memcpy(addr, raw, sys::AddrSize);
  *len = sys::AddrSize;
}

// Keeps count of calls that may sleep in the kernel, so that closesocket can wake them.
struct TBlockingCall {
  TSocket& S;
  bool Blocking;
  TBlockingCall(TSocket& s, bool blocking) : S(s), Blocking(blocking) {
    if (Blocking) S.BlockingCalls.fetch_add(1);
  }
  ~TBlockingCall() {
    if (Blocking) S.BlockingCalls.fetch_sub(1);
  }
};

// A call that the socket's closing interrupted reports it as the original does.
int Interrupted(TSocket& s, int err) {
  std::lock_guard lock(s.Lock);
  return s.Closed ? WSAEINTR : err;
}

int DoSend(TSocket& s, const char* buf, int len, int flags, const sockaddr* to) {
  bool blocking;
  {
    std::lock_guard lock(s.Lock);
    if (s.ShutSend) return Fail(WSAESHUTDOWN);
    RefreshConnectLocked(s);
    if (!s.Datagram && s.Stream != TStreamState::Connected) return Fail(WSAENOTCONN);
    blocking = !s.NonBlocking;
  }
  int r;
  {
    TBlockingCall call(s, blocking);
    r = sys::Send(s.Fd, buf, len, flags, s.Datagram ? to : nullptr);
  }
  if (r >= 0) return r;
  int err = -r;
  if (err == WSAEWOULDBLOCK) AfterWouldBlockSend(s);
  if (s.Datagram && err == WSAEDESTADDRREQ && !to) err = WSAENOTCONN;
  if (blocking) err = Interrupted(s, err);
  return Fail(err);
}

int DoReceive(TSocket& s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  bool blocking;
  int arrived = 0;  // an error that came in for a datagram socket is the answer of this receive
  {
    std::lock_guard lock(s.Lock);
    if (s.ShutRecv) return Fail(WSAESHUTDOWN);
    RefreshConnectLocked(s);
    if (!s.Datagram && s.Stream != TStreamState::Connected) return Fail(WSAENOTCONN);
    std::swap(arrived, s.DatagramError);
    blocking = !s.NonBlocking;
  }
  if (arrived) {
    AfterReceive(s);
    return Fail(arrived);
  }
  char peer[sys::AddrSize] = {};
  bool truncated = false;
  int r;
  {
    TBlockingCall call(s, blocking);
    r = sys::Receive(s.Fd, buf, len, flags, from ? peer : nullptr, truncated);
  }
  AfterReceive(s, r == -WSAEWOULDBLOCK);
  if (r >= 0) {
    // What a receive woken by closesocket found (an end of stream, an empty datagram) is not data.
    if (blocking && r == 0 && Interrupted(s, 0)) return Fail(WSAEINTR);
    if (!s.Datagram && r == 0 && len > 0) {
      std::lock_guard lock(s.Lock);
      if (s.PeerClosed && s.CloseError) return Fail(s.CloseError);  // a reset stays a reset
      return 0;
    }
    if (s.Datagram) PutAddress(peer, from, fromlen);
    if (truncated) return Fail(WSAEMSGSIZE);  // the buffer holds the start; the rest is gone
    return r;
  }
  int err = -r;
  if (s.Datagram && err == WSAECONNREFUSED) err = WSAECONNRESET;  // an unreachable port, told as there
  if (!s.Datagram && err == WSAECONNRESET) {
    std::lock_guard lock(s.Lock);
    if (!s.PeerClosed) {
      s.PeerClosed = true;
      s.CloseError = WSAECONNRESET;
    }
  }
  if (blocking) err = Interrupted(s, err);
  return Fail(err);
}

int CheckBuffer(const char* buf, int len) {
  if (len < 0) return WSAEINVAL;
  if (!buf && len > 0) return WSAEFAULT;
  return 0;
}

}  // namespace

PSocket AddSocket(int fd, bool datagram) {
  auto s = std::make_shared<TSocket>(fd, datagram);
  TTable& t = Tab();
  std::lock_guard lock(t.Lock);
  std::uint32_t generation = t.NextGeneration;
  t.NextGeneration = t.NextGeneration >= 0x7FFFFFFFu ? 1 : t.NextGeneration + 1;
  s->Handle = MakeHandle(fd, generation);
  auto slot = static_cast<std::size_t>(fd);
  if (slot >= t.Sockets.size()) t.Sockets.resize(slot + 1);
  t.Sockets[slot] = s;
  return s;
}

PSocket FindSocket(SOCKET s) {
  if (!CheckStarted()) return nullptr;
  PSocket p = Lookup(s);
  if (!p) SetError(WSAENOTSOCK);
  return p;
}

PSocket FindSocketQuiet(SOCKET s) { return Lookup(s); }

PSocket TakeSocket(SOCKET s) {
  if (!CheckStarted()) return nullptr;
  if (s != INVALID_SOCKET) {
    std::uint32_t fd = static_cast<std::uint32_t>(s & 0xFFFFFFFFu);
    TTable& t = Tab();
    std::lock_guard lock(t.Lock);
    if (fd < t.Sockets.size() && t.Sockets[fd] && t.Sockets[fd]->Handle == s) return std::move(t.Sockets[fd]);
  }
  SetError(WSAENOTSOCK);
  return nullptr;
}

namespace {
void Retire(PSocket s) {
  {
    std::lock_guard lock(s->Lock);
    RetireLocked(*s);
  }
  // A call sleeping on the descriptor in another thread would keep it open: wake it.
  if (s->BlockingCalls.load() > 0) sys::ShutdownBoth(s->Fd);
}
}  // namespace

void CloseAllSockets() {
  std::vector<PSocket> all;
  {
    TTable& t = Tab();
    std::lock_guard lock(t.Lock);
    all.swap(t.Sockets);
  }
  for (PSocket& s : all)
    if (s) Retire(std::move(s));
}

}  // namespace wsock32

using namespace wsock32;

extern "C" {

SOCKET wsock32_socket(int af, int type, int protocol) {
  if (!CheckStarted()) return INVALID_SOCKET;
  if (af != AF_INET) return SetError(WSAEAFNOSUPPORT), INVALID_SOCKET;
  if (type != SOCK_STREAM && type != SOCK_DGRAM) return SetError(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
  bool datagram = type == SOCK_DGRAM;
  if (protocol != 0 && protocol != (datagram ? IPPROTO_UDP : IPPROTO_TCP)) {
    SetError(protocol == IPPROTO_TCP || protocol == IPPROTO_UDP ? WSAEPROTOTYPE : WSAEPROTONOSUPPORT);
    return INVALID_SOCKET;
  }
  int fd = sys::Socket(datagram);
  if (fd < 0) return SetError(-fd), INVALID_SOCKET;
  return AddSocket(fd, datagram)->Handle;
}

int wsock32_closesocket(SOCKET s) {
  PSocket p = TakeSocket(s);
  if (!p) return SOCKET_ERROR;
  Retire(std::move(p));
  return 0;
}

int wsock32_bind(SOCKET s, const struct sockaddr* addr, int namelen) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (int err = CheckAddress(addr, namelen)) return Fail(err);
  int r = sys::Bind(p->Fd, addr);
  return r < 0 ? Fail(-r) : 0;
}

int wsock32_connect(SOCKET s, const struct sockaddr* name, int namelen) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (int err = CheckAddress(name, namelen)) return Fail(err);
  if (IsNoPeer(name)) return Fail(WSAEADDRNOTAVAIL);
  bool blocking;
  {
    std::lock_guard lock(p->Lock);
    if (!p->Datagram) {
      RefreshConnectLocked(*p);
      switch (p->Stream) {
        case TStreamState::Listening: return Fail(WSAEINVAL);
        case TStreamState::Connecting: return Fail(WSAEALREADY);
        case TStreamState::Connected: return Fail(WSAEISCONN);
        case TStreamState::Failed:
          // The failure of the last attempt is its answer once; a new attempt may follow.
          p->Stream = TStreamState::Fresh;
          return Fail(p->ConnectError);
        default: break;
      }
    }
    blocking = !p->NonBlocking;
  }
  int r;
  {
    TBlockingCall call(*p, blocking);
    r = sys::Connect(p->Fd, name);
  }
  if (p->Datagram) return r < 0 ? Fail(-r) : 0;
  if (r == 0 && blocking) {
    std::lock_guard lock(p->Lock);
    if (p->Closed) return Fail(WSAEINTR);
    p->Stream = TStreamState::Connected;
    UpdateInterestLocked(*p);
    return 0;
  }
  if (r == 0 || r == -WSAEWOULDBLOCK) {
    // Under way (or done at once): either way FD_CONNECT tells the end, before any other notification.
    AfterConnectStarted(*p);
    return r == 0 ? 0 : Fail(WSAEWOULDBLOCK);
  }
  return Fail(blocking ? Interrupted(*p, -r) : -r);
}

int wsock32_listen(SOCKET s, int backlog) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  {
    std::lock_guard lock(p->Lock);
    if (p->Datagram) return Fail(WSAEOPNOTSUPP);
    if (p->Stream == TStreamState::Connected || p->Stream == TStreamState::Connecting) return Fail(WSAEISCONN);
  }
  int r = sys::Listen(p->Fd, backlog < 1 ? 1 : backlog);
  if (r < 0) return Fail(-r);
  std::lock_guard lock(p->Lock);
  p->Stream = TStreamState::Listening;
  UpdateInterestLocked(*p);
  return 0;
}

SOCKET wsock32_accept(SOCKET s, struct sockaddr* addr, int* addrlen) {
  PSocket p = FindSocket(s);
  if (!p) return INVALID_SOCKET;
  if (int err = CheckOutAddress(addr, addrlen)) return SetError(err), INVALID_SOCKET;
  bool nonBlocking;
  {
    std::lock_guard lock(p->Lock);
    if (p->Datagram) return SetError(WSAEOPNOTSUPP), INVALID_SOCKET;
    if (p->Stream != TStreamState::Listening) return SetError(WSAEINVAL), INVALID_SOCKET;
    nonBlocking = p->NonBlocking;
  }
  char peer[sys::AddrSize] = {};
  int fd;
  {
    TBlockingCall call(*p, !nonBlocking);
    fd = sys::Accept(p->Fd, peer, nonBlocking);
  }
  AfterAccept(*p);
  if (fd < 0) return SetError(nonBlocking ? -fd : Interrupted(*p, -fd)), INVALID_SOCKET;
  PSocket n = AddSocket(fd, false);
  {
    // The new socket has the listening socket's properties, its notifications included.
    std::scoped_lock lock(p->Lock, n->Lock);
    n->Stream = TStreamState::Connected;
    n->NonBlocking = nonBlocking;
    n->Wnd = p->Wnd;
    n->Msg = p->Msg;
    n->Mask = p->Mask;
    n->ReadArmed = n->WriteArmed = n->OobArmed = n->AcceptArmed = n->CloseArmed = true;
    UpdateInterestLocked(*n);
  }
  PutAddress(peer, addr, addrlen);
  return n->Handle;
}

int wsock32_shutdown(SOCKET s, int how) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (how < SD_RECEIVE || how > SD_BOTH) return Fail(WSAEINVAL);
  std::lock_guard lock(p->Lock);
  RefreshConnectLocked(*p);
  if (!p->Datagram && p->Stream != TStreamState::Connected) return Fail(WSAENOTCONN);
  // Receiving is refused by the layer itself: Linux would make a shut receive side look like the peer's end.
  if (how != SD_RECEIVE && !p->Datagram) {
    int r = sys::ShutdownSend(p->Fd);
    if (r < 0) return Fail(-r);
  }
  if (how != SD_RECEIVE) p->ShutSend = true;
  if (how != SD_SEND) p->ShutRecv = true;
  UpdateInterestLocked(*p);
  return 0;
}

int wsock32_send(SOCKET s, const char* buf, int len, int flags) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (int err = CheckBuffer(buf, len)) return Fail(err);
  if (flags & ~(MSG_OOB | MSG_DONTROUTE)) return Fail(WSAEINVAL);
  return DoSend(*p, buf, len, flags, nullptr);
}

int wsock32_sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (int err = CheckBuffer(buf, len)) return Fail(err);
  if (flags & ~(MSG_OOB | MSG_DONTROUTE)) return Fail(WSAEINVAL);
  if (p->Datagram && (to || tolen > 0)) {
    if (int err = CheckAddress(to, tolen)) return Fail(err);
    if (IsNoPeer(to)) return Fail(WSAEADDRNOTAVAIL);
  }
  return DoSend(*p, buf, len, flags, p->Datagram ? to : nullptr);
}

int wsock32_recv(SOCKET s, char* buf, int len, int flags) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (int err = CheckBuffer(buf, len)) return Fail(err);
  if (flags & ~(MSG_OOB | MSG_PEEK)) return Fail(WSAEINVAL);
  return DoReceive(*p, buf, len, flags, nullptr, nullptr);
}

int wsock32_recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (int err = CheckBuffer(buf, len)) return Fail(err);
  if (flags & ~(MSG_OOB | MSG_PEEK)) return Fail(WSAEINVAL);
  // On a stream socket the sender is known: the record is not used, as there.
  if (!p->Datagram) return DoReceive(*p, buf, len, flags, nullptr, nullptr);
  if (int err = CheckOutAddress(from, fromlen)) return Fail(err);
  return DoReceive(*p, buf, len, flags, from, fromlen);
}

int wsock32_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (level != SOL_SOCKET && level != IPPROTO_TCP) return Fail(WSAEINVAL);
  if (!optval) return Fail(WSAEFAULT);
  if (level == SOL_SOCKET && optname == SO_LINGER) {
    if (p->Datagram) return Fail(WSAENOPROTOOPT);
    if (optlen < static_cast<int>(sizeof(linger))) return Fail(WSAEFAULT);
    linger l;
    std::memcpy(&l, optval, sizeof l);
    int r = sys::SetLinger(p->Fd, l.l_onoff != 0, l.l_linger);
    return r < 0 ? Fail(-r) : 0;
  }
  if (optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
  int value;
  std::memcpy(&value, optval, sizeof value);
  if (level == SOL_SOCKET && optname == SO_DONTLINGER) {
    if (p->Datagram) return Fail(WSAENOPROTOOPT);
    int r = sys::SetLinger(p->Fd, value == 0, 0);
    return r < 0 ? Fail(-r) : 0;
  }
  sys::TOption option;
  if (level == IPPROTO_TCP) {
    if (optname != TCP_NODELAY || p->Datagram) return Fail(WSAENOPROTOOPT);
    option = sys::TOption::NoDelay;
  } else {
    switch (optname) {
      case SO_REUSEADDR:
        // Stream sockets always reuse (a port in TIME_WAIT binds again, as there); nothing to change.
        if (!p->Datagram) return 0;
        option = sys::TOption::ReuseAddr;
        break;
      case SO_KEEPALIVE:
        if (p->Datagram) return Fail(WSAENOPROTOOPT);
        option = sys::TOption::KeepAlive;
        break;
      case SO_DONTROUTE: option = sys::TOption::DontRoute; break;
      case SO_BROADCAST:
        if (!p->Datagram) return Fail(WSAENOPROTOOPT);
        option = sys::TOption::Broadcast;
        break;
      case SO_OOBINLINE:
        if (p->Datagram) return Fail(WSAENOPROTOOPT);
        option = sys::TOption::OobInline;
        break;
      case SO_SNDBUF: option = sys::TOption::SndBuf; break;
      case SO_RCVBUF: option = sys::TOption::RcvBuf; break;
      default: return Fail(WSAENOPROTOOPT);
    }
    if ((optname == SO_SNDBUF || optname == SO_RCVBUF) && value < 0) return Fail(WSAEINVAL);
  }
  int r = sys::SetOption(p->Fd, option, value);
  return r < 0 ? Fail(-r) : 0;
}

int wsock32_ioctlsocket(SOCKET s, LONG cmd, ULONG* argp) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (!argp) return Fail(WSAEFAULT);
  if (cmd == FIONBIO) {
    bool on = *argp != 0;
    std::lock_guard lock(p->Lock);
    // While notifications are on, the socket must stay non-blocking.
    if (!on && p->Mask != 0) return Fail(WSAEINVAL);
    int r = sys::SetNonBlocking(p->Fd, on);
    if (r < 0) return Fail(-r);
    p->NonBlocking = on;
    return 0;
  }
  if (cmd == FIONREAD) {
    {
      std::lock_guard lock(p->Lock);
      if (!p->Datagram && p->Stream == TStreamState::Listening) {
        *argp = 0;
        return 0;
      }
    }
    int n = sys::Pending(p->Fd);
    if (n < 0) return Fail(-n);
    *argp = static_cast<ULONG>(n);
    return 0;
  }
  return Fail(WSAEINVAL);
}

int wsock32_getsockname(SOCKET s, struct sockaddr* name, int* namelen) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  char raw[sys::AddrSize];
  int r = sys::GetSockName(p->Fd, raw);
  if (r < 0) return Fail(-r);
  sockaddr_in a;
  std::memcpy(&a, raw, sizeof a);
  if (a.sin_port == 0) return Fail(WSAEINVAL);  // not bound yet
  PutAddress(raw, name, namelen);
  return 0;
}

int wsock32_getpeername(SOCKET s, struct sockaddr* name, int* namelen) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  char raw[sys::AddrSize];
  int r = sys::GetPeerName(p->Fd, raw);
  if (r < 0) return Fail(-r);
  PutAddress(raw, name, namelen);
  return 0;
}

u_short wsock32_htons(u_short hostshort) {
  if constexpr (std::endian::native == std::endian::big) return hostshort;
  return static_cast<u_short>((hostshort >> 8) | (hostshort << 8));
}
u_short wsock32_ntohs(u_short netshort) { return wsock32_htons(netshort); }

}  // extern "C"
