// WSAAsyncSelect and the notifier: one thread per process that waits on epoll and turns readiness into posted
// notifications, following Winsock 1.1's rules:
// - each event is posted once and then waits for its re-enabling call (recv/recvfrom for FD_READ and FD_OOB,
//   accept for FD_ACCEPT, a send that would block for FD_WRITE); a condition that still holds when its event
//   is re-enabled is posted again, except that an FD_READ still waiting unread in the window's queue is not
//   joined by a second one for the same socket;
// - FD_CONNECT reports the end of a non-blocking connect once, before any other event of the socket; a failed
//   connect reports nothing else;
// - FD_CLOSE reports the peer's end once per selection, 0 for an orderly close, the error for a reset;
// - WSAAsyncSelect re-enables everything, so conditions that already hold are posted at once.
//
// Registrations are one-shot: every event the kernel reports disarms the socket until the notifier arms it
// again with the events still wanted. A descriptor whose peer has gone stays readable (and hung up) forever;
// one-shot arming keeps that from spinning. All posting happens under the socket's lock, after checking that
// it is not closed, so nothing is posted for a socket once closesocket has returned.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "state.h"

namespace wsock32 {

namespace {

// Lives as long as the process, so that a notifier still running at exit (no last WSACleanup) never meets
// destroyed objects.
struct TNotifier {
  std::mutex Lock;  // start and stop
  std::thread Thread;
  std::atomic<int> Epoll{-1};
  int WakeFd = -1;
  std::atomic<bool> Stopping{false};
};
TNotifier& N() {
  static TNotifier* n = new TNotifier;
  return *n;
}

constexpr std::uint64_t WakeKey = 0;  // no socket handle is 0: generations start at 1

bool Wants(const TSocket& s, LONG event) { return (s.Mask & event) != 0; }

std::uint32_t DesiredEvents(const TSocket& s) {
  if (s.Closed || s.Mask == 0) return 0;
  std::uint32_t ev = 0;
  if (s.Datagram) {
    if (Wants(s, FD_READ) && s.ReadArmed && !s.ShutRecv) ev |= EPOLLIN;
    if (Wants(s, FD_WRITE) && s.WriteArmed && !s.ShutSend) ev |= EPOLLOUT;
    return ev;
  }
  switch (s.Stream) {
    case TStreamState::Connecting: return EPOLLOUT;  // completion, whichever events are wanted
    case TStreamState::Listening: return Wants(s, FD_ACCEPT) && s.AcceptArmed ? std::uint32_t{EPOLLIN} : 0u;
    case TStreamState::Connected:
      if (!s.PeerClosed) {
        if (Wants(s, FD_READ) && s.ReadArmed && !s.ShutRecv) ev |= EPOLLIN;
        if (Wants(s, FD_OOB) && s.OobArmed) ev |= EPOLLPRI;
        if (Wants(s, FD_CLOSE) && s.CloseArmed) ev |= EPOLLRDHUP;
        if (ev) ev |= EPOLLRDHUP;  // so that the end of the stream is never taken for data
      }
      if (Wants(s, FD_WRITE) && s.WriteArmed && !s.ShutSend && s.CloseError == 0) ev |= EPOLLOUT;
      return ev;
    default: return 0;
  }
}

bool DataWaiting(const TSocket& s) { return sys::Pending(s.Fd) > 0; }

// The end of a connect: FD_CONNECT first, then what a connected socket can already do.
void CompleteConnectLocked(TSocket& s, int error) {
  s.Stream = error ? TStreamState::Failed : TStreamState::Connected;
  s.ConnectError = error;
  if (Wants(s, FD_CONNECT)) {
    PostLocked(s, FD_CONNECT, error);
    s.ConnectReported = true;
  }
  if (!error && Wants(s, FD_WRITE) && s.WriteArmed) {
    s.WriteArmed = false;
    PostLocked(s, FD_WRITE, 0);
  }
}

// The end of the connect as the kernel tells it.
void FinishConnectLocked(TSocket& s) {
  int err = sys::TakeSocketError(s.Fd);
  char peer[sys::AddrSize];
  if (!err && sys::GetPeerName(s.Fd, peer) < 0) err = WSAECONNREFUSED;
  CompleteConnectLocked(s, err);
}

void HandleLocked(TSocket& s, std::uint32_t events) {
  s.KernelArmed = false;  // one-shot: the kernel disarmed it
  if (s.Mask == 0) return;
  if (s.Datagram) {
    if (events & EPOLLERR) {
      // An ICMP error for a connected datagram socket: the next receive reports it, as there.
      int err = sys::TakeSocketError(s.Fd);
      if (err == WSAECONNREFUSED) err = WSAECONNRESET;
      if (err) s.DatagramError = err;
    }
    if ((events & (EPOLLIN | EPOLLERR)) && Wants(s, FD_READ) && s.ReadArmed && !s.ShutRecv) {
      s.ReadArmed = false;
      PostLocked(s, FD_READ, 0);
    }
    if ((events & EPOLLOUT) && Wants(s, FD_WRITE) && s.WriteArmed) {
      s.WriteArmed = false;
      PostLocked(s, FD_WRITE, 0);
    }
    return;
  }
  switch (s.Stream) {
    case TStreamState::Connecting: FinishConnectLocked(s); break;
    case TStreamState::Listening:
      if ((events & EPOLLIN) && Wants(s, FD_ACCEPT) && s.AcceptArmed) {
        s.AcceptArmed = false;
        PostLocked(s, FD_ACCEPT, 0);
      }
      break;
    case TStreamState::Connected: {
      if (!s.PeerClosed) {
        if (events & EPOLLERR) {
          int err = sys::TakeSocketError(s.Fd);
          if (err) {
            s.PeerClosed = true;
            s.CloseError = err == WSAECONNRESET ? WSAECONNRESET : WSAECONNABORTED;
          }
        }
        if (!s.PeerClosed && (events & (EPOLLRDHUP | EPOLLHUP))) s.PeerClosed = true;
      }
      bool readable = s.PeerClosed ? DataWaiting(s) : (events & EPOLLIN) != 0;
      if (readable && Wants(s, FD_READ) && s.ReadArmed && !s.ShutRecv) {
        s.ReadArmed = false;
        PostLocked(s, FD_READ, 0);
      }
      if ((events & EPOLLPRI) && Wants(s, FD_OOB) && s.OobArmed) {
        s.OobArmed = false;
        PostLocked(s, FD_OOB, 0);
      }
      if ((events & EPOLLOUT) && s.CloseError == 0 && Wants(s, FD_WRITE) && s.WriteArmed) {
        s.WriteArmed = false;
        PostLocked(s, FD_WRITE, 0);
      }
      if (s.PeerClosed && Wants(s, FD_CLOSE) && s.CloseArmed) {
        s.CloseArmed = false;
        PostLocked(s, FD_CLOSE, s.CloseError);
      }
      break;
    }
    default: break;
  }
}

void Run() {
  epoll_event events[64];
  for (;;) {
    int n = epoll_wait(N().Epoll.load(), events, 64, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == WakeKey) {
        if (N().Stopping.load()) return;
        continue;
      }
      PSocket s = FindSocketQuiet(static_cast<SOCKET>(events[i].data.u64));
      if (!s) continue;  // closed since the kernel reported it
      std::lock_guard lock(s->Lock);
      if (s->Closed) continue;
      HandleLocked(*s, events[i].events);
      UpdateInterestLocked(*s);
    }
  }
}

}  // namespace

bool EnsureNotifier() {
  TNotifier& n = N();
  std::lock_guard lock(n.Lock);
  if (n.Thread.joinable()) return true;
  if (!Started()) {
    SetError(WSANOTINITIALISED);
    return false;
  }
  int ep = epoll_create1(EPOLL_CLOEXEC);
  int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = WakeKey;
  if (ep < 0 || wake < 0 || epoll_ctl(ep, EPOLL_CTL_ADD, wake, &ev) < 0) {
    int err = sys::WsaFromErrno(errno);
    if (ep >= 0) close(ep);
    if (wake >= 0) close(wake);
    SetError(err);
    return false;
  }
  n.Epoll.store(ep);
  n.WakeFd = wake;
  n.Stopping.store(false);
  try {
    n.Thread = std::thread(Run);
  } catch (const std::system_error&) {
    n.Epoll.store(-1);
    close(ep);
    close(wake);
    n.WakeFd = -1;
    SetError(WSAENOBUFS);
    return false;
  }
  return true;
}

void StopNotifier() {
  TNotifier& n = N();
  std::lock_guard lock(n.Lock);
  if (!n.Thread.joinable()) return;
  n.Stopping.store(true);
  std::uint64_t one = 1;
  ssize_t w = write(n.WakeFd, &one, sizeof one);
  (void)w;  // an eventfd write of 1 cannot fail short of overflow
  n.Thread.join();
  close(n.Epoll.exchange(-1));
  close(n.WakeFd);
  n.WakeFd = -1;
}

void UpdateInterestLocked(TSocket& s) {
  int ep = N().Epoll.load();
  if (ep < 0) return;
  std::uint32_t want = DesiredEvents(s);
  if (want == 0) {
    // Disarmed by the kernel already, or armed with events no longer wanted: remove it.
    if (s.Registered && s.KernelArmed) {
      epoll_ctl(ep, EPOLL_CTL_DEL, s.Fd, nullptr);
      s.Registered = false;
      s.KernelArmed = false;
    }
    return;
  }
  if (s.Registered && s.KernelArmed && s.KernelEvents == want) return;
  epoll_event ev{};
  ev.events = want | EPOLLONESHOT;
  ev.data.u64 = s.Handle;
  int r = epoll_ctl(ep, s.Registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, s.Fd, &ev);
  if (r < 0 && !s.Registered && errno == EEXIST) r = epoll_ctl(ep, EPOLL_CTL_MOD, s.Fd, &ev);
  if (r < 0 && s.Registered && errno == ENOENT) r = epoll_ctl(ep, EPOLL_CTL_ADD, s.Fd, &ev);
  if (r == 0) {
    s.Registered = true;
    s.KernelArmed = true;
    s.KernelEvents = want;
  }
}

void RetireLocked(TSocket& s) {
  s.Closed = true;
  s.Mask = 0;
  int ep = N().Epoll.load();
  if (s.Registered && ep >= 0) epoll_ctl(ep, EPOLL_CTL_DEL, s.Fd, nullptr);
  s.Registered = false;
  s.KernelArmed = false;
}

void PostLocked(TSocket& s, LONG event, int error) {
  const WPARAM wParam = static_cast<WPARAM>(s.Handle);
  const LPARAM lParam = WSAMAKESELECTREPLY(static_cast<WORD>(event), static_cast<WORD>(error));
  // A receive loop that drains several datagrams re-enables FD_READ after each one while the notification it
  // posted after the first still waits; more of them would only find the socket empty.
  if (event == FD_READ)
    PostOnceTo(s.Wnd, s.Msg, wParam, lParam);
  else
    PostTo(s.Wnd, s.Msg, wParam, lParam);
}

void AfterReceive(TSocket& s, bool foundNothing) {
  std::lock_guard lock(s.Lock);
  if (s.Closed || s.Mask == 0) return;
  s.ReadArmed = true;
  s.OobArmed = true;
  // Data left behind are posted again at once, from the receiving thread: a busy socket then costs no trip
  // through the notifier. (After the peer's end this is also the only way: the kernel cannot tell data from
  // the end of the stream. So a receive that found nothing still looks when the notifier has seen that end
  // meanwhile: the last bytes came with it, and the notifier did not post them, the read being disarmed.)
  bool canRead = s.Datagram || s.Stream == TStreamState::Connected;
  if (canRead && (!foundNothing || s.PeerClosed) && Wants(s, FD_READ) && !s.ShutRecv && DataWaiting(s)) {
    s.ReadArmed = false;
    PostLocked(s, FD_READ, 0);
  }
  UpdateInterestLocked(s);
}

void AfterAccept(TSocket& s) {
  std::lock_guard lock(s.Lock);
  if (s.Closed || s.Mask == 0) return;
  s.AcceptArmed = true;
  UpdateInterestLocked(s);
}

void AfterWouldBlockSend(TSocket& s) {
  std::lock_guard lock(s.Lock);
  if (s.Closed || s.Mask == 0) return;
  s.WriteArmed = true;
  UpdateInterestLocked(s);
}

void RefreshConnectLocked(TSocket& s) {
  if (s.Closed || s.Datagram || s.Stream != TStreamState::Connecting || !sys::ConnectEnded(s.Fd)) return;
  FinishConnectLocked(s);
  UpdateInterestLocked(s);
}

void AfterConnectStarted(TSocket& s) {
  std::lock_guard lock(s.Lock);
  s.Stream = TStreamState::Connecting;
  s.ConnectReported = false;
  s.ConnectError = 0;
  UpdateInterestLocked(s);
}

}  // namespace wsock32

using namespace wsock32;

extern "C" int wsock32_WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, LONG lEvent) {
  PSocket p = FindSocket(s);
  if (!p) return SOCKET_ERROR;
  constexpr LONG known = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
  if (lEvent & ~known) return SetError(WSAEINVAL), SOCKET_ERROR;
  if (!HaveWindowFunctions()) return SetError(WSASYSNOTREADY), SOCKET_ERROR;
  if (!WindowExists(hWnd)) return SetError(WSAEINVAL), SOCKET_ERROR;
  if (lEvent != 0 && !EnsureNotifier()) return SOCKET_ERROR;
  std::lock_guard lock(p->Lock);
  if (p->Closed) return SetError(WSAENOTSOCK), SOCKET_ERROR;
  // The socket becomes non-blocking whatever the mask, as there.
  if (int r = sys::SetNonBlocking(p->Fd, true); r < 0) return SetError(-r), SOCKET_ERROR;
  p->NonBlocking = true;
  p->Wnd = hWnd;
  p->Msg = wMsg;
  p->Mask = lEvent;
  p->ReadArmed = p->WriteArmed = p->OobArmed = p->AcceptArmed = p->CloseArmed = true;
  if (lEvent != 0 && !p->Datagram) {
    TSocket& t = *p;
    // What the notifier can no longer learn from the kernel is posted here: a connect whose end was never
    // reported, and the peer's end with what it left behind.
    bool connectEnded = t.Stream == TStreamState::Failed || t.Stream == TStreamState::Connected;
    if (connectEnded && !t.ConnectReported && Wants(t, FD_CONNECT)) {
      PostLocked(t, FD_CONNECT, t.ConnectError);
      t.ConnectReported = true;
    }
    if (t.Stream == TStreamState::Connected && t.PeerClosed) {
      if (Wants(t, FD_READ) && !t.ShutRecv && DataWaiting(t)) {
        t.ReadArmed = false;
        PostLocked(t, FD_READ, 0);
      }
      if (Wants(t, FD_CLOSE)) {
        t.CloseArmed = false;
        PostLocked(t, FD_CLOSE, t.CloseError);
      }
    }
  }
  UpdateInterestLocked(*p);
  return 0;
}
