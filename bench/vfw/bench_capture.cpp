// The capture callback's work per frame as the sender and the recorder do it on the driver's thread: copy the
// delivered frame into the program's buffer and compress it (a key frame every 125). The test pattern streams
// at 100 frames per second for three seconds; the counters give the time per frame at the 50th and 99th
// percentiles and the worst, in microseconds.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "bench_frames.h"
#include "vfw/capture.h"

using namespace vfwbench;

namespace {

constexpr DWORD KDivx = mmioFOURCC('D', 'I', 'V', 'X');

struct TProgram {
  HIC Codec = nullptr;
  std::vector<uint8_t> InFrame = std::vector<uint8_t>(KBuffer), OutFrame = std::vector<uint8_t>(KBuffer);
  BITMAPINFO InFormat = Record(BI_RGB), OutFormat = Record(KDivx);
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

void BM_CaptureCallbackCopyAndCompress(benchmark::State& state) {
  setenv("TARVO_CAPTURE_DRIVERS", "pattern", 1);
  WNDCLASSA wc{};
  wc.lpfnWndProc = &ParentProc;
  wc.lpszClassName = "VfwBenchParent";
  RegisterClassA(&wc);
  TProgram program;
  gProgram = &program;
  program.Micros.reserve(4096);
  program.Codec = ICOpen(ICTYPE_VIDEO, KDivx, ICMODE_FASTCOMPRESS);
  for (auto _ : state) {
    HWND parent = CreateWindowExA(0, "VfwBenchParent", "bench", WS_OVERLAPPED, 0, 0, 553, 338, nullptr, nullptr,
                                  nullptr, nullptr);
    HWND window = capCreateCaptureWindowA("capture", WS_CHILD | WS_VISIBLE, 14, 9, KWidth, KHeight, parent, 0);
    capSetCallbackOnVideoStream(window, &VideoStreamCallback);
    if (!capDriverConnect(window, 0)) state.SkipWithError("no pattern driver");
    capSetVideoFormat(window, &program.InFormat, sizeof program.InFormat);
    CAPTUREPARMS parms{};
    capCaptureGetSetup(window, &parms, sizeof parms);
    parms.dwRequestMicroSecPerFrame = 10000;
    capCaptureSetSetup(window, &parms, sizeof parms);
    ICCompressBegin(program.Codec, &program.InFormat, &program.OutFormat);
    capCaptureSequenceNoFile(window);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    capCaptureStop(window);
    ICCompressEnd(program.Codec);
    DestroyWindow(window);
    DestroyWindow(parent);
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

}  // namespace

BENCHMARK(BM_CaptureCallbackCopyAndCompress)->Iterations(1)->Unit(benchmark::kMillisecond);
