// Helpers of the capture tests: a parent window, a capture window on the test pattern, and a video-stream
// callback that records what it is given.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "vfw/capture.h"
#include "vfw/stamp.h"
#include "vfw_testutil.h"

namespace vfwtest {

inline HWND MakeParent() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &DefWindowProcA;
    wc.lpszClassName = "VfwTestParent";
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  return CreateWindowExA(0, "VfwTestParent", "parent", WS_OVERLAPPED, 0, 0, 553, 338, nullptr, nullptr, nullptr,
                         nullptr);
}

// What the callback saw. One recorder at a time (the callback is a plain function).
struct TRecorder {
  std::atomic<int> Calls{0};
  std::atomic<bool> Inside{false};
  std::atomic<int> CallsAfterStop{0};
  std::atomic<bool> Stopped{false};
  std::atomic<int> SleepMs{0};  // each call lasts this long
  std::mutex Lock;
  std::vector<uint32_t> Seqs, Ms, Times, Sizes;
  std::vector<int64_t> CalledMs;  // monotonic milliseconds at each call
  std::vector<std::thread::id> Threads;
  std::vector<uint8_t> LastFrame;
  HWND LastWindow = nullptr;

  static TRecorder*& Current() {
    static TRecorder* current = nullptr;
    return current;
  }
  static LRESULT Callback(HWND hwnd, LPVIDEOHDR header) {
    TRecorder* r = Current();
    if (!r) return TRUE;
    r->Inside = true;
    if (r->Stopped) ++r->CallsAfterStop;
    ++r->Calls;
    {
      std::lock_guard<std::mutex> lock(r->Lock);
      uint32_t seq = 0, ms = 0;
      if (DecodeStamp(header->lpData, kWidth, kHeight, seq, ms)) {
        r->Seqs.push_back(seq);
        r->Ms.push_back(ms);
      }
      r->CalledMs.push_back(MonotonicNs() / 1000000);
      r->Times.push_back(header->dwTimeCaptured);
      r->Sizes.push_back(header->dwBytesUsed);
      r->Threads.push_back(std::this_thread::get_id());
      r->LastFrame.assign(header->lpData, header->lpData + header->dwBytesUsed);
      r->LastWindow = hwnd;
    }
    if (int ms = r->SleepMs) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    r->Inside = false;
    return TRUE;
  }
};

// A recorder installed for the length of a test.
class TRecording {
 public:
  TRecording() { TRecorder::Current() = &FRecorder; }
  ~TRecording() { TRecorder::Current() = nullptr; }
  TRecorder* operator->() { return &FRecorder; }
  TRecorder& operator*() { return FRecorder; }

 private:
  TRecorder FRecorder;
};

// A parent window with a capture window on driver 0 = the test pattern, streaming set up as the programs do.
class TPatternCapture {
 public:
  explicit TPatternCapture(const char* drivers = "pattern") : FDrivers("TARVO_CAPTURE_DRIVERS", drivers) {
    Parent = MakeParent();
    Window = capCreateCaptureWindowA("capture", WS_CHILD | WS_VISIBLE, 14, 9, kWidth, kHeight, Parent, 0);
  }
  ~TPatternCapture() {
    if (IsWindow(Window)) DestroyWindow(Window);
    if (IsWindow(Parent)) DestroyWindow(Parent);
  }
  bool SetUp(DWORD microSecPerFrame = 40000) {
    BITMAPINFO format = Record(BI_RGB);
    CAPTUREPARMS parms{};
    return capSetCallbackOnVideoStream(Window, &TRecorder::Callback) && capDriverConnect(Window, 0) &&
           capSetVideoFormat(Window, &format, sizeof format) &&
           capCaptureGetSetup(Window, &parms, sizeof parms) &&
           (parms.dwRequestMicroSecPerFrame = microSecPerFrame, parms.fYield = TRUE, parms.fAbortLeftMouse = FALSE,
            parms.fAbortRightMouse = FALSE, capCaptureSetSetup(Window, &parms, sizeof parms));
  }

  HWND Parent = nullptr;
  HWND Window = nullptr;

 private:
  TEnv FDrivers;
};

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// How long a test waits for what must happen: generous, for a loaded machine and a sanitizer build. A wait ends
// as soon as the awaited thing happens.
constexpr int kPatienceMs = 60000;

// Checks done() every few milliseconds, without handling this thread's messages, until it holds; false when it
// still does not after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    SleepMs(2);
  }
  return true;
}

// Waits until the callback has been called `more` times after now.
inline bool WaitCalls(const TRecorder& rec, int more = 1) {
  const int target = rec.Calls + more;
  return WaitUntil([&] { return rec.Calls >= target; });
}

}  // namespace vfwtest
