// Window classes, creation and destruction, extra bytes, and what a thread's end does to its windows.
#include <gtest/gtest.h>

#include <dirent.h>

#include <set>
#include <thread>

#include "testutil.h"
#include "win32/win32.h"

using w32test::MakeWindow;
using w32test::Recorder;

namespace {
LRESULT PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }
}  // namespace

TEST(Classes, RegisteringTwiceFails) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.cbWndExtra = 4;
  wc.lpszClassName = "W32TwiceClass";
  ATOM a = RegisterClassA(&wc);
  ASSERT_NE(a, 0);
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  wc.lpszClassName = "w32twiceCLASS";
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&wc), 0) << "names compare without case";
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

  WNDCLASSA got{};
  ASSERT_TRUE(GetClassInfoA(nullptr, "W32TWICECLASS", &got));
  EXPECT_EQ(got.lpfnWndProc, &PlainProc);
  EXPECT_EQ(got.cbWndExtra, 4);
  WNDCLASSA byAtom{};
  EXPECT_TRUE(GetClassInfoA(nullptr, MAKEINTATOM(a), &byAtom));
  EXPECT_EQ(byAtom.lpfnWndProc, &PlainProc);

  HWND h = CreateWindowExA(0, MAKEINTATOM(a), "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  SetLastError(0);
  EXPECT_FALSE(UnregisterClassA("W32TwiceClass", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_TRUE(UnregisterClassA("W32TwiceClass", nullptr));
  SetLastError(0);
  EXPECT_FALSE(GetClassInfoA(nullptr, "W32TwiceClass", &got));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
  EXPECT_NE(RegisterClassA(&wc), 0) << "registrable again once gone";
  EXPECT_TRUE(UnregisterClassA("W32TwiceClass", nullptr));
}

TEST(Classes, ClassesArePerProcess) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = "W32ProcessClass";
  std::thread([&] { EXPECT_NE(RegisterClassA(&wc), 0); }).join();
  WNDCLASSA got{};
  EXPECT_TRUE(GetClassInfoA(nullptr, "W32ProcessClass", &got));
  HWND h = CreateWindowExA(0, "W32ProcessClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  EXPECT_NE(h, nullptr);
  DestroyWindow(h);
  UnregisterClassA("W32ProcessClass", nullptr);
}

TEST(Windows, CreationSendsNcCreateAndCreateWithTheParameter) {
  Recorder r;
  LPVOID seenParam = nullptr;
  r.on = [&](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_CREATE) seenParam = reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams;
    return std::nullopt;
  };
  HWND h = MakeWindow(&r);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(seenParam, &r);
  EXPECT_EQ(r.Messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(h, &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, GetCurrentProcessId());
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_EQ(r.Messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(h));
}

TEST(Windows, NcCreateFalseFailsTheCreation) {
  Recorder r;
  r.on = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_NCCREATE) return FALSE;
    return std::nullopt;
  };
  EXPECT_EQ(MakeWindow(&r), nullptr);
  EXPECT_EQ(r.Messages(), (std::vector<UINT>{WM_NCCREATE, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(r.seen[0].hwnd));
}

TEST(Windows, CreateMinusOneFailsTheCreation) {
  Recorder r;
  r.on = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_CREATE) return -1;
    return std::nullopt;
  };
  EXPECT_EQ(MakeWindow(&r), nullptr);
  EXPECT_EQ(r.Messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(r.seen[0].hwnd));
}

TEST(Windows, HandlesAreNeverReused) {
  std::set<HWND> seen;
  for (int i = 0; i < 500; ++i) {
    Recorder r;
    HWND h = MakeWindow(&r);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(seen.insert(h).second);
    DestroyWindow(h);
  }
}

TEST(Windows, ChildrenDieBeforeTheirParent) {
  Recorder parentLog, childLog, grandLog;
  std::vector<std::pair<char, UINT>> order;
  auto log = [&](char who) {
    return [&order, who](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
      if (m == WM_DESTROY || m == WM_NCDESTROY) order.push_back({who, m});
      return std::nullopt;
    };
  };
  parentLog.on = log('p');
  childLog.on = log('c');
  grandLog.on = log('g');
  HWND p = MakeWindow(&parentLog);
  HWND c = MakeWindow(&childLog, p, WS_CHILD);
  HWND g = MakeWindow(&grandLog, c, WS_CHILD);
  ASSERT_TRUE(p && c && g);
  EXPECT_EQ(GetParent(c), p);
  EXPECT_EQ(GetParent(g), c);
  EXPECT_EQ(GetParent(p), nullptr);
  bool childAliveAtParentDestroy = false;
  parentLog.on = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_DESTROY) childAliveAtParentDestroy = IsWindow(c) && IsWindow(g);
    if (m == WM_DESTROY || m == WM_NCDESTROY) order.push_back({'p', m});
    return std::nullopt;
  };
  EXPECT_TRUE(DestroyWindow(p));
  EXPECT_TRUE(childAliveAtParentDestroy);
  std::vector<std::pair<char, UINT>> expected{{'p', WM_DESTROY}, {'c', WM_DESTROY}, {'g', WM_DESTROY},
                                              {'g', WM_NCDESTROY}, {'c', WM_NCDESTROY}, {'p', WM_NCDESTROY}};
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(IsWindow(p));
  EXPECT_FALSE(IsWindow(c));
  EXPECT_FALSE(IsWindow(g));
}

TEST(Windows, DestroyingAChildLeavesTheParent) {
  Recorder pr, cr;
  HWND p = MakeWindow(&pr);
  HWND c = MakeWindow(&cr, p, WS_CHILD);
  EXPECT_TRUE(DestroyWindow(c));
  EXPECT_TRUE(IsWindow(p));
  EXPECT_TRUE(DestroyWindow(p));
  EXPECT_EQ(pr.Count(WM_DESTROY), 1u);
  EXPECT_EQ(cr.Count(WM_DESTROY), 1u);
}

TEST(Windows, DestroyWindowFromItsOwnDestroyIsHarmless) {
  Recorder r;
  r.on = [](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_DESTROY) {
      EXPECT_TRUE(DestroyWindow(h));
    }
    return std::nullopt;
  };
  HWND h = MakeWindow(&r);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_EQ(r.Count(WM_DESTROY), 1u);
  EXPECT_EQ(r.Count(WM_NCDESTROY), 1u);
}

TEST(Windows, DefWindowProcClosesOnWmClose) {
  Recorder r;
  HWND h = MakeWindow(&r);
  EXPECT_EQ(SendMessageA(h, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(r.Count(WM_NCDESTROY), 1u);
  EXPECT_EQ(DefWindowProcA(nullptr, WM_USER, 1, 2), 0);
  EXPECT_EQ(DefWindowProcA(nullptr, WM_NCCREATE, 0, 0), TRUE);
}

TEST(Windows, ExtraBytesHoldPointers) {
  Recorder r;
  HWND h = MakeWindow(&r);  // 4 extra bytes: one pointer-sized slot at index 0
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetWindowLongA(h, 0), reinterpret_cast<LONG_PTR>(&r));
  const LONG_PTR wide = static_cast<LONG_PTR>(0x1234567890ABCDEFLL);
  EXPECT_EQ(SetWindowLongA(h, 0, wide), reinterpret_cast<LONG_PTR>(&r)) << "returns the previous value";
  EXPECT_EQ(GetWindowLongA(h, 0), wide) << "all 64 bits";
  SetWindowLongA(h, 0, reinterpret_cast<LONG_PTR>(&r));
  SetLastError(0);
  EXPECT_EQ(GetWindowLongA(h, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  SetLastError(0);
  EXPECT_EQ(SetWindowLongA(h, 2, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  SetLastError(0);
  EXPECT_EQ(GetWindowLongA(h, -1000), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  EXPECT_EQ(SetWindowLongA(h, GWL_USERDATA, wide), 0);
  EXPECT_EQ(GetWindowLongA(h, GWL_USERDATA), wide);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE)), WS_POPUP);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(h, GWL_EXSTYLE)), WS_EX_TOOLWINDOW);
  EXPECT_EQ(GetWindowLongA(h, GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&w32test::RecorderProc));
  // Any thread may read and write the extra bytes.
  std::thread([&] {
    EXPECT_EQ(GetWindowLongA(h, 0), reinterpret_cast<LONG_PTR>(&r));
    EXPECT_EQ(SetWindowLongA(h, GWL_USERDATA, 5), wide);
    SetLastError(0);
    EXPECT_EQ(SetWindowLongA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&PlainProc)), 0);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }).join();
  EXPECT_EQ(GetWindowLongA(h, GWL_USERDATA), 5);
  DestroyWindow(h);
}

TEST(Windows, ExtraBytesKeepTheOriginalOffsets) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.cbWndExtra = 8;  // two 32-bit values at 0 and 4 on the original platform: two slots here
  wc.lpszClassName = "W32EightBytes";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND h = CreateWindowExA(0, "W32EightBytes", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetWindowLongA(h, 0), 0) << "zero-filled";
  EXPECT_EQ(GetWindowLongA(h, 4), 0);
  SetWindowLongA(h, 0, -1);
  SetWindowLongA(h, 4, 2);
  EXPECT_EQ(GetWindowLongA(h, 0), -1);
  EXPECT_EQ(GetWindowLongA(h, 4), 2);
  SetLastError(0);
  EXPECT_EQ(GetWindowLongA(h, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  DestroyWindow(h);
  UnregisterClassA("W32EightBytes", nullptr);
}

TEST(Windows, SubclassingThroughTheProcedureSlot) {
  Recorder r;
  HWND h = MakeWindow(&r);
  static int calls;
  calls = 0;
  WNDPROC old = reinterpret_cast<WNDPROC>(SetWindowLongA(
      h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_USER) ++calls;
        return 77;
      })));
  EXPECT_EQ(old, &w32test::RecorderProc);
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 77);
  EXPECT_EQ(calls, 1);
  SetWindowLongA(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(old));
  DestroyWindow(h);
}

TEST(Windows, AThreadsWindowsEndWithIt) {
  HWND h = nullptr;
  DWORD tid = 0;
  Recorder r;
  std::thread([&] {
    h = MakeWindow(&r);
    tid = GetCurrentThreadId();
    EXPECT_TRUE(PostMessageA(h, WM_USER, 0, 0));  // left in the queue when the thread ends
  }).join();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(IsWindow(h));
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(h, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageA(tid, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  EXPECT_EQ(r.Count(WM_USER), 0u);
  EXPECT_EQ(r.Count(WM_DESTROY), 0u) << "no procedure runs at thread exit";
}

TEST(Windows, PostingWhileTheOwnerThreadEndsIsHarmless) {
  for (int round = 0; round < 20; ++round) {
    std::atomic<HWND> h{nullptr};
    std::atomic<bool> stop{false};
    std::thread owner([&] {
      static Recorder r;  // outlives the thread's windows
      h = MakeWindow(&r);
      for (int i = 0; i < 50; ++i) w32test::Pump();
    });
    std::thread poster([&] {
      while (!h.load()) std::this_thread::yield();
      while (!stop.load()) {
        if (!PostMessageA(h.load(), WM_USER, 0, 0) && GetLastError() == ERROR_INVALID_WINDOW_HANDLE) break;
      }
    });
    owner.join();
    stop = true;
    poster.join();
    EXPECT_FALSE(IsWindow(h.load()));
  }
}

namespace {
int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}
}  // namespace

TEST(Windows, EndedThreadsReleaseTheirQueues) {
  std::thread([] { QueueEventFd(); }).join();  // anything lazily made once is made now
  int before = OpenDescriptors();
  for (int i = 0; i < 200; ++i) {
    std::thread([] {
      Recorder r;
      HWND h = MakeWindow(&r);
      PostMessageA(h, WM_USER, 0, 0);
      PostQuitMessage(0);
      EXPECT_GE(QueueEventFd(), 0);
    }).join();
  }
  EXPECT_EQ(OpenDescriptors(), before);
}
