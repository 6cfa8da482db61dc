// Shared helpers of the platform/wsock32 tests: a fixture that starts the layer and closes what a test
// opened, loopback addresses, and a hidden window that collects select notifications as they are pumped.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "win32/win32.h"
#include "wsock32/winsock.h"

namespace wstest {

constexpr UINT WM_SOCKET = WM_USER + 1;
constexpr UINT WM_LOOKUP = WM_USER + 2;

// How long a test waits for what must happen: generous, for a loaded machine and a sanitizer build. A wait ends
// as soon as the awaited thing happens.
constexpr int kPatienceMs = 60000;

// Checks done() every 5 ms until it holds; false when it still does not after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (static_cast<int>(GetTickCount() - start) >= timeoutMs) return false;
    Sleep(5);
  }
  return true;
}

inline sockaddr_in Loopback(u_short port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  return a;
}

inline const sockaddr* Sa(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }
inline sockaddr* Sa(sockaddr_in& a) { return reinterpret_cast<sockaddr*>(&a); }

inline u_short PortOf(SOCKET s) {
  sockaddr_in a{};
  int len = sizeof a;
  EXPECT_EQ(getsockname(s, Sa(a), &len), 0) << WSAGetLastError();
  return ntohs(a.sin_port);
}

struct TNote {
  SOCKET S;
  WORD Event;
  WORD Error;
  UINT Msg;
};

// A window of the calling thread; every WM_SOCKET/WM_LOOKUP message dispatched to it is recorded.
class TNotes {
 public:
  TNotes() {
    static const char* cls = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = Proc;
      wc.cbWndExtra = sizeof(void*);
      wc.lpszClassName = "WsockTestNotes";
      RegisterClassA(&wc);
      return "WsockTestNotes";
    }();
    Wnd = CreateWindowExA(0, cls, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, this);
    EXPECT_NE(Wnd, nullptr);
  }
  ~TNotes() { DestroyWindow(Wnd); }
  TNotes(const TNotes&) = delete;
  TNotes& operator=(const TNotes&) = delete;

  HWND Wnd = nullptr;
  std::vector<TNote> Seen;  // in arrival order, not yet taken

  // The next notification for s (other sockets' stay in Seen), pumping for at most timeoutMs.
  std::optional<TNote> Next(SOCKET s, int timeoutMs = kPatienceMs, UINT msg = WM_SOCKET) {
    DWORD start = GetTickCount();
    for (;;) {
      auto it = std::find_if(Seen.begin(), Seen.end(), [&](const TNote& n) { return n.S == s && n.Msg == msg; });
      if (it != Seen.end()) {
        TNote n = *it;
        Seen.erase(it);
        return n;
      }
      int left = timeoutMs - static_cast<int>(GetTickCount() - start);
      if (left <= 0) return std::nullopt;
      Pump(left);
    }
  }
  // Everything that arrives for s within ms.
  std::vector<TNote> Drain(SOCKET s, int ms = 150, UINT msg = WM_SOCKET) {
    DWORD start = GetTickCount();
    for (int left = ms; left > 0; left = ms - static_cast<int>(GetTickCount() - start)) Pump(left);
    Pump(0);
    std::vector<TNote> out;
    for (auto it = Seen.begin(); it != Seen.end();) {
      if (it->S == s && it->Msg == msg) {
        out.push_back(*it);
        it = Seen.erase(it);
      } else {
        ++it;
      }
    }
    return out;
  }

 private:
  static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_NCCREATE)
      SetWindowLongA(h, 0, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
    auto* self = reinterpret_cast<TNotes*>(GetWindowLongA(h, 0));
    if (self && (m == WM_SOCKET || m == WM_LOOKUP))
      self->Seen.push_back({static_cast<SOCKET>(w), WSAGETSELECTEVENT(l), WSAGETSELECTERROR(l), m});
    return DefWindowProcA(h, m, w, l);
  }
  // Dispatches what is waiting, or waits up to ms for something to arrive.
  static void Pump(int ms) {
    MSG m;
    bool any = false;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageA(&m);
      any = true;
    }
    if (any || ms <= 0) return;
    pollfd p{QueueEventFd(), POLLIN, 0};
    poll(&p, 1, ms);
  }
};

inline std::vector<WORD> Events(const std::vector<TNote>& notes) {
  std::vector<WORD> r;
  for (auto& n : notes) r.push_back(n.Event);
  return r;
}

// Starts the layer for one test and closes every socket the test opened through Open.
class TWinsock : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  }
  void TearDown() override {
    for (SOCKET s : Owned) closesocket(s);
    EXPECT_EQ(WSACleanup(), 0);
  }
  SOCKET Open(int type) {
    SOCKET s = socket(AF_INET, type, 0);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    Owned.push_back(s);
    return s;
  }
  void Close(SOCKET s) {
    Owned.erase(std::remove(Owned.begin(), Owned.end(), s), Owned.end());
    EXPECT_EQ(closesocket(s), 0);
  }
  // A datagram socket bound to a port of the loopback.
  SOCKET BoundUdp() {
    SOCKET s = Open(SOCK_DGRAM);
    sockaddr_in a = Loopback(0);
    EXPECT_EQ(bind(s, Sa(a), sizeof a), 0) << WSAGetLastError();
    return s;
  }
  // A listening stream socket on the loopback.
  SOCKET Listener() {
    SOCKET s = Open(SOCK_STREAM);
    sockaddr_in a = Loopback(0);
    EXPECT_EQ(bind(s, Sa(a), sizeof a), 0) << WSAGetLastError();
    EXPECT_EQ(listen(s, 5), 0) << WSAGetLastError();
    return s;
  }
  // A connected pair: a blocking client and the server side that accepted it.
  std::pair<SOCKET, SOCKET> Pair() {
    SOCKET l = Listener();
    SOCKET c = Open(SOCK_STREAM);
    sockaddr_in a = Loopback(PortOf(l));
    EXPECT_EQ(connect(c, Sa(a), sizeof a), 0) << WSAGetLastError();
    SOCKET s = accept(l, nullptr, nullptr);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    Owned.push_back(s);
    return {c, s};
  }
  std::vector<SOCKET> Owned;
};

// The error of the last call, for failures that must carry a given code.
inline int Err() { return WSAGetLastError(); }

}  // namespace wstest
