// The per-thread message queue: posting, peeking, filters, WM_QUIT, its descriptor, nested pumps, and
// windows destroyed with messages still on their way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"
#include "win32/win32.h"

using w32test::MakeWindow;
using w32test::Pump;
using w32test::Readable;
using w32test::Recorder;

namespace {
// Leaves the calling thread's queue empty, so that each test starts from nothing.
void Drain() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}
}  // namespace

TEST(Queue, FourThreadsPostingToOneWindowDeliverEveryMessageOnceInOrder) {
  constexpr int kThreads = 4;
  constexpr long kPerThread = 20000;  // more than a queue holds at once: posters retry on 1816
  std::vector<long> next(kThreads, 0);
  long received = 0;
  bool inOrder = true;
  Recorder r;
  r.on = [&](HWND, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_USER + 7) {
      if (w >= static_cast<WPARAM>(kThreads) || l != next[w]) inOrder = false;
      if (w < static_cast<WPARAM>(kThreads)) next[w] = l + 1;
      ++received;
      return 0;
    }
    return std::nullopt;
  };
  HWND h = MakeWindow(&r);
  ASSERT_NE(h, nullptr);
  r.seen.reserve(kThreads * kPerThread + 8);
  std::atomic<long> quotaHits{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (long i = 0; i < kPerThread; ++i) {
        while (!PostMessageA(h, WM_USER + 7, static_cast<WPARAM>(t), i)) {
          if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA) {
            failed = true;
            return;
          }
          ++quotaHits;
          std::this_thread::yield();
        }
      }
    });
  }
  MSG m;
  while (received < kThreads * kPerThread && !failed) {
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
    DispatchMessageA(&m);
  }
  for (auto& p : posters) p.join();
  EXPECT_FALSE(failed);
  EXPECT_TRUE(inOrder);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kPerThread);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "nothing twice";
  EXPECT_EQ(received, kThreads * kPerThread);
  DestroyWindow(h);
  RecordProperty("quota_hits", std::to_string(quotaHits.load()));
}

TEST(Queue, QueueHoldsAtMostTenThousandPostedMessages) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  int posted = 0;
  while (PostMessageA(h, WM_USER, 0, 0)) ++posted;
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
  EXPECT_EQ(posted, 10000);
  EXPECT_EQ(Pump(), 10000);
  EXPECT_TRUE(PostMessageA(h, WM_USER, 0, 0));
  DestroyWindow(h);
  Drain();
}

TEST(Queue, PostOnceAddsNothingBesideTheSameMessageStillWaiting) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  HWND other = MakeWindow(&r);
  r.seen.clear();  // what creation sent
  EXPECT_TRUE(PostMessageOnceA(h, WM_USER + 1, 5, 1));
  EXPECT_TRUE(PostMessageA(h, WM_USER + 2, 0, 0));
  EXPECT_TRUE(PostMessageOnceA(h, WM_USER + 1, 5, 1));  // waits already, behind another message too
  EXPECT_TRUE(PostMessageOnceA(h, WM_USER + 1, 5, 2));  // other parameters
  EXPECT_TRUE(PostMessageOnceA(h, WM_USER + 1, 6, 1));
  EXPECT_TRUE(PostMessageOnceA(other, WM_USER + 1, 5, 1));  // another window
  EXPECT_EQ(Pump(), 5);
  ASSERT_EQ(r.seen.size(), 5u);
  EXPECT_EQ(r.seen[0].msg, static_cast<UINT>(WM_USER + 1));
  EXPECT_EQ(r.seen[1].msg, static_cast<UINT>(WM_USER + 2));  // the order of posting is kept
  // Once taken from the queue it is posted again.
  EXPECT_TRUE(PostMessageOnceA(h, WM_USER + 1, 5, 1));
  EXPECT_EQ(Pump(), 1);
  SetLastError(0);
  EXPECT_FALSE(PostMessageOnceA(nullptr, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  DestroyWindow(h);
  DestroyWindow(other);
  Drain();
}

TEST(Queue, MessagesCarryTheirFieldsAndTime) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  DWORD before = GetTickCount();
  ASSERT_TRUE(PostMessageA(h, WM_USER + 3, static_cast<WPARAM>(~0ull), static_cast<LPARAM>(-5)));
  MSG m{};
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, h);
  EXPECT_EQ(m.message, WM_USER + 3);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(~0ull)) << "pointer-sized";
  EXPECT_EQ(m.lParam, -5);
  EXPECT_LE(static_cast<DWORD>(m.time - before), static_cast<DWORD>(GetTickCount() - before));
  DestroyWindow(h);
}

TEST(Queue, DestroyedWindowReceivesNothing) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(PostMessageA(h, WM_USER + 1, i, 0));
  std::thread([&] { EXPECT_TRUE(PostMessageA(h, WM_USER + 1, 9, 0)); }).join();
  ASSERT_TRUE(DestroyWindow(h));
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(h, WM_USER + 1, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "purged with the window";
  EXPECT_EQ(r.Count(WM_USER + 1), 0u);
  EXPECT_FALSE(Readable(QueueEventFd()));
}

TEST(Queue, PostsRacingWithDestructionNeverArrive) {
  Drain();
  for (int round = 0; round < 50; ++round) {
    Recorder r;
    bool dead = false;
    bool afterDeath = false;
    r.on = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
      if (m == WM_NCDESTROY) dead = true;
      if (m == WM_USER + 2 && dead) afterDeath = true;
      return std::nullopt;
    };
    HWND h = MakeWindow(&r);
    ASSERT_NE(h, nullptr);
    std::atomic<bool> go{false};
    std::thread poster([&] {
      go = true;
      while (PostMessageA(h, WM_USER + 2, 0, 0) || GetLastError() == ERROR_NOT_ENOUGH_QUOTA) {
      }
    });
    while (!go) std::this_thread::yield();
    MSG m;
    for (int i = 0; i < 100 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&m);
    DestroyWindow(h);
    poster.join();
    Pump();
    EXPECT_FALSE(afterDeath);
  }
}

TEST(Queue, WindowDestroyedInsideItsOwnDispatch) {
  Drain();
  Recorder r;
  r.on = [](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_USER) {
      EXPECT_TRUE(DestroyWindow(h));
      EXPECT_FALSE(IsWindow(h));
      EXPECT_FALSE(PostMessageA(h, WM_USER + 1, 0, 0));
      return 5;
    }
    return std::nullopt;
  };
  HWND h = MakeWindow(&r);
  ASSERT_TRUE(PostMessageA(h, WM_USER, 0, 0));
  ASSERT_TRUE(PostMessageA(h, WM_USER + 1, 0, 0));  // queued behind; must be dropped
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(DispatchMessageA(&m), 5);
  MSG after;
  EXPECT_FALSE(PeekMessageA(&after, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(r.Messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_USER, WM_DESTROY, WM_NCDESTROY}));
  SetLastError(0);
  EXPECT_EQ(DispatchMessageA(&m), 0) << "a stale message record";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST(Queue, NestedPumps) {
  Drain();
  Recorder r;
  std::vector<std::pair<UINT, int>> log;  // message, depth
  int depth = 0;
  r.on = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m < WM_USER) return std::nullopt;
    log.push_back({m, depth});
    if (m == WM_USER) {
      PostMessageA(h, WM_USER + 2, 0, 0);
      ++depth;
      Pump();  // handles WM_USER+1 (posted before) and WM_USER+2, and WM_USER+3 posted by +2
      --depth;
    }
    if (m == WM_USER + 2) {
      PostMessageA(h, WM_USER + 3, 0, 0);
      ++depth;
      Pump();
      --depth;
    }
    return 0;
  };
  HWND h = MakeWindow(&r);
  PostMessageA(h, WM_USER, 0, 0);
  PostMessageA(h, WM_USER + 1, 0, 0);
  EXPECT_EQ(Pump(), 1) << "the outer pump removed only WM_USER; the nested ones took the rest";
  std::vector<std::pair<UINT, int>> expected{{WM_USER, 0}, {WM_USER + 1, 1}, {WM_USER + 2, 1}, {WM_USER + 3, 2}};
  EXPECT_EQ(log, expected);
  DestroyWindow(h);
}

namespace {
LRESULT QuietProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

// From another thread, while the calling thread is inside a window procedure of h: every kind of call that
// takes the platform's locks. Any lock held across the procedure leaves that thread stuck until the procedure
// returns, so the wait below times out instead of seeing it finish. The thread is joined by the caller once
// no procedure runs any more.
bool OthersRunWhileTheProcedureRuns(HWND h, DWORD ownerTid, std::vector<std::thread>& threads) {
  auto finished = std::make_shared<std::promise<void>>();
  std::future<void> done = finished->get_future();
  threads.emplace_back([h, ownerTid, finished] {
    PostMessageA(h, WM_USER + 40, 0, 0);
    IsWindow(h);
    GetWindowLongA(h, GWL_USERDATA);
    SetWindowLongA(h, GWL_USERDATA, 7);
    PostThreadMessageA(ownerTid, WM_USER + 41, 0, 0);
    WNDCLASSA wc{};
    wc.lpfnWndProc = QuietProc;
    wc.lpszClassName = "W32NoLockOther";
    RegisterClassA(&wc);
    WNDCLASSA got{};
    GetClassInfoA(nullptr, "W32NoLockOther", &got);
    HWND mine = CreateWindowExA(0, "W32NoLockOther", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    PostMessageA(mine, WM_USER, 0, 0);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    DestroyWindow(mine);
    UnregisterClassA("W32NoLockOther", nullptr);
    finished->set_value();
  });
  return done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}
}  // namespace

TEST(Queue, NoLockIsHeldWhileAProcedureRuns) {
  Drain();
  const DWORD me = GetCurrentThreadId();
  std::vector<UINT> free, stuck;
  std::vector<std::thread> others;
  Recorder r;
  r.on = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_CREATE || m == WM_USER || m == WM_USER + 1 || m == WM_DESTROY || m == WM_NCDESTROY)
      (OthersRunWhileTheProcedureRuns(h, me, others) ? free : stuck).push_back(m);
    return std::nullopt;
  };
  HWND h = MakeWindow(&r);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(PostMessageA(h, WM_USER, 0, 0));
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_REMOVE));
  DispatchMessageA(&m);
  // A message sent from another thread runs inside this thread's PeekMessageA.
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    SendMessageA(h, WM_USER + 1, 0, 0);
    sent = true;
  });
  while (!sent) {
    PeekMessageA(&m, nullptr, WM_USER + 1, WM_USER + 1, PM_NOREMOVE);
    Sleep(1);
  }
  sender.join();
  DestroyWindow(h);
  for (auto& t : others) t.join();
  EXPECT_TRUE(stuck.empty()) << "first stuck inside message 0x" << std::hex << (stuck.empty() ? 0 : stuck[0]);
  EXPECT_EQ(free, (std::vector<UINT>{WM_CREATE, WM_USER, WM_USER + 1, WM_DESTROY, WM_NCDESTROY}));
  Drain();
}

TEST(Queue, DescriptorIsReadableExactlyWhileMessagesWait) {
  Drain();
  int fd = QueueEventFd();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(QueueEventFd(), fd) << "one queue per thread";
  EXPECT_FALSE(Readable(fd));
  Recorder r;
  HWND h = MakeWindow(&r);
  std::thread([&] { EXPECT_TRUE(PostMessageA(h, WM_USER, 0, 0)); }).join();
  EXPECT_TRUE(Readable(fd, w32test::kPatienceMs));
  ASSERT_TRUE(PostMessageA(h, WM_USER + 1, 0, 0));
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_TRUE(Readable(fd)) << "PM_NOREMOVE leaves it";
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_TRUE(Readable(fd)) << "one message still waits";
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(Readable(fd)) << "empty: a level-triggered watcher must not spin";
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(Readable(fd));

  PostQuitMessage(3);
  EXPECT_TRUE(Readable(fd)) << "a pending quit counts";
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_FALSE(Readable(fd));

  ASSERT_TRUE(PostMessageA(h, WM_USER, 0, 0));
  EXPECT_TRUE(Readable(fd));
  DestroyWindow(h);
  EXPECT_FALSE(Readable(fd)) << "the dead window's message is purged";
}

TEST(Queue, DescriptorWakesAPollWhileAnotherThreadPosts) {
  Drain();
  int fd = QueueEventFd();
  Recorder r;
  HWND h = MakeWindow(&r);
  std::thread poster([&] {
    Sleep(20);
    PostMessageA(h, WM_USER, 0, 0);
  });
  EXPECT_TRUE(Readable(fd, w32test::kPatienceMs));
  poster.join();
  EXPECT_EQ(Pump(), 1);
  EXPECT_FALSE(Readable(fd));
  DestroyWindow(h);
}

TEST(Queue, PeekFiltersByWindowAndRange) {
  Drain();
  Recorder ra, rb, rc;
  HWND a = MakeWindow(&ra);
  HWND b = MakeWindow(&rb);
  HWND child = MakeWindow(&rc, a, WS_CHILD);
  PostMessageA(b, WM_USER + 1, 0, 0);
  PostMessageA(a, WM_USER + 2, 0, 0);
  PostMessageA(nullptr, WM_USER + 3, 0, 0);  // a thread message
  PostMessageA(child, WM_USER + 4, 0, 0);
  PostMessageA(a, WM_USER + 5, 0, 0);
  MSG m;
  // Window filter: a and its child, in posting order.
  ASSERT_TRUE(PeekMessageA(&m, a, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 2);
  ASSERT_TRUE(PeekMessageA(&m, a, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 2) << "PM_NOREMOVE left it";
  ASSERT_TRUE(PeekMessageA(&m, a, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 4);
  EXPECT_EQ(m.hwnd, child);
  // Range filter.
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 5, WM_USER + 9, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 5);
  EXPECT_FALSE(PeekMessageA(&m, a, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_USER + 10, WM_USER + 20, PM_REMOVE));
  // Only thread messages.
  ASSERT_TRUE(PeekMessageA(&m, HWND_THREAD_MESSAGES, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 3);
  EXPECT_EQ(m.hwnd, nullptr);
  // No filter: everything that is left, the thread's own messages included.
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 6, 1, 2);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1);
  EXPECT_EQ(m.hwnd, b);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 6);
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_EQ(DispatchMessageA(&m), 0) << "a thread message goes to no procedure";
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(a);
  DestroyWindow(b);
}

TEST(Queue, PeekWithAnotherThreadsWindowFindsNothing) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  PostMessageA(h, WM_USER, 0, 0);
  std::thread([&] {
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, h, 0, 0, PM_REMOVE));
  }).join();
  EXPECT_EQ(Pump(), 1);
  DestroyWindow(h);
}

TEST(Queue, PmRemoveRemovesExactlyOne) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  for (int i = 0; i < 3; ++i) PostMessageA(h, WM_USER, i, 0);
  MSG m;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.wParam, static_cast<WPARAM>(i));
  }
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(h);
}

TEST(Queue, QuitComesAfterTheMessagesPostedBeforeIt) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  PostMessageA(h, WM_USER + 1, 0, 0);
  PostMessageA(h, WM_USER + 2, 0, 0);
  PostQuitMessage(42);
  PostMessageA(h, WM_USER + 3, 0, 0);  // the quit flag waits until the queue has nothing else
  MSG m;
  std::vector<UINT> got;
  BOOL rc;
  while ((rc = GetMessageA(&m, nullptr, 0, 0)) > 0) got.push_back(m.message);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 42u);
  EXPECT_EQ(got, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "retrieved once";
  DestroyWindow(h);
}

TEST(Queue, QuitIsRetrievedWhateverTheFilterAndNoRemoveKeepsIt) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  PostMessageA(h, WM_USER + 1, 0, 0);
  PostQuitMessage(1);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 100, WM_USER + 200, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1);
  ASSERT_TRUE(PeekMessageA(&m, h, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(h);
}

TEST(Queue, PostedQuitIsAnOrdinaryMessageInOrder) {
  Drain();
  PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 9, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0);
  MSG m;
  EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
  EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.wParam, 9u);
  EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
  EXPECT_EQ(m.message, WM_USER + 1);
}

TEST(Queue, GetMessageWaitsForAPostFromAnotherThread) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  std::thread poster([&] {
    Sleep(20);
    PostMessageA(h, WM_USER + 9, 0, 0);
  });
  MSG m;
  ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
  EXPECT_EQ(m.message, WM_USER + 9);
  poster.join();
  DestroyWindow(h);
}

TEST(Queue, FilteredGetMessageWaitsPastMessagesThatDoNotMatch) {
  Drain();
  Recorder r;
  HWND h = MakeWindow(&r);
  PostMessageA(h, WM_USER + 1, 0, 0);  // does not match the filter below
  std::thread poster([&] {
    Sleep(20);
    PostMessageA(h, WM_USER + 2, 0, 0);
  });
  MSG m;
  ASSERT_EQ(GetMessageA(&m, nullptr, WM_USER + 2, WM_USER + 2), 1);
  EXPECT_EQ(m.message, WM_USER + 2);
  poster.join();
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1);
  DestroyWindow(h);
}

TEST(Queue, PostThreadMessageReachesAnotherThread) {
  std::atomic<DWORD> tid{0};
  std::atomic<bool> ready{false};
  WPARAM got = 0;
  std::thread t([&] {
    QueueEventFd();  // makes the queue
    tid = GetCurrentThreadId();
    ready = true;
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) got += m.wParam;
  });
  while (!ready) std::this_thread::yield();
  EXPECT_TRUE(PostThreadMessageA(tid, WM_USER, 5, 0));
  EXPECT_TRUE(PostThreadMessageA(tid, WM_USER, 6, 0));
  EXPECT_TRUE(PostThreadMessageA(tid, WM_QUIT, 0, 0));
  t.join();
  EXPECT_EQ(got, 11u);
}

TEST(Queue, TranslateMessageLeavesNonKeyMessages) {
  MSG m{};
  m.message = WM_USER;
  EXPECT_FALSE(TranslateMessage(&m));
  m.message = WM_KEYDOWN;
  EXPECT_TRUE(TranslateMessage(&m));
  EXPECT_FALSE(TranslateMessage(nullptr));
  Drain();
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "posts nothing";
}
