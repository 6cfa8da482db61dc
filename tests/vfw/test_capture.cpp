// Capture windows on the test-pattern driver, through the cap* operations the programs send.
#include <gtest/gtest.h>

#include <cstddef>
#include <random>

#include "capture_testutil.h"
#include "driver.h"

using namespace vfwtest;

// The records and message numbers as the programs' callers know them.
static_assert(sizeof(BITMAPINFOHEADER) == 40 && sizeof(BITMAPINFO) == 44);
static_assert(sizeof(CAPTUREPARMS) == 96 && offsetof(CAPTUREPARMS, fYield) == 12 &&
              offsetof(CAPTUREPARMS, fAbortLeftMouse) == 44 && offsetof(CAPTUREPARMS, fAbortRightMouse) == 48);
static_assert(WM_CAP_SET_CALLBACK_VIDEOSTREAM == 0x406 && WM_CAP_DRIVER_CONNECT == 0x40A &&
              WM_CAP_DRIVER_DISCONNECT == 0x40B && WM_CAP_DLG_VIDEOFORMAT == 0x429 &&
              WM_CAP_DLG_VIDEOSOURCE == 0x42A && WM_CAP_DLG_VIDEODISPLAY == 0x42B &&
              WM_CAP_SET_VIDEOFORMAT == 0x42D && WM_CAP_SET_OVERLAY == 0x433 && WM_CAP_SEQUENCE_NOFILE == 0x43F &&
              WM_CAP_SET_SEQUENCE_SETUP == 0x440 && WM_CAP_GET_SEQUENCE_SETUP == 0x441 && WM_CAP_STOP == 0x444);

TEST(FrameClock, KeepsItsSlotsAndSkipsTheOnesMissed) {
  TFrameClock clock;
  const uint32_t interval = 40000;
  const int64_t slot = 40000000;
  const int64_t first = clock.NextDue(interval);
  EXPECT_EQ(clock.NextDue(interval), first);  // nothing taken yet
  // Frames taken a little late do not push the later slots back: no drift.
  for (int n = 1; n <= 100; ++n) {
    clock.Taken(clock.NextDue(interval) + 7000000, interval);
    ASSERT_EQ(clock.NextDue(interval), first + n * slot);
  }
  // A frame taken 3.5 slots late: the missed slots are skipped, not made up for with a burst.
  const int64_t due = clock.NextDue(interval);
  clock.Taken(due + 3 * slot + slot / 2, interval);
  EXPECT_EQ(clock.NextDue(interval), due + 4 * slot);
  // After a pause in reading, a new rhythm starts now.
  const int64_t before = MonotonicNs();
  clock.Restart();
  const int64_t restarted = clock.NextDue(interval);
  EXPECT_GE(restarted, before);
  EXPECT_LE(restarted, MonotonicNs());
}

// A camera's own rate against the requested interval of 40 ms, over 10 seconds of simulated arrivals.
TEST(FrameClock, CapsACameraToTheIntervalWithoutLosingFramesOfOneAtIt) {
  auto taken = [](double cameraMs, double jitterMs) {
    TFrameClock clock;
    const int64_t start = clock.NextDue(40000);
    std::mt19937 random(9);
    std::uniform_real_distribution<double> jitter(-jitterMs, jitterMs);
    int n = 0;
    for (double t = 0; t < 10000; t += cameraMs)
      n += clock.Offer(start + static_cast<int64_t>((t + jitter(random)) * 1e6), 40000, kCameraJitterNs);
    return n;
  };
  EXPECT_NEAR(taken(1000.0 / 30, 0), 250, 2);   // faster: capped at 25 a second, the rest dropped
  EXPECT_NEAR(taken(1000.0 / 60, 1), 250, 2);
  EXPECT_GE(taken(40, 2), 249);                 // at the interval, with a little jitter: none lost
  EXPECT_NEAR(taken(1000.0 / 15, 0), 150, 1);   // slower: every frame it gives
}

TEST(TestPattern, MovesFromFrameToFrame) {
  // Below the stamp's rows the picture changes with every frame.
  const size_t stampRows = 16 * kWidth * 3;
  for (uint32_t n : {1u, 2u, 77u}) {
    std::vector<uint8_t> a = Pattern(n), b = Pattern(n + 1);
    size_t changed = 0;
    for (size_t i = 0; i < kImage - stampRows; ++i) changed += a[i] != b[i];
    EXPECT_GT(changed, kImage / 10) << "frame " << n;
  }
}

TEST(DriverTable, ComesFromTheEnvironmentInOrder) {
  {
    TEnv drivers("TARVO_CAPTURE_DRIVERS", " pattern, /dev/nowhere ,,pattern ");
    std::vector<TDriverEntry> table = DriverTable();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_TRUE(table[0].IsPattern());
    EXPECT_EQ(table[1].Location, "/dev/nowhere");
    EXPECT_TRUE(table[2].IsPattern());
  }
  {
    TEnv drivers("TARVO_CAPTURE_DRIVERS", "pattern,pattern,pattern,pattern,pattern,pattern,pattern,pattern,"
                                          "pattern,pattern,pattern,pattern");
    EXPECT_EQ(DriverTable().size(), 10u);  // drivers 0-9
  }
  TEnv unset("TARVO_CAPTURE_DRIVERS", nullptr);
  std::vector<TDriverEntry> table = DriverTable();
  std::vector<std::string> devices = V4l2CaptureDevices();
  ASSERT_EQ(table.size(), std::min<size_t>(devices.size(), 10));
  for (size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].Location, devices[i]);
}

TEST(CaptureWindow, IsAChildOfTheParentAndHarmlessWithoutADriver) {
  TPatternCapture capture("/dev/nowhere");
  ASSERT_NE(capture.Window, nullptr);
  EXPECT_EQ(GetParent(capture.Window), capture.Parent);
  EXPECT_EQ(capCreateCaptureWindowA("capture", WS_CHILD, 0, 0, 10, 10,
                                    reinterpret_cast<HWND>(uintptr_t{0xBAD0}), 0),
            nullptr);

  // A window starts with no prompt, no audio, no time limit and no abort key.
  CAPTUREPARMS parms{};
  ASSERT_TRUE(capCaptureGetSetup(capture.Window, &parms, sizeof parms));
  EXPECT_FALSE(parms.fMakeUserHitOKToCapture);
  EXPECT_FALSE(parms.fCaptureAudio);
  EXPECT_FALSE(parms.fLimitEnabled);
  EXPECT_EQ(parms.vKeyAbort, 0u);
  EXPECT_GT(parms.dwRequestMicroSecPerFrame, 0u);

  testing::internal::CaptureStderr();
  EXPECT_FALSE(capDriverConnect(capture.Window, 0));
  EXPECT_FALSE(capDriverConnect(capture.Window, 7));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("capture driver 0: cannot connect: /dev/nowhere: cannot open: no such device"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("capture driver 7: cannot connect: no capture driver 7"), std::string::npos) << err;

  BITMAPINFO format = Record(BI_RGB);
  EXPECT_TRUE(capSetCallbackOnVideoStream(capture.Window, &TRecorder::Callback));
  EXPECT_TRUE(capCaptureSetSetup(capture.Window, &parms, sizeof parms));
  EXPECT_FALSE(capDriverDisconnect(capture.Window));
  EXPECT_FALSE(capSetVideoFormat(capture.Window, &format, sizeof format));
  EXPECT_FALSE(capOverlay(capture.Window, TRUE));
  EXPECT_FALSE(capDlgVideoFormat(capture.Window));
  EXPECT_FALSE(capDlgVideoSource(capture.Window));
  EXPECT_FALSE(capDlgVideoDisplay(capture.Window));
  EXPECT_FALSE(capCaptureSequenceNoFile(capture.Window));
  EXPECT_FALSE(capCaptureStop(capture.Window));
  // A wrong record is refused and changes nothing.
  EXPECT_FALSE(capCaptureSetSetup(capture.Window, &parms, 40));
  CAPTUREPARMS zero = parms;
  zero.dwRequestMicroSecPerFrame = 0;
  EXPECT_FALSE(capCaptureSetSetup(capture.Window, &zero, sizeof zero));
}

TEST(CaptureWindow, PatternStreamsAtTheRequestedIntervalOnItsOwnThread) {
  TRecording rec;
  TPatternCapture capture;
  ASSERT_TRUE(capture.SetUp(40000));
  ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));  // returns at once: frames follow on the driver's thread
  EXPECT_LE(rec->Calls, 1);
  // This thread pumps no messages meanwhile: the driver does not wait for it.
  EXPECT_TRUE(WaitUntil([&] { return rec->Calls >= 50; }));
  ASSERT_TRUE(capCaptureStop(capture.Window));
  int calls = rec->Calls;
  ASSERT_GE(calls, 2);

  std::lock_guard<std::mutex> lock(rec->Lock);
  ASSERT_EQ(rec->Seqs.size(), static_cast<size_t>(calls)) << "every frame carries its stamp";
  for (size_t i = 1; i < rec->Seqs.size(); ++i) {
    EXPECT_GT(rec->Seqs[i], rec->Seqs[i - 1]);
    EXPECT_GE(rec->Ms[i], rec->Ms[i - 1]);
    EXPECT_GE(rec->Times[i], rec->Times[i - 1]);
  }
  // Never faster than asked: the frames keep to their 40 ms slots, skipping the ones missed (so a busy machine
  // makes fewer, never a burst). One slot of slack for the first frame and the millisecond rounding. How close
  // the rhythm stays to 40 ms on a quiet machine is measured by the capture benchmark.
  double span = rec->Ms.back() - rec->Ms.front();
  EXPECT_GE(span, 40.0 * (calls - 2)) << calls << " frames";
  for (auto size : rec->Sizes) EXPECT_EQ(size, kImage);
  // The stamp's time is the monotonic clock's when the frame was made: after the previous callback, just before
  // this one.
  for (size_t i = 0; i < rec->Ms.size(); ++i) {
    EXPECT_LE(static_cast<int64_t>(rec->Ms[i]), rec->CalledMs[i]) << "frame " << i;
    if (i > 0) {
      EXPECT_GE(static_cast<int64_t>(rec->Ms[i]), rec->CalledMs[i - 1]) << "frame " << i;
    }
  }
  for (auto& id : rec->Threads) {
    EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_EQ(id, rec->Threads.front());
  }
  EXPECT_EQ(rec->LastWindow, capture.Window);
}

TEST(CaptureWindow, NoCallbackRunsOrFollowsAfterStop) {
  TRecording rec;
  TPatternCapture capture;
  ASSERT_TRUE(capture.SetUp(10000));
  rec->SleepMs = 15;  // stop is likely to meet a callback in progress
  for (int round = 0; round < 5; ++round) {
    rec->Stopped = false;
    ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
    EXPECT_FALSE(capCaptureSequenceNoFile(capture.Window));  // already streaming
    ASSERT_TRUE(WaitCalls(*rec));
    SleepMs(7 * round);
    ASSERT_TRUE(capCaptureStop(capture.Window));
    EXPECT_FALSE(rec->Inside);
    rec->Stopped = true;
    SleepMs(80);
    EXPECT_EQ(rec->CallsAfterStop, 0);
    EXPECT_TRUE(capCaptureStop(capture.Window));  // repeated: harmless
  }
  EXPECT_GE(rec->Calls, 5);
}

TEST(CaptureWindow, DisconnectAndDestroyStopLikeStop) {
  TRecording rec;
  {
    TPatternCapture capture;
    ASSERT_TRUE(capture.SetUp(10000));
    ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
    ASSERT_TRUE(WaitCalls(*rec));
    EXPECT_TRUE(capDriverDisconnect(capture.Window));
    rec->Stopped = true;
    SleepMs(60);
    EXPECT_EQ(rec->CallsAfterStop, 0);
    EXPECT_FALSE(capCaptureSequenceNoFile(capture.Window));
  }
  rec->Stopped = false;
  {
    TPatternCapture capture;
    ASSERT_TRUE(capture.SetUp(10000));
    ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
    ASSERT_TRUE(WaitCalls(*rec));
    EXPECT_TRUE(DestroyWindow(capture.Window));
    rec->Stopped = true;
    SleepMs(60);
    EXPECT_EQ(rec->CallsAfterStop, 0);
    EXPECT_FALSE(IsWindow(capture.Window));
  }
  EXPECT_GE(rec->Calls, 2);
}

TEST(CaptureWindow, FormatsTheProgramSets) {
  TRecording rec;
  {
    // Until the program sets a format: 352 x 288, 24-bit bottom-up.
    TPatternCapture plain;
    ASSERT_TRUE(capSetCallbackOnVideoStream(plain.Window, &TRecorder::Callback));
    ASSERT_TRUE(capDriverConnect(plain.Window, 0));
    ASSERT_TRUE(capCaptureSequenceNoFile(plain.Window));
    ASSERT_TRUE(WaitCalls(*rec));
    ASSERT_TRUE(capCaptureStop(plain.Window));
    std::lock_guard<std::mutex> lock(rec->Lock);
    ASSERT_FALSE(rec->Sizes.empty());
    EXPECT_EQ(rec->Sizes.back(), kImage);
    EXPECT_EQ(rec->Seqs.size(), rec->Sizes.size()) << "the stamp reads as a bottom-up 352 x 288 picture";
    rec->Sizes.clear();
  }
  TPatternCapture capture;
  ASSERT_TRUE(capture.SetUp(10000));
  BITMAPINFO small = Record(BI_RGB, 176, 144);
  small.bmiHeader.biBitCount = 32;
  ASSERT_TRUE(capSetVideoFormat(capture.Window, &small, sizeof small));
  ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
  BITMAPINFO other = Record(BI_RGB);
  EXPECT_FALSE(capSetVideoFormat(capture.Window, &other, sizeof other));  // not while streaming
  ASSERT_TRUE(WaitCalls(*rec));
  ASSERT_TRUE(capCaptureStop(capture.Window));
  {
    std::lock_guard<std::mutex> lock(rec->Lock);
    ASSERT_FALSE(rec->Sizes.empty());
    for (auto size : rec->Sizes) EXPECT_EQ(size, 176u * 144u * 4u);
  }

  // Top-down 24-bit: the top row comes first in memory.
  BITMAPINFO topDown = Record(BI_RGB, 352, -288);
  ASSERT_TRUE(capSetVideoFormat(capture.Window, &topDown, sizeof topDown));
  ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
  ASSERT_TRUE(WaitCalls(*rec));
  ASSERT_TRUE(capCaptureStop(capture.Window));
  {
    std::lock_guard<std::mutex> lock(rec->Lock);
    std::vector<uint8_t> flipped(kImage);
    for (int y = 0; y < kHeight; ++y)
      std::memcpy(&flipped[y * kWidth * 3], &rec->LastFrame[(kHeight - 1 - y) * kWidth * 3], kWidth * 3);
    uint32_t seq, ms;
    EXPECT_TRUE(DecodeStamp(flipped.data(), kWidth, kHeight, seq, ms));
  }

  struct TCase {
    const char* What;
    BITMAPINFO Format;
    UINT Size;
  };
  auto with = [](auto change) {
    BITMAPINFO bi = Record(BI_RGB);
    change(bi.bmiHeader);
    return bi;
  };
  std::vector<TCase> refused = {
      {"8-bit", with([](auto& h) { h.biBitCount = 8; }), 44},
      {"compressed", with([](auto& h) { h.biCompression = kDivx; }), 44},
      {"too small", with([](auto& h) { h.biWidth = 8; }), 44},
      {"no height", with([](auto& h) { h.biHeight = 0; }), 44},
      {"short record", Record(BI_RGB), 20},
  };
  for (auto& c : refused) EXPECT_FALSE(capSetVideoFormat(capture.Window, &c.Format, c.Size)) << c.What;
}

TEST(CaptureWindow, ConnectingAgainKeepsCallbackFormatParametersAndOverlay) {
  TRecording rec;
  TPatternCapture capture;
  ASSERT_TRUE(capture.SetUp(20000));
  BITMAPINFO format = Record(BI_RGB, 320, 240);
  ASSERT_TRUE(capSetVideoFormat(capture.Window, &format, sizeof format));
  ASSERT_TRUE(capOverlay(capture.Window, TRUE));
  ASSERT_TRUE(capDriverDisconnect(capture.Window));
  ASSERT_TRUE(capDriverConnect(capture.Window, 0));
  EXPECT_TRUE(capDriverConnect(capture.Window, 0));  // already connected
  CAPTUREPARMS parms{};
  ASSERT_TRUE(capCaptureGetSetup(capture.Window, &parms, sizeof parms));
  EXPECT_EQ(parms.dwRequestMicroSecPerFrame, 20000u);
  EXPECT_TRUE(parms.fYield);
  ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
  ASSERT_TRUE(WaitCalls(*rec));
  ASSERT_TRUE(capCaptureStop(capture.Window));
  std::lock_guard<std::mutex> lock(rec->Lock);
  ASSERT_FALSE(rec->Sizes.empty());
  EXPECT_EQ(rec->Sizes.back(), 320u * 240u * 3u);
}

TEST(CaptureWindow, DialogsAnswerAtOnceUnattended) {
  TEnv unattended("TARVO_UNATTENDED", "1");
  TPatternCapture capture;
  ASSERT_TRUE(capture.SetUp());
  testing::internal::CaptureStderr();
  EXPECT_TRUE(capDlgVideoSource(capture.Window));
  EXPECT_TRUE(capDlgVideoFormat(capture.Window));
  EXPECT_TRUE(capDlgVideoDisplay(capture.Window));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Dialog [Video Source]: device 0: Test pattern (built in), input Moving test pattern -> OK"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Dialog [Video Format]: 352 x 288, 24 bits, bottom-up -> OK"), std::string::npos) << err;
  EXPECT_NE(err.find("Dialog [Video Display]: live picture hidden -> OK"), std::string::npos) << err;

  // Without the unattended rule and without an application object, a dialog cannot appear and says so.
  TEnv attended("TARVO_UNATTENDED", nullptr);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(capDlgVideoFormat(capture.Window));
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Dialog [Video Format]: not shown"), std::string::npos) << err;
}

