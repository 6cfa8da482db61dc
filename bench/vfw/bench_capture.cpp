// The capture callback's work per frame as the sender and the recorder do it on the driver's thread: copy the
// delivered frame into the program's buffer and compress it (a key frame every 125). The test pattern streams
// at 100 frames per second for three seconds; the counters give the time per frame at the 50th and 99th
// percentiles and the worst, in microseconds. A second run gives the test pattern's rhythm at the programs'
// 40 ms with a callback that does nothing: the mean and the longest interval between the frames' capture times,
// and the most a frame's stamp was older than its callback, in milliseconds.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "bench_frames.h"
#include "vfw/capture.h"
#include "vfw/stamp.h"

using namespace vfwbench;

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

struct TProgram {
  HIC Codec = nullptr;
  std::vector<uint8_t> InFrame = std::vector<uint8_t>(kBuffer), OutFrame = std::vector<uint8_t>(kBuffer);
  BITMAPINFO InFormat = Record(BI_RGB), OutFormat = Record(kDivx);
  uint32_t FrameCount = 0;
  std::vector<double> Micros;
};
TProgram* gProgram = nullptr;

LRESULT VideoStreamCallback(HWND, LPVIDEOHDR header) {
  auto start = std::chrono::steady_clock::now();
  TProgram& p = *gProgram;
  ++p.FrameCount;
  std::memcpy(p.InFrame.data(), header->lpData, std::min<size_t>(header->dwBytesUsed, p.InFrame.size()));
  DWORD key = p.FrameCount % 125 == 1;
  ICCompress(p.Codec, key ? ICCOMPRESS_KEYFRAME : 0, &p.OutFormat.bmiHeader, p.OutFrame.data(), &p.InFormat.bmiHeader,
             p.InFrame.data(), nullptr, &key, static_cast<LONG>(p.FrameCount), 0, 0, nullptr, nullptr);
  p.Micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  return TRUE;
}

LRESULT ParentProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) { return DefWindowProcA(hwnd, msg, w, l); }

// Streams the test pattern in the programs' format to callback, at this interval, for this long.
void StreamPattern(benchmark::State& state, LRESULT (*callback)(HWND, LPVIDEOHDR), DWORD microSecPerFrame,
                   std::chrono::seconds length) {
  static const bool registered = [] {
    setenv("TARVO_CAPTURE_DRIVERS", "pattern", 1);
    WNDCLASSA wc{};
    wc.lpfnWndProc = &ParentProc;
    wc.lpszClassName = "VfwBenchParent";
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  HWND parent = CreateWindowExA(0, "VfwBenchParent", "bench", WS_OVERLAPPED, 0, 0, 553, 338, nullptr, nullptr,
                                nullptr, nullptr);
  HWND window = capCreateCaptureWindowA("capture", WS_CHILD | WS_VISIBLE, 14, 9, kWidth, kHeight, parent, 0);
  capSetCallbackOnVideoStream(window, callback);
  if (!capDriverConnect(window, 0)) state.SkipWithError("no pattern driver");
  BITMAPINFO format = Record(BI_RGB);
  capSetVideoFormat(window, &format, sizeof format);
  CAPTUREPARMS parms{};
  capCaptureGetSetup(window, &parms, sizeof parms);
  parms.dwRequestMicroSecPerFrame = microSecPerFrame;
  capCaptureSetSetup(window, &parms, sizeof parms);
  capCaptureSequenceNoFile(window);
  std::this_thread::sleep_for(length);
  capCaptureStop(window);
  DestroyWindow(window);
  DestroyWindow(parent);
}

void BM_CaptureCallbackCopyAndCompress(benchmark::State& state) {
  TProgram program;
  gProgram = &program;
  program.Micros.reserve(4096);
  program.Codec = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  for (auto _ : state) {
    ICCompressBegin(program.Codec, &program.InFormat, &program.OutFormat);
    StreamPattern(state, &VideoStreamCallback, 10000, std::chrono::seconds(3));
    ICCompressEnd(program.Codec);
  }
  std::vector<double> t = program.Micros;
  std::sort(t.begin(), t.end());
  if (!t.empty()) {
    state.counters["frames"] = static_cast<double>(t.size());
    state.counters["p50_us"] = t[t.size() / 2];
    state.counters["p99_us"] = t[std::min(t.size() - 1, t.size() * 99 / 100)];
    state.counters["max_us"] = t.back();
  }
  ICClose(program.Codec);
  gProgram = nullptr;
}

std::vector<uint32_t> gStampMs;
std::vector<int64_t> gLateMs;

LRESULT RhythmCallback(HWND, LPVIDEOHDR header) {
  uint32_t seq = 0, ms = 0;
  if (DecodeStamp(header->lpData, kWidth, kHeight, seq, ms)) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    gStampMs.push_back(ms);
    gLateMs.push_back(static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - ms);
  }
  return TRUE;
}

void BM_PatternRhythmAt40Ms(benchmark::State& state) {
  gStampMs.clear();
  gLateMs.clear();
  for (auto _ : state) StreamPattern(state, &RhythmCallback, 40000, std::chrono::seconds(4));
  if (gStampMs.size() >= 2) {
    uint32_t longest = 0;
    for (size_t i = 1; i < gStampMs.size(); ++i) longest = std::max(longest, gStampMs[i] - gStampMs[i - 1]);
    state.counters["frames"] = static_cast<double>(gStampMs.size());
    state.counters["mean_interval_ms"] =
        static_cast<double>(gStampMs.back() - gStampMs.front()) / static_cast<double>(gStampMs.size() - 1);
    state.counters["longest_interval_ms"] = longest;
    state.counters["most_late_ms"] = static_cast<double>(*std::max_element(gLateMs.begin(), gLateMs.end()));
  }
}

}  // namespace

BENCHMARK(BM_CaptureCallbackCopyAndCompress)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PatternRhythmAt40Ms)->Iterations(1)->Unit(benchmark::kMillisecond);
