// The threaded paths of the capture and codec layers, meant to run under the thread sanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "divx.h"
#include "capture_testutil.h"
#include "vfw_testutil.h"

using namespace vfwtest;

// One handle: a capture thread compresses while another thread decompresses and a third changes the settings
// and runs the (unattended) configuration dialog. Run under the thread sanitizer.
TEST(DivxCodecThreads, CompressDecompressAndConfigureRace) {
  TSettingsGuard guard;
  TEnv unattended("TARVO_UNATTENDED", "1");
  HIC source = OpenDivx();
  std::vector<TFrame> stream = CompressPattern(source, 40, KeyEvery125);
  ICClose(source);

  HIC hic = OpenDivx();
  BITMAPINFO rgb = Record(BI_RGB), divx = Record(kDivx);
  ASSERT_EQ(ICCompressBegin(hic, &rgb, &divx), ICERR_OK);
  ASSERT_EQ(ICDecompressBegin(hic, &divx, &rgb), ICERR_OK);
  std::atomic<bool> done{false};
  std::atomic<int> compressed{0}, decoded{0};
  std::thread capture([&] {
    std::vector<uint8_t> buffer(kBuffer);
    BITMAPINFO in = rgb, out = divx;
    for (uint32_t n = 1; n <= 60; ++n) {
      std::vector<uint8_t> picture = Pattern(n);
      if (ICCompress(hic, KeyEvery125(n) ? ICCOMPRESS_KEYFRAME : 0, &out.bmiHeader, buffer.data(), &in.bmiHeader,
                     picture.data(), nullptr, nullptr, static_cast<LONG>(n), 0, 0, nullptr, nullptr) == 0)
        ++compressed;
    }
  });
  std::thread player([&] {
    std::vector<uint8_t> picture(kBuffer);
    for (auto& f : stream)
      if (Decode(hic, InBuffer(f.Bytes).data(), picture.data()) == 0) ++decoded;
  });
  std::thread configure([&] {
    testing::internal::CaptureStderr();
    for (int i = 0; i == 0 || !done; ++i) {  // once at least, however soon the others are done
      TDivxSettings::SetCurrent({1000 + 100 * (i % 5), 50 + i % 40});
      ICConfigure(hic, nullptr);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Dialog [DIVX codec]"), std::string::npos);
  });
  capture.join();
  player.join();
  done = true;
  configure.join();
  EXPECT_EQ(compressed, 60);
  EXPECT_EQ(decoded, 40);
  ICClose(hic);
}


namespace {

// The sender's callback: copy the frame, compress it, take the size. The codec is shared with the GUI thread.
struct TSenderLike {
  HIC Codec = nullptr;
  std::vector<uint8_t> InFrame = std::vector<uint8_t>(kBuffer), OutFrame = std::vector<uint8_t>(kBuffer);
  BITMAPINFO InFormat = Record(BI_RGB), OutFormat = Record(kDivx);
  uint32_t FrameCount = 0;
  std::atomic<int> Failures{0};
  std::atomic<int> Frames{0};
};
TSenderLike* gSender = nullptr;

LRESULT SenderCallback(HWND, LPVIDEOHDR header) {
  TSenderLike& s = *gSender;
  ++s.FrameCount;
  std::memcpy(s.InFrame.data(), header->lpData, std::min<size_t>(header->dwBytesUsed, s.InFrame.size()));
  DWORD flags = s.FrameCount % 125 == 1;
  if (ICCompress(s.Codec, flags ? ICCOMPRESS_KEYFRAME : 0, &s.OutFormat.bmiHeader, s.OutFrame.data(),
                 &s.InFormat.bmiHeader, s.InFrame.data(), nullptr, &flags, static_cast<LONG>(s.FrameCount), 0, 0,
                 nullptr, nullptr) != 0 ||
      s.OutFormat.bmiHeader.biSizeImage == 0)
    ++s.Failures;
  ++s.Frames;
  return TRUE;
}

}  // namespace

// The capture callback compresses on the driver's thread while the GUI thread reconfigures the codec, the
// capture parameters and the overlay.
TEST(CaptureThreads, CallbackRacesConfigurationChanges) {
  TSettingsGuard guard;
  TEnv unattended("TARVO_UNATTENDED", "1");
  TSenderLike sender;
  gSender = &sender;
  sender.Codec = OpenDivx();
  ASSERT_EQ(ICCompressBegin(sender.Codec, &sender.InFormat, &sender.OutFormat), ICERR_OK);
  {
    TPatternCapture capture;
    ASSERT_TRUE(capSetCallbackOnVideoStream(capture.Window, &SenderCallback));
    ASSERT_TRUE(capDriverConnect(capture.Window, 0));
    CAPTUREPARMS parms{};
    ASSERT_TRUE(capCaptureGetSetup(capture.Window, &parms, sizeof parms));
    parms.dwRequestMicroSecPerFrame = 10000;
    ASSERT_TRUE(capCaptureSetSetup(capture.Window, &parms, sizeof parms));
    ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
    testing::internal::CaptureStderr();
    // Forty changes, and on until the callback has run alongside them 20 times (a loaded machine delivers
    // fewer frames meanwhile).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    for (int i = 0; i < 40 || (sender.Frames <= 20 && std::chrono::steady_clock::now() < deadline); ++i) {
      TDivxSettings::SetCurrent({500 + 250 * (i % 4), 30 + 2 * (i % 40)});
      ICConfigure(sender.Codec, capture.Parent);
      parms.dwRequestMicroSecPerFrame = 5000 + 2500 * (i % 3);
      capCaptureSetSetup(capture.Window, &parms, sizeof parms);
      capOverlay(capture.Window, i % 2);
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(capCaptureStop(capture.Window));
  }
  EXPECT_EQ(ICCompressEnd(sender.Codec), ICERR_OK);
  ICClose(sender.Codec);
  gSender = nullptr;
  EXPECT_GT(sender.Frames, 20);
  EXPECT_EQ(sender.Failures, 0);
}
