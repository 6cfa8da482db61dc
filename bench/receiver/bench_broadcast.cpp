// The receiver at work: a sender at 25 frames per second on host1 of a simulated LAN, tarvoview on host2, the
// wire witness (e2e_wire) on host3, the windows on a private Xvfb display. BroadcastToOneReceiver runs
// tarvocast with the test-pattern camera; FramesOfASizeToOneReceiver/<bytes> runs receiver_bench_feeder, which
// sends the stamped pattern as tarvocast does with noise that makes its frames about that size (0: the plain
// pattern). Over the measured seconds (after a warm-up) each reports:
//   latency_median_ms, latency_p95_ms  capture-to-paint: paint time in the paint log minus the capture time the
//                                      frame's stamp carries (one clock, CLOCK_MONOTONIC, on every host)
//   painted_per_header                 frames the receiver painted per frame header that went on the wire
//   receiver_cpu_pct                   the receiver's user and system CPU time per wall-clock time, in percent
//   gui_wakeups_per_s                  times the receiver's GUI thread went to sleep and was woken, per second
//   bytes_per_frame                    the frame size the headers announced
// RECEIVER_BENCH_TARVOVIEW=<path> measures another build of tarvoview instead (with the libwsock32.so beside
// it), so that two builds can be compared on one machine, run after run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

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

// Times the process's main thread (the GUI thread) has gone to sleep and been woken.
long Wakeups(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
  return -1;
}

pid_t Launch(tarvo::lan::TLan& lan, int host, const std::string& display, const std::string& dir,
             const std::string& path, const std::string& name) {
  std::vector<std::string> args = {"/usr/bin/env", "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                                   "XDG_RUNTIME_DIR=" + dir, "TARVO_UNATTENDED=1", "TARVO_CAPTURE_DRIVERS=pattern",
                                   "TARVO_PAINT_LOG=" + dir + "/" + name + ".paint"};
  // A program from elsewhere loads the socket library that lies beside it.
  if (const std::size_t slash = path.rfind('/'); slash != std::string::npos)
    args.push_back("LD_LIBRARY_PATH=" + path.substr(0, slash));
  for (std::string a : {std::string("/bin/sh"), std::string("-c"), std::string("exec \"$0\" 2>>\"$1\""), path,
                        dir + "/" + name + ".stderr"})
    args.push_back(std::move(a));
  return lan.Start(host, args);
}

// The receiver to measure: this build's, or the one RECEIVER_BENCH_TARVOVIEW names.
std::string ReceiverPath() {
  const char* other = std::getenv("RECEIVER_BENCH_TARVOVIEW");
  return other != nullptr && *other != '\0' ? other : TARVOVIEW_PATH;
}

// The sender: tarvocast (its Start button pressed once the receiver has announced itself) or the feeder.
using TStartSender = std::function<bool(tarvo::lan::TLan&, TXDisplay&, const std::string& dir)>;

void MeasureReceiver(benchmark::State& state, const TStartSender& startSender) {
  const int measured = 20;
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
    const pid_t receiver = Launch(lan, 2, display.Name(), dir, ReceiverPath(), "tarvoview");
    if (!display.WaitWindow("Tarvo MPEG4 video receiver (Velmora)", receiver, seconds(30))) {
      state.SkipWithError("the receiver showed no window");
      return;
    }
    if (!startSender(lan, display, dir)) {
      state.SkipWithError("the sender showed no window");
      return;
    }
    std::this_thread::sleep_for(seconds(3));  // past the first frames and the first key frame

    const long cpuBefore = CpuTicks(receiver), wakeupsBefore = Wakeups(receiver);
    const std::uint64_t from = NowMs();
    std::this_thread::sleep_for(seconds(measured));
    const std::uint64_t to = NowMs();
    const long cpuAfter = CpuTicks(receiver), wakeupsAfter = Wakeups(receiver);
    std::this_thread::sleep_for(milliseconds(500));  // the last frames' paints

    const std::vector<TWireEvent> wire = ReadWire(wireLog);
    const std::vector<TPaint> paints = ReadPaints(dir + "/tarvoview.paint");
    const TRecovery painted = Recovery(wire, paints, from, to);
    const TPaintFigures figures = PaintFigures(paints, from, to + 500);
    const std::size_t headers = CountKind(wire, "header", from, to);
    double bytes = 0;
    for (const TWireEvent& e : wire)
      if (e.Kind == "header" && e.Ms >= from && e.Ms < to) bytes += e.Size;
    state.SetIterationTime(static_cast<double>(to - from) / 1000.0);
    state.counters["latency_median_ms"] = figures.LatencyMedianMs;
    state.counters["latency_p95_ms"] = figures.LatencyP95Ms;
    state.counters["headers"] = static_cast<double>(headers);
    state.counters["painted_per_header"] =
        headers ? static_cast<double>(painted.Painted) / static_cast<double>(headers) : 0.0;
    state.counters["receiver_cpu_pct"] = 100.0 * static_cast<double>(cpuAfter - cpuBefore) /
                                         static_cast<double>(::sysconf(_SC_CLK_TCK)) /
                                         (static_cast<double>(to - from) / 1000.0);
    state.counters["gui_wakeups_per_s"] =
        static_cast<double>(wakeupsAfter - wakeupsBefore) / (static_cast<double>(to - from) / 1000.0);
    state.counters["bytes_per_frame"] = headers ? bytes / static_cast<double>(headers) : 0.0;
    std::printf("logs in %s\n", dir.c_str());
  }
}

void BM_BroadcastToOneReceiver(benchmark::State& state) {
  MeasureReceiver(state, [](tarvo::lan::TLan& lan, TXDisplay& display, const std::string& dir) {
    const pid_t sender = Launch(lan, 1, display.Name(), dir, TARVOCAST_PATH, "tarvocast");
    const TWindow cast = display.WaitWindow("Tarvo MPEG4 Video Broadcast", sender, seconds(30));
    if (!cast) return false;
    display.Move(cast, 20, 20);
    display.Raise(cast);
    std::this_thread::sleep_for(seconds(3));  // the receiver announces itself and is answered
    display.Click(cast, 402 + 135 / 2, 58 + 24 / 2);
    return true;
  });
}

void BM_FramesOfASizeToOneReceiver(benchmark::State& state) {
  const std::string bytes = std::to_string(state.range(0));
  MeasureReceiver(state, [&bytes](tarvo::lan::TLan& lan, TXDisplay&, const std::string& dir) {
    lan.Start(1, {"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>>\"$2\"", FEEDER_PATH, bytes, dir + "/feeder.stderr"});
    return true;
  });
}

}  // namespace

BENCHMARK(BM_BroadcastToOneReceiver)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FramesOfASizeToOneReceiver)
    ->ArgName("bytes")
    ->Arg(0)
    ->Arg(33000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
