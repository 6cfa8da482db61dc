// Benchmarks of tarvocast's pipeline, each reported at the median and the 99th percentile:
// - CaptureCallback: the video-stream callback's time for a taken frame (copy, compression, hand-off, counter);
// - HandOffToLastDatagram/<size>: from the moment a frame is handed to the sender thread to the arrival of its
//   last datagram at a receiver's socket on the same host;
// - SenderCpu/<sending>: the process's CPU use at 25 frames per second with the test-pattern driver, idle
//   (overlay only) and sending, with the sender thread's own share.
// Runs on a host of a simulated LAN of its own (root), like the tests; without one every benchmark skips, since a
// form broadcasts "exit" when it goes.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "SendThread.h"
#include "Unit1.h"
#include "lan_fixture.h"
#include "udp_peer.h"
#include "vfw/stamp.h"

namespace {

using Clock = std::chrono::steady_clock;
bool GOnLan = false;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const double rank = p * static_cast<double>(v.size() - 1);
  const auto lo = static_cast<std::size_t>(std::floor(rank));
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (rank - static_cast<double>(lo));
}

void Report(benchmark::State& state, const std::vector<double>& samples, const char* unit) {
  state.counters[std::string("p50_") + unit] = Percentile(samples, 0.50);
  state.counters[std::string("p99_") + unit] = Percentile(samples, 0.99);
}

void Pump(int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    Application->ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// A moving scene like the test pattern's: bands that scroll and a square that travels, stamped.
std::vector<std::vector<BYTE>> Scene(int count) {
  std::vector<std::vector<BYTE>> frames;
  for (int n = 0; n < count; ++n) {
    std::vector<BYTE> p(352 * 288 * 3);
    for (int y = 0; y < 288; ++y)
      for (int x = 0; x < 352; ++x) {
        BYTE* px = &p[(static_cast<std::size_t>(y) * 352 + x) * 3];
        const int band = ((x + n * 2) / 44) % 8;
        px[0] = static_cast<BYTE>(band & 1 ? 230 : 20);
        px[1] = static_cast<BYTE>(band & 2 ? 230 : 20);
        px[2] = static_cast<BYTE>(band & 4 ? 230 : 20);
        if (x >= n * 5 % 300 && x < n * 5 % 300 + 48 && y >= 100 && y < 148) px[0] = px[1] = px[2] = 250;
      }
    StampFrame(p.data(), 352, 288, static_cast<uint32_t>(n), static_cast<uint32_t>(n * 40));
    frames.push_back(std::move(p));
  }
  return frames;
}

void Release(TForm1* f) {
  f->FrameReady.store(0, std::memory_order_release);
  f->CanCompress.store(1, std::memory_order_release);
}

void BM_CaptureCallback(benchmark::State& state) {
  if (!GOnLan) {
    state.SkipWithError("needs a host of the simulated LAN (root): the form says \"exit\" to the network");
    return;
  }
  Application->CreateForm(Form1);
  TForm1* f = Form1;
  ICCompressBegin(f->Codec, &f->InFormat, &f->OutFormat);
  f->CanCompress = 1;
  const auto scene = Scene(250);
  std::vector<double> us;
  double bytes = 0;
  std::size_t n = 0;
  for (auto _ : state) {
    VIDEOHDR h{};
    h.lpData = const_cast<BYTE*>(scene[n++ % scene.size()].data());
    h.dwBufferLength = h.dwBytesUsed = 352 * 288 * 3;
    const auto t0 = Clock::now();
    VideoStreamCallback(nullptr, &h);
    const auto t1 = Clock::now();
    const double s = std::chrono::duration<double>(t1 - t0).count();
    state.SetIterationTime(s);
    us.push_back(s * 1e6);
    bytes += f->OutSize;
    Release(f);
  }
  Report(state, us, "us");
  state.counters["frame_bytes"] = bytes / static_cast<double>(std::max<std::size_t>(n, 1));
  ICCompressEnd(f->Codec);
  delete Form1;
  Application->ProcessMessages();
}
BENCHMARK(BM_CaptureCallback)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMicrosecond);

std::vector<std::size_t> DatagramsOf(std::uint32_t size) {
  std::vector<std::size_t> d{9};
  d.insert(d.end(), 7 * (size / 10240), 0);
  const std::uint32_t rest = size % 10240;
  d.insert(d.end(), rest / 1514 + (rest % 1514 ? 1 : 0), 0);
  return d;
}

void BM_HandOffToLastDatagram(benchmark::State& state) {
  if (!GOnLan) {
    state.SkipWithError("needs a host of the simulated LAN (root)");
    return;
  }
  const auto size = static_cast<std::uint32_t>(state.range(0));
  sender_testing::TUdpSink sink(7710);
  Application->CreateForm(Form1);
  TForm1* f = Form1;
  f->StartBtnClick(f->StartBtn);
  const std::size_t perFrame = DatagramsOf(size).size();
  std::vector<double> ms;
  for (auto _ : state) {
    sink.Clear();
    f->OutSize = size;
    const auto t0 = Clock::now();
    f->CanCompress.store(0, std::memory_order_release);
    f->FrameReady.store(1, std::memory_order_release);
    if (!sink.WaitFor(perFrame, 5000)) {
      state.SkipWithError("datagrams lost");
      break;
    }
    const double s = std::chrono::duration<double>(sink.Datagrams().back().Arrived - t0).count();
    state.SetIterationTime(s);
    ms.push_back(s * 1e3);
    while (!f->CanCompress.load(std::memory_order_acquire)) Application->ProcessMessages();
  }
  Report(state, ms, "ms");
  f->StopBtnClick(f->StopBtn);
  delete Form1;
  Application->ProcessMessages();
}
BENCHMARK(BM_HandOffToLastDatagram)
    ->Arg(700)
    ->Arg(10240)
    ->Arg(25000)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

// CPU time of this process, or of one of its threads by kernel id.
double ProcessCpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double ThreadCpu(pid_t tid) {
  // The kernel's clock id of a thread: (~tid << 3) | per-thread | scheduler clock.
  const clockid_t id = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
  timespec t{};
  if (clock_gettime(id, &t) != 0) return 0;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_SenderCpu(benchmark::State& state) {
  if (!GOnLan) {
    state.SkipWithError("needs a host of the simulated LAN (root)");
    return;
  }
  const bool sending = state.range(0) != 0;
  sender_testing::TUdpSink sink(7710);  // a receiver on the host, so that frames are read as they arrive
  Application->CreateForm(Form1);
  TForm1* f = Form1;
  f->Show();
  if (sending) f->StartBtnClick(f->StartBtn);
  Pump(500);
  const pid_t senderTid = sending ? static_cast<pid_t>(f->SendThread->ThreadID()) : 0;
  std::vector<double> process, senderThread, gui;
  const std::uint32_t frames0 = f->FrameCount;
  const auto start = Clock::now();
  for (auto _ : state) {
    for (int w = 0; w < 40; ++w) {  // 40 windows of 250 ms
      const double p0 = ProcessCpu(), s0 = senderTid ? ThreadCpu(senderTid) : 0, g0 = ThreadCpu(gettid());
      const auto t0 = Clock::now();
      Pump(250);
      const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
      process.push_back((ProcessCpu() - p0) / wall * 100);
      if (senderTid) senderThread.push_back((ThreadCpu(senderTid) - s0) / wall * 100);
      gui.push_back((ThreadCpu(gettid()) - g0) / wall * 100);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  Report(state, process, "process_pct");
  if (sending) {
    Report(state, senderThread, "sender_thread_pct");
    std::vector<double> rest;
    for (std::size_t i = 0; i < process.size(); ++i) rest.push_back(process[i] - senderThread[i]);
    Report(state, rest, "without_sender_thread_pct");
  }
  Report(state, gui, "gui_thread_pct");
  state.counters["frames_per_s"] = (f->FrameCount - (sending ? frames0 : 0)) / seconds;
  if (sending) f->StopBtnClick(f->StopBtn);
  delete Form1;
  Application->ProcessMessages();
}
BENCHMARK(BM_SenderCpu)->ArgName("sending")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (const char* host = std::getenv("TARVO_SENDER_ON_HOST")) {
    GOnLan = host[0] != 0;
  } else if (tarvo::lan::LanUnavailableReason().empty()) {
    // Onto host 1 of a LAN of its own, as a fresh copy of this program.
    tarvo::lan::TLan lan(1);
    ::setenv("TARVO_SENDER_ON_HOST", lan.Address(1).c_str(), 1);
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = 0;
    std::vector<std::string> run = {"run", lan.Name(), "1", self};
    run.insert(run.end(), args.begin(), args.end());
    return tarvo::lan::RunLanTool(run);
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("TARVO_CAPTURE_DRIVERS", "pattern", 0);
  ::setenv("TARVO_UNATTENDED", "1", 1);
  RegisterSocketClasses();
  Application->Initialize();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
