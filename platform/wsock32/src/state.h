// Shared state of the socket layer: start-up count, the per-thread last error, the table of open sockets
// and the notifier's entry points. Internal to libwsock32.so.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sys.h"
#include "wsock32/winsock.h"

namespace wsock32 {

// ---- Start-up and errors ----

extern std::atomic<int> StartCount;
void SetError(int code);  // the calling thread's last error
inline bool Started() { return StartCount.load(std::memory_order_acquire) > 0; }

// True when the layer is started; otherwise sets WSANOTINITIALISED.
inline bool CheckStarted() {
  if (Started()) return true;
  SetError(WSANOTINITIALISED);
  return false;
}

// The window functions of the program's platform/win32, or false (they are bound weakly).
bool HaveWindowFunctions();
BOOL PostTo(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The same, unless that very notification still waits in the window's queue (a program older than that call
// posts every time).
BOOL PostOnceTo(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL WindowExists(HWND wnd);

// ---- Sockets ----

enum class TStreamState : std::uint8_t {
  Fresh,       // neither connected nor listening
  Connecting,  // a non-blocking connect is under way
  Connected,
  Listening,
  Failed  // the connect failed: the socket gives no notification any more
};

struct TSocket {
  explicit TSocket(int fd, bool datagram) : Fd(fd), Datagram(datagram) {}
  ~TSocket() { sys::Close(Fd); }  // the descriptor dies with the last user, so its number cannot be reused early
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  const int Fd;
  const bool Datagram;
  SOCKET Handle = INVALID_SOCKET;

  std::mutex Lock;  // guards everything below; the notifier posts only while holding it
  bool Closed = false;
  bool NonBlocking = false;
  TStreamState Stream = TStreamState::Fresh;
  bool ShutSend = false;
  bool ShutRecv = false;
  bool PeerClosed = false;      // the peer's end (orderly or not) has been seen
  int CloseError = 0;           // 0 for an orderly end, else the Winsock error of the reset
  int DatagramError = 0;        // an error that arrived for a datagram socket, reported by the next receive
  bool ConnectReported = true;  // set false by a non-blocking connect; FD_CONNECT reports it once
  int ConnectError = 0;

  // WSAAsyncSelect: where to post and which events are enabled (Winsock's re-enabling rules).
  HWND Wnd = nullptr;
  UINT Msg = 0;
  LONG Mask = 0;
  bool ReadArmed = false;
  bool WriteArmed = false;
  bool OobArmed = false;
  bool AcceptArmed = false;
  bool CloseArmed = false;

  // The notifier's registration (epoll, one-shot: an event disarms it until it is armed again).
  bool Registered = false;
  bool KernelArmed = false;
  std::uint32_t KernelEvents = 0;

  std::atomic<int> BlockingCalls{0};  // calls that may sleep in the kernel on this descriptor
};
using PSocket = std::shared_ptr<TSocket>;

// Makes a handle for a new descriptor and enters it in the table.
PSocket AddSocket(int fd, bool datagram);
// The socket of a handle, or null with WSAENOTSOCK (WSANOTINITIALISED before start-up).
PSocket FindSocket(SOCKET s);
// The same without the start-up check and without setting an error (the notifier's lookup).
PSocket FindSocketQuiet(SOCKET s);
// Removes the socket from the table (closesocket); null with WSAENOTSOCK when it is not there.
PSocket TakeSocket(SOCKET s);
// Closes every socket (the last WSACleanup).
void CloseAllSockets();
// Ends the socket's notifications; caller holds the socket's lock.
void RetireLocked(TSocket& s);

// ---- Notifications (notifier.cpp) ----

// Starts the notifier thread if it does not run; false (WSAENOBUFS set) when it cannot.
bool EnsureNotifier();
void StopNotifier();
// Re-registers the socket with the notifier after its state changed; caller holds the socket's lock.
void UpdateInterestLocked(TSocket& s);
// Posts one notification for the socket; caller holds the socket's lock. An FD_READ that still waits unread in
// the queue already tells of the data: none is added beside it.
void PostLocked(TSocket& s, LONG event, int error);
// The re-enabling calls; each takes the socket's lock itself.
// A receive that would have blocked (found nothing) says so: nothing waits then, and what comes later reaches
// the notifier, so the check for data left behind is skipped.
void AfterReceive(TSocket& s, bool foundNothing = false);
void AfterAccept(TSocket& s);
void AfterWouldBlockSend(TSocket& s);
void AfterConnectStarted(TSocket& s);  // a non-blocking connect is under way
// A connect under way that has ended meanwhile is completed now (FD_CONNECT and all), so that calls made
// without notifications (connect polled again, send) see its end; caller holds the socket's lock.
void RefreshConnectLocked(TSocket& s);

// ---- Lookups (lookups.cpp) ----

void StopLookups();

}  // namespace wsock32
