// Shared pieces of the socket component's tests: pumping the test thread's messages, a socket class that opens
// the component's protected state to the tests, and an event log.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "plain_net.h"
#include "sockets/WSocket.h"

// Dispatches the calling thread's messages until pred holds or timeoutMs pass; returns pred's last value.
inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = kPatienceMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

inline void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

// Checks pred every millisecond, dispatching nothing, until it holds or timeoutMs pass; returns pred's last value.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = kPatienceMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline std::string ToString(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A pattern whose every byte tells its position, so reordering or loss shows.
inline std::string Pattern(std::size_t n, std::size_t start = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((start + i) * 7 % 251);
  return s;
}

// Opens the component's protected state to the tests, and lets a test make every platform send report
// "would block".
class TTestSocket : public TWSocket {
 public:
  using TWSocket::TWSocket;
  using TCustomWSocket::AddrAssigned;
  using TCustomWSocket::AddrResolved;
  using TCustomWSocket::AppendToSendQueue;
  using TCustomWSocket::CloseNotified;
  using TCustomWSocket::HandleBgException;
  using TCustomWSocket::LocalPortResolved;
  using TCustomWSocket::NotifyWindow;
  using TCustomWSocket::Paused;
  using TCustomWSocket::PortAssigned;
  using TCustomWSocket::PortNum;
  using TCustomWSocket::PortResolved;
  using TCustomWSocket::ProtoAssigned;
  using TCustomWSocket::ProtoNum;
  using TCustomWSocket::ProtoResolved;
  using TCustomWSocket::PumpTerminated;
  using TCustomWSocket::SelectMask;
  using TCustomWSocket::SendBlockSize;
  using TCustomWSocket::SendFlagsValue;
  using TCustomWSocket::SendQueue;
  using TCustomWSocket::SendQueueEmpty;
  using TCustomWSocket::SockAddr;
  using TCustomWSocket::SocketHandle;
  using TCustomWSocket::SocketType;
  using TCustomWSocket::TriggerDataAvailable;
  using TCustomSocksWSocket::SocksBindAddr;
  using TCustomSocksWSocket::SocksBindPort;
  using TCustomSocksWSocket::SocksExtraCount;
  using TCustomSocksWSocket::SocksMethodOffered;
  using TCustomSocksWSocket::SocksPhase;
  using TCustomSocksWSocket::SocksServerSet;
  using TCustomLineWSocket::LineLength;
  using TCustomLineWSocket::RcvBufferCount;
  using TCustomLineWSocket::RcvBufferSize;
  using TCustomLineWSocket::WaitDeadline;
  using TCustomLineWSocket::WaitTimeout;

  bool WouldBlock = false;
  int PartialLimit = 0;  // when above 0, each platform send is handed at most this many bytes
  int RealSendCalls = 0;

 protected:
  int RealSend(const void* Data, int Len) override {
    ++RealSendCalls;
    if (WouldBlock) {
      WSocket::WSASetLastError(WSAEWOULDBLOCK);
      return SOCKET_ERROR;
    }
    return TWSocket::RealSend(Data, PartialLimit > 0 && Len > PartialLimit ? PartialLimit : Len);
  }
};

// Waits, dispatching nothing, until a notification for the socket waits in this thread's queue.
inline bool WaitNotificationQueued(const TTestSocket& s) {
  return WaitUntil([&] {
    MSG msg;
    return PeekMessageA(&msg, s.NotifyWindow, WM_ASYNCSELECT, WM_ASYNCSELECT, PM_NOREMOVE) != 0;
  });
}

// Waits for the socket's next notification and handles what waits: a test then goes on from a quiet socket (the
// platform's first write notification of a fresh one, say, handled before the test sends).
inline bool HandleFirstNotification(const TTestSocket& s) {
  bool queued = WaitNotificationQueued(s);
  PumpFor(0);
  return queued;
}

inline std::string StateName(TSocketState s) {
  static const char* const names[] = {"invalid", "opened",    "bound",     "connecting",
                                      "connected", "accepting", "listening", "closed"};
  return s <= wsClosed ? names[s] : "?";
}

// Records events as short texts, in the order they fire.
struct TEventLog {
  std::vector<std::string> Lines;
  void Attach(TCustomWSocket& s) {
    s.OnChangeState = [this](TObject*, TSocketState o, TSocketState n) {
      Lines.push_back(StateName(o) + "->" + StateName(n));
    };
    s.OnSessionConnected = [this](TObject*, WORD e) { Lines.push_back("connected " + std::to_string(e)); };
    s.OnSessionClosed = [this](TObject*, WORD e) { Lines.push_back("closed " + std::to_string(e)); };
    s.OnDataSent = [this](TObject*, WORD e) { Lines.push_back("sent " + std::to_string(e)); };
    s.OnSessionAvailable = [this](TObject*, WORD e) { Lines.push_back("available " + std::to_string(e)); };
  }
  std::string Joined() const {
    std::string r;
    for (const auto& l : Lines) r += (r.empty() ? "" : ", ") + l;
    return r;
  }
};

// Records the SOCKS layer's events, the session's and each OnDataAvailable's ReceiveStr, as short texts.
struct TSocksLog {
  std::vector<std::string> Lines;
  std::string Data;
  void Attach(TCustomSyncWSocket& s) {
    s.OnSocksConnected = [this](TObject*, WORD e) { Lines.push_back("socks connected " + std::to_string(e)); };
    s.OnSocksAuthState = [this](TObject*, TSocksAuthState a) { Lines.push_back("auth " + std::to_string(a)); };
    s.OnSocksError = [this](TObject*, std::int32_t e, std::string m) {
      Lines.push_back("error " + std::to_string(e) + " " + m);
    };
    s.OnSessionConnected = [this](TObject*, WORD e) { Lines.push_back("connected " + std::to_string(e)); };
    s.OnSessionClosed = [this](TObject*, WORD e) { Lines.push_back("closed " + std::to_string(e)); };
    s.OnDataAvailable = [this, &s](TObject*, WORD) { Data += s.ReceiveStr(); };
  }
  bool Has(const std::string& line) const {
    for (const auto& l : Lines)
      if (l == line) return true;
    return false;
  }
  bool HasPrefix(const std::string& prefix) const {
    for (const auto& l : Lines)
      if (l.rfind(prefix, 0) == 0) return true;
    return false;
  }
  std::string Joined() const {
    std::string r;
    for (const auto& l : Lines) r += (r.empty() ? "" : ", ") + l;
    return r;
  }
};

// The text of the exception that f raises, or "" when it raises none.
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}
