// Helpers of the tests that run the V4L2 driver against the emulated camera (tests/camera/emulated_camera.h,
// linked into the test program): the camera chosen through the environment, the frame number read back from a
// delivered picture, a run of WaitFrame with a watchdog, and standard error caught while a test runs.
#pragma once

#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver.h"
#include "emulated_camera.h"
#include "frame_convert.h"
#include "vfw_testutil.h"

namespace vfwtest {

constexpr const char* kCameraPath = "/dev/tarvo-test-camera";

// The emulated camera at kCameraPath as driver 0, for the length of a test.
class TEmulatedCamera {
 public:
  explicit TEmulatedCamera(const char* kind, const char* fault = "none", const char* after = "10",
                           const char* fps = "30")
      : FPath("TARVO_EMULATED_CAMERA", kCameraPath), FKind("TARVO_EMULATED_CAMERA_KIND", kind),
        FFault("TARVO_EMULATED_CAMERA_FAULT", fault), FAfter("TARVO_EMULATED_CAMERA_AFTER", after),
        FFps("TARVO_EMULATED_CAMERA_FPS", fps), FDrivers("TARVO_CAPTURE_DRIVERS", kCameraPath) {
    EmulatedCameraReset();
  }
  ~TEmulatedCamera() { EmulatedCameraReset(); }

  struct TSize {
    uint32_t Width = 0, Height = 0;
    std::string Text() const { return std::to_string(Width) + " x " + std::to_string(Height); }
  };
  static TSize Size() {
    TSize s;
    uint32_t fourcc;
    EmulatedCameraFormat(&s.Width, &s.Height, &fourcc);
    return s;
  }

 private:
  TEnv FPath, FKind, FFault, FAfter, FFps, FDrivers;
};

struct TPixel {
  int B, G, R;
};

inline TPixel PixelAt(const uint8_t* frame, const TVideoFormat& f, int x, int y) {
  const int row = f.TopDown ? y : f.Height - 1 - y;
  const uint8_t* p = frame + f.Stride() * static_cast<size_t>(row) + static_cast<size_t>(x) * (f.BitCount / 8);
  return {p[0], p[1], p[2]};
}

inline bool Near(TPixel p, int r, int g, int b, int tolerance = 48) {
  return std::abs(p.R - r) <= tolerance && std::abs(p.G - g) <= tolerance && std::abs(p.B - b) <= tolerance;
}

// The frame number the camera drew into its band, read from a delivered picture (camera cropped to the
// format's aspect ratio and scaled); -1 when a block is neither black nor white.
inline int FrameNumber(const uint8_t* frame, const TVideoFormat& f) {
  const TEmulatedCamera::TSize camera = TEmulatedCamera::Size();
  int cx, cy, cw, ch;
  CropToAspect(static_cast<int>(camera.Width), static_cast<int>(camera.Height), f.Width, f.Height, cx, cy, cw, ch);
  int n = 0;
  for (int i = 0; i < EMULATED_CAMERA_BITS; ++i) {
    const double at = camera.Width * (EMULATED_CAMERA_BAND_LEFT + EMULATED_CAMERA_BIT_WIDTH * (i + 0.5));
    const int x = static_cast<int>((at - cx) * f.Width / cw);
    const TPixel p = PixelAt(frame, f, x, f.Height / 2);
    if (Near(p, 255, 255, 255, 60)) n |= 1 << i;
    else if (!Near(p, 0, 0, 0, 60)) return -1;
  }
  return n;
}

// What a run of WaitFrame gave.
struct TRun {
  std::vector<int> Numbers;  // of the frames delivered, in order
  std::vector<uint8_t> Last;  // the last frame delivered
  int Damaged = 0;            // frames delivered that were not the camera's picture
  TWaitResult End = TWaitResult::Frame;
  std::string Why;
  double Seconds = 0;
};

// Takes `frames` frames, or until WaitFrame fails; a watchdog wakes the wait after patienceMs, so that a driver
// that hangs ends the run with Woken instead of hanging the test. pauseAfter: after that many frames, the reader
// stops reading for pauseMs, as a loaded machine would.
inline TRun TakeFrames(TCaptureDriver& driver, int frames, uint32_t intervalUs = 40000, int patienceMs = 60000,
                       int pauseAfter = -1, int pauseMs = 0) {
  const TVideoFormat f = driver.Format();
  std::vector<uint8_t> frame(f.ImageSize());
  int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::mutex lock;
  std::condition_variable doneSignal;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> l(lock);
    if (!doneSignal.wait_for(l, std::chrono::milliseconds(patienceMs), [&] { return done; })) {
      uint64_t one = 1;
      (void)!write(wake, &one, sizeof one);
    }
  });
  TRun run;
  const int64_t start = MonotonicNs();
  while (static_cast<int>(run.Numbers.size()) < frames) {
    run.End = driver.WaitFrame(frame.data(), intervalUs, wake, run.Why);
    if (run.End != TWaitResult::Frame) break;
    const int n = FrameNumber(frame.data(), f);
    const TPixel corner = PixelAt(frame.data(), f, 4, 4);
    if (n < 0 || !Near(corner, 255, 0, 0)) ++run.Damaged;
    run.Numbers.push_back(n);
    run.Last = frame;
    if (static_cast<int>(run.Numbers.size()) == pauseAfter)
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  run.Seconds = static_cast<double>(MonotonicNs() - start) / 1e9;
  {
    std::lock_guard<std::mutex> l(lock);
    done = true;
  }
  doneSignal.notify_all();
  watchdog.join();
  close(wake);
  return run;
}

// Standard error of the whole process, caught in a file for the length of a test.
class TStderr {
 public:
  TStderr() {
    std::fflush(stderr);
    char path[] = "/tmp/vfw_stderr_XXXXXX";
    FFile = mkstemp(path);
    FPath = path;
    FSaved = dup(2);
    dup2(FFile, 2);
  }
  ~TStderr() {
    Restore();
    close(FFile);
    unlink(FPath.c_str());
  }
  std::string Text() const {
    std::ifstream in(FPath);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Puts standard error back, and shows what was caught there.
  void Restore() {
    if (FSaved < 0) return;
    std::fflush(stderr);
    dup2(FSaved, 2);
    close(FSaved);
    FSaved = -1;
    const std::string text = Text();
    (void)!write(2, text.data(), text.size());
  }

 private:
  std::string FPath;
  int FFile = -1;
  int FSaved = -1;
};

}  // namespace vfwtest
