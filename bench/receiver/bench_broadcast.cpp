// The receiver at work: tarvocast with the test-pattern camera at 25 frames per second on host1 of a simulated
// LAN, tarvoview on host2, the wire witness (e2e_wire) on host3, the windows on a private Xvfb display. Over the
// measured seconds (after a warm-up) it reports:
//   latency_median_ms, latency_p95_ms  capture-to-paint: paint time in the paint log minus the capture time the
//                                      frame's stamp carries (one clock, CLOCK_MONOTONIC, on every host)
//   painted_per_header                 frames the receiver painted per frame header that went on the wire
//   receiver_cpu_pct                   the receiver's user and system CPU time per wall-clock time, in percent
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e_logs.h"
#include "e2e_x11.h"
#include "lan_fixture.h"

using namespace tarvo::e2e;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

// User plus system CPU time of a process, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stol(f);
    if (i == 15) stime = std::stol(f);
  }
  return utime + stime;
}

pid_t Launch(tarvo::lan::TLan& lan, int host, const std::string& display, const std::string& dir, const char* path,
             const std::string& name) {
  return lan.Start(host, {"/usr/bin/env", "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + dir,
                          "TARVO_UNATTENDED=1", "TARVO_CAPTURE_DRIVERS=pattern",
                          "TARVO_PAINT_LOG=" + dir + "/" + name + ".paint", "/bin/sh", "-c",
                          "exec \"$0\" 2>>\"$1\"", path, dir + "/" + name + ".stderr"});
}

void BM_BroadcastToOneReceiver(benchmark::State& state) {
  const int measured = static_cast<int>(state.range(0));
  if (const std::string& why = tarvo::lan::LanUnavailableReason(); !why.empty()) {
    state.SkipWithError(("no simulated LAN: " + why).c_str());
    return;
  }
  if (const std::string missing = XToolsMissing(); !missing.empty()) {
    state.SkipWithError(("no X tools: " + missing).c_str());
    return;
  }
  for (auto _ : state) {
    char dirTemplate[] = "/tmp/receiver_bench.XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    tarvo::lan::TLan lan(3);
    TXDisplay display(1280, 1024);
    const std::string wireLog = dir + "/wire.log";
    lan.Start(3, {E2E_WIRE_PATH, wireLog});
    const pid_t receiver = Launch(lan, 2, display.Name(), dir, TARVOVIEW_PATH, "tarvoview");
    if (!display.WaitWindow("Tarvo MPEG4 video receiver (Velmora)", receiver, seconds(30))) {
      state.SkipWithError("the receiver showed no window");
      return;
    }
    const pid_t sender = Launch(lan, 1, display.Name(), dir, TARVOCAST_PATH, "tarvocast");
    const TWindow cast = display.WaitWindow("Tarvo MPEG4 Video Broadcast", sender, seconds(30));
    if (!cast) {
      state.SkipWithError("the sender showed no window");
      return;
    }
    display.Move(cast, 20, 20);
    display.Raise(cast);
    std::this_thread::sleep_for(seconds(3));  // the receiver announces itself and is answered
    display.Click(cast, 402 + 135 / 2, 58 + 24 / 2);
    std::this_thread::sleep_for(seconds(3));  // past the first frames and the first key frame

    const long cpuBefore = CpuTicks(receiver);
    const std::uint64_t from = NowMs();
    std::this_thread::sleep_for(seconds(measured));
    const std::uint64_t to = NowMs();
    const long cpuAfter = CpuTicks(receiver);
    std::this_thread::sleep_for(milliseconds(500));  // the last frames' paints

    const std::vector<TWireEvent> wire = ReadWire(wireLog);
    const std::vector<TPaint> paints = ReadPaints(dir + "/tarvoview.paint");
    const TRecovery painted = Recovery(wire, paints, from, to);
    const TPaintFigures figures = PaintFigures(paints, from, to + 500);
    const std::size_t headers = CountKind(wire, "header", from, to);
    state.SetIterationTime(static_cast<double>(to - from) / 1000.0);
    state.counters["latency_median_ms"] = figures.LatencyMedianMs;
    state.counters["latency_p95_ms"] = figures.LatencyP95Ms;
    state.counters["headers"] = static_cast<double>(headers);
    state.counters["painted_per_header"] =
        headers ? static_cast<double>(painted.Painted) / static_cast<double>(headers) : 0.0;
    state.counters["receiver_cpu_pct"] = 100.0 * static_cast<double>(cpuAfter - cpuBefore) /
                                         static_cast<double>(::sysconf(_SC_CLK_TCK)) /
                                         (static_cast<double>(to - from) / 1000.0);
    std::printf("logs in %s\n", dir.c_str());
  }
}

}  // namespace

BENCHMARK(BM_BroadcastToOneReceiver)->Arg(20)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
