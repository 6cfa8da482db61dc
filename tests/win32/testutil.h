// Shared helpers of the platform/win32 tests: a window class whose procedure records every message and can
// run a test's own handler, and a poll on a descriptor.
#pragma once

#include <poll.h>

#include <functional>
#include <optional>
#include <vector>

#include "win32/win32.h"

namespace w32test {

struct Seen {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

// Reached through the window's extra bytes (slot 0), stored there at WM_NCCREATE from lpCreateParams.
struct Recorder {
  std::vector<Seen> seen;
  std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)> on;

  std::vector<UINT> Messages() const {
    std::vector<UINT> r;
    for (auto& s : seen) r.push_back(s.msg);
    return r;
  }
  size_t Count(UINT msg) const {
    size_t n = 0;
    for (auto& s : seen) n += s.msg == msg;
    return n;
  }
};

inline LRESULT RecorderProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(l);
    SetWindowLongA(h, 0, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* r = reinterpret_cast<Recorder*>(GetWindowLongA(h, 0));
  if (r) {
    r->seen.push_back({h, m, w, l});
    if (r->on) {
      if (auto res = r->on(h, m, w, l)) return *res;
    }
  }
  return DefWindowProcA(h, m, w, l);
}

inline const char* RecorderClass() {
  static const char* name = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecorderProc;
    wc.cbWndExtra = 4;  // one object reference, as the socket component's class has
    wc.lpszClassName = "W32TestRecorder";
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return static_cast<const char*>(nullptr);
    return "W32TestRecorder";
  }();
  return name;
}

inline HWND MakeWindow(Recorder* r, HWND parent = nullptr, DWORD style = WS_POPUP) {
  return CreateWindowExA(WS_EX_TOOLWINDOW, RecorderClass(), "", style, 0, 0, 0, 0, parent, nullptr, nullptr, r);
}

// How long a test waits for what must happen: generous, for a loaded machine and a sanitizer build. A wait ends
// as soon as the awaited thing happens.
constexpr int kPatienceMs = 60000;

inline bool Readable(int fd, int timeoutMs = 0) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

// Dispatches every waiting message of the calling thread; returns how many were removed.
inline int Pump() {
  MSG m;
  int n = 0;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    ++n;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return n;
}

}  // namespace w32test
