// SendMessageA on the owner thread and from other threads.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "testutil.h"
#include "win32/win32.h"

using w32test::MakeWindow;
using w32test::Recorder;

TEST(Send, OnTheOwnerThreadCallsTheProcedureDirectly) {
  Recorder r;
  r.on = [](HWND, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_USER) return static_cast<LRESULT>(w) + l;
    return std::nullopt;
  };
  HWND h = MakeWindow(&r);
  EXPECT_EQ(SendMessageA(h, WM_USER, 40, 2), 42);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "nothing queued";
  DestroyWindow(h);
}

TEST(Send, FromAnotherThreadWaitsForTheOwnersPump) {
  Recorder r;
  std::atomic<DWORD> ranOn{0};
  r.on = [&](HWND, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_USER) {
      ranOn = GetCurrentThreadId();
      return static_cast<LRESULT>(w) * 2;
    }
    return std::nullopt;
  };
  HWND h = MakeWindow(&r);
  std::atomic<LRESULT> result{0};
  std::atomic<bool> done{false};
  std::thread sender([&] {
    result = SendMessageA(h, WM_USER, 21, 0);
    done = true;
  });
  while (!done) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    Sleep(1);
  }
  sender.join();
  EXPECT_EQ(result.load(), 42);
  EXPECT_EQ(ranOn.load(), GetCurrentThreadId()) << "the procedure runs on the owner thread";
  DestroyWindow(h);
}

TEST(Send, AWaitingSendMakesTheDescriptorReadable) {
  Recorder r;
  HWND h = MakeWindow(&r);
  int fd = QueueEventFd();
  std::thread sender([&] { SendMessageA(h, WM_USER, 0, 0); });
  EXPECT_TRUE(w32test::Readable(fd, w32test::kPatienceMs));
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "handled inside, not returned";
  sender.join();
  EXPECT_EQ(r.Count(WM_USER), 1u);
  EXPECT_FALSE(w32test::Readable(fd));
  DestroyWindow(h);
}

TEST(Send, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  Recorder ra;
  HWND a = MakeWindow(&ra);
  std::atomic<HWND> b{nullptr};
  Recorder rb;
  rb.on = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_USER) return 100 + SendMessageA(a, WM_USER + 1, 0, 0);  // back to A while A waits for us
    return std::nullopt;
  };
  ra.on = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_USER + 1) return 5;
    return std::nullopt;
  };
  std::atomic<bool> stop{false};
  std::thread tb([&] {
    b = MakeWindow(&rb);
    MSG m;
    while (!stop) {
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      Sleep(1);
    }
    DestroyWindow(b);
  });
  while (!b) std::this_thread::yield();
  EXPECT_EQ(SendMessageA(b, WM_USER, 0, 0), 105);
  stop = true;
  tb.join();
}

TEST(Send, ToAThreadThatEndsReturnsZero) {
  std::atomic<HWND> h{nullptr};
  std::atomic<bool> release{false};
  Recorder r;
  std::thread owner([&] {
    h = MakeWindow(&r);
    while (!release) Sleep(1);  // never pumps
  });
  while (!h) std::this_thread::yield();
  std::thread releaser([&] {
    Sleep(50);
    release = true;
  });
  SetLastError(0);
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  owner.join();
  releaser.join();
  EXPECT_EQ(r.Count(WM_USER), 0u);
}

TEST(Send, ToAWindowDestroyedBeforeItsTurnReturnsZero) {
  Recorder r;
  HWND h = MakeWindow(&r);
  std::atomic<LRESULT> result{-1};
  std::thread sender([&] { result = SendMessageA(h, WM_USER, 0, 0); });
  EXPECT_TRUE(w32test::Readable(QueueEventFd(), w32test::kPatienceMs));
  DestroyWindow(h);
  MSG m;
  PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);
  sender.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(r.Count(WM_USER), 0u);
}

TEST(Send, ALongWaitIsReportedNotSilent) {
  std::atomic<HWND> h{nullptr};
  std::atomic<bool> pump{false};
  Recorder r;
  std::thread owner([&] {
    h = MakeWindow(&r);
    while (!pump) Sleep(10);  // does not retrieve its messages for a while
    MSG m;
    const DWORD start = GetTickCount();
    while (r.Count(WM_USER) == 0 && GetTickCount() - start < static_cast<DWORD>(w32test::kPatienceMs)) {
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      Sleep(5);
    }
    DestroyWindow(h);
  });
  while (!h) std::this_thread::yield();
  testing::internal::CaptureStderr();
  // The owner pumps once the report is out (standard error goes to a file now), however late a loaded machine
  // lets the waiting thread write it.
  std::thread releaser([&] {
    const DWORD start = GetTickCount();
    struct stat err {};
    while ((fstat(STDERR_FILENO, &err) != 0 || err.st_size == 0) &&
           GetTickCount() - start < 5000u + static_cast<DWORD>(w32test::kPatienceMs))
      Sleep(10);
    pump = true;
  });
  SendMessageA(h, WM_USER, 0, 0);
  std::string err = testing::internal::GetCapturedStderr();
  releaser.join();
  owner.join();
  EXPECT_NE(err.find("SendMessageA"), std::string::npos) << err;
  EXPECT_NE(err.find("has waited 5 s"), std::string::npos) << err;
  EXPECT_EQ(r.Count(WM_USER), 1u) << "and the call still completes";
}
