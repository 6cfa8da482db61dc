// Select notifications per second under load: N datagram sockets selected for FD_READ on one window, a
// thread that keeps sending to all of them, and the window's thread handling each FD_READ with one recvfrom
// (which re-enables it), as the socket component's receive loop does.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "raw_udp.h"
#include "win32/win32.h"
#include "wsock32/winsock.h"

namespace {

constexpr UINT WM_SOCKET = WM_USER + 1;

long Handled = 0;

LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_SOCKET && WSAGETSELECTEVENT(l) == FD_READ) {
    char buf[2048];
    recvfrom(static_cast<SOCKET>(w), buf, sizeof buf, 0, nullptr, nullptr);
    ++Handled;
    return 0;
  }
  return DefWindowProcA(h, m, w, l);
}

void NotificationsUnderLoad(benchmark::State& state) {
  WSADATA d;
  WSAStartup(MAKEWORD(1, 1), &d);
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = "WsockBenchNotify";
  RegisterClassA(&wc);
  HWND wnd = CreateWindowExA(0, "WsockBenchNotify", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);

  std::vector<SOCKET> sockets;
  std::vector<std::uint16_t> ports;
  for (int i = 0; i < state.range(0); ++i) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    WSAAsyncSelect(s, wnd, WM_SOCKET, FD_READ);
    sockets.push_back(s);
    ports.push_back(ntohs(a.sin_port));
  }
  std::atomic<bool> stop{false};
  std::thread load([&] {
    int tx = rawudp::OpenBound();
    char data[256] = {};
    while (!stop.load(std::memory_order_relaxed))
      for (std::uint16_t p : ports) rawudp::SendTo(tx, data, sizeof data, p);
    rawudp::Close(tx);
  });

  Handled = 0;
  for (auto _ : state) {
    MSG m;
    if (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  }
  state.SetItemsProcessed(Handled);
  state.counters["notifications_per_s"] = benchmark::Counter(static_cast<double>(Handled), benchmark::Counter::kIsRate);

  stop = true;
  load.join();
  for (SOCKET s : sockets) closesocket(s);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
  DestroyWindow(wnd);
  WSACleanup();
}
BENCHMARK(NotificationsUnderLoad)->Arg(1)->Arg(8)->MinTime(2.0)->UseRealTime();

}  // namespace
