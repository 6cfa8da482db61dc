// Post-to-dispatch cost of platform/win32's message queue (figures go in the closing notes; nothing asserted).
//   SameThread        post one message to one's own window, then PeekMessageA + DispatchMessageA it
//   Batch/N           post N, then dispatch N (the eventfd is signalled and reset once per batch)
//   CrossThread       one thread posts as fast as the queue takes it, the owner GetMessageA + dispatches
//   EventFdLoop       the same, with the owner waiting on QueueEventFd() with poll() as Qt's loop would
//   PingPong          round trip: A posts to B's window, B's procedure posts back to A's (latency x 2)
//   SendSameThread    SendMessageA on the owner thread, for comparison
#include <benchmark/benchmark.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "win32/win32.h"

namespace {

std::atomic<long> gDispatched{0};

LRESULT CountingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_USER) {
    gDispatched.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }
  return DefWindowProcA(h, m, w, l);
}

HWND MakeCountingWindow() {
  static bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = CountingProc;
    wc.cbWndExtra = 4;
    wc.lpszClassName = "W32BenchCounting";
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  return CreateWindowExA(WS_EX_TOOLWINDOW, "W32BenchCounting", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                         nullptr);
}

void PostRetrying(HWND h, UINT msg, WPARAM w, LPARAM l) {
  while (!PostMessageA(h, msg, w, l)) std::this_thread::yield();  // only 1816 (queue full) can happen here
}

void BM_SameThread(benchmark::State& state) {
  HWND h = MakeCountingWindow();
  MSG m;
  for (auto _ : state) {
    PostMessageA(h, WM_USER, 1, 2);
    PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);
    DispatchMessageA(&m);
  }
  state.SetItemsProcessed(state.iterations());
  DestroyWindow(h);
}
BENCHMARK(BM_SameThread);

void BM_Batch(benchmark::State& state) {
  HWND h = MakeCountingWindow();
  const long n = state.range(0);
  MSG m;
  for (auto _ : state) {
    for (long i = 0; i < n; ++i) PostMessageA(h, WM_USER, 1, 2);
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
  state.SetItemsProcessed(state.iterations() * n);
  DestroyWindow(h);
}
BENCHMARK(BM_Batch)->Arg(10)->Arg(100)->Arg(1000);

void BM_CrossThread(benchmark::State& state) {
  HWND h = MakeCountingWindow();
  const long total = static_cast<long>(state.max_iterations);
  std::thread poster([&] {
    for (long i = 0; i < total; ++i) PostRetrying(h, WM_USER, 1, 2);
  });
  MSG m;
  for (auto _ : state) {
    GetMessageA(&m, nullptr, 0, 0);
    DispatchMessageA(&m);
  }
  poster.join();
  state.SetItemsProcessed(state.iterations());
  DestroyWindow(h);
}
BENCHMARK(BM_CrossThread)->UseRealTime();

void BM_EventFdLoop(benchmark::State& state) {
  HWND h = MakeCountingWindow();
  int fd = QueueEventFd();
  const long total = static_cast<long>(state.max_iterations);
  std::thread poster([&] {
    for (long i = 0; i < total; ++i) PostRetrying(h, WM_USER, 1, 2);
  });
  MSG m;
  long got = 0;
  for (auto _ : state) {
    if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      pollfd p{fd, POLLIN, 0};
      do {
        poll(&p, 1, -1);
      } while (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    }
    DispatchMessageA(&m);
    ++got;
  }
  poster.join();
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  state.SetItemsProcessed(got);
  DestroyWindow(h);
}
BENCHMARK(BM_EventFdLoop)->UseRealTime();

std::atomic<HWND> gPingWindow{nullptr};
std::atomic<HWND> gPongWindow{nullptr};

LRESULT PongProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_USER) {
    PostMessageA(gPingWindow.load(), WM_USER, w, l);
    return 0;
  }
  return DefWindowProcA(h, m, w, l);
}

void BM_PingPong(benchmark::State& state) {
  static bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PongProc;
    wc.lpszClassName = "W32BenchPong";
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  gPingWindow = MakeCountingWindow();
  gPongWindow = nullptr;  // a previous run's window is dead
  std::atomic<bool> stop{false};
  std::thread pong([&] {
    gPongWindow = CreateWindowExA(0, "W32BenchPong", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
    DestroyWindow(gPongWindow.load());
  });
  while (!gPongWindow.load()) std::this_thread::yield();
  MSG m;
  for (auto _ : state) {
    if (!PostMessageA(gPongWindow.load(), WM_USER, 0, 0)) {
      state.SkipWithError("the pong window is gone");
      break;
    }
    GetMessageA(&m, nullptr, 0, 0);
    DispatchMessageA(&m);
  }
  stop = true;
  DWORD pongThread = GetWindowThreadProcessId(gPongWindow.load(), nullptr);
  PostThreadMessageA(pongThread, WM_QUIT, 0, 0);
  pong.join();
  state.SetItemsProcessed(state.iterations());
  DestroyWindow(gPingWindow.load());
}
BENCHMARK(BM_PingPong)->UseRealTime();

void BM_SendSameThread(benchmark::State& state) {
  HWND h = MakeCountingWindow();
  for (auto _ : state) SendMessageA(h, WM_USER, 1, 2);
  state.SetItemsProcessed(state.iterations());
  DestroyWindow(h);
}
BENCHMARK(BM_SendSameThread);

}  // namespace

BENCHMARK_MAIN();
