// The capture callback writing the recording file while the GUI thread stops the recording, and the player thread
// stopped and started again, many times over. Every stop must leave a whole file whose count is the number of
// frames delivered; the thread-sanitizer build runs these.
#include <thread>

#include "recorder_testing.h"
#include "win32/win32.h"

using namespace rectest;

namespace {

class Stress : public ::testing::Test {
 protected:
  void SetUp() override { ResetAll(); }
  void TearDown() override {
    DestroyForms();
    ResetAll();
  }
  TTempDir Dir;
};

void ExpectWhole(const std::string& file, std::uint32_t count, const char* what) {
  TRecording r = ParseRecording(ReadBytes(file));
  EXPECT_TRUE(r.Complete) << what << ": " << r.Problem;
  EXPECT_EQ(r.Count, count) << what;
  EXPECT_EQ(r.Records.size(), count) << what;
}

}  // namespace

TEST_F(Stress, StopsWhileTheDriverDeliversFast) {
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  // Far faster than the program asks for, so that a callback is nearly always writing when the stop comes.
  CAPTUREPARMS p{};
  capCaptureGetSetup(f->CapWnd, &p, sizeof p);
  p.dwRequestMicroSecPerFrame = 2000;
  capCaptureSetSetup(f->CapWnd, &p, sizeof p);
  SkipSleeps(true);  // the stop then rests on its hand-shake alone
  const std::string file = Dir.Path("fast.mp4");
  ChooseRecordingFile(f, file);
  for (int round = 1; round <= 6; ++round) {
    SCOPED_TRACE(round);
    f->CaptureBtn->WidgetClicked();
    ASSERT_NE(f->CapStream.load(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= static_cast<std::uint32_t>(3 * round); }));
    f->StopBtn->WidgetClicked();
    ExpectWhole(file, f->FrameCount.load(), "after the stop");
  }
}

TEST_F(Stress, StopsWhileAnotherThreadKeepsCalling) {
  // A driver that goes on calling after its stop: the recording ends all the same, and no call after the stop
  // touches the file.
  TForm1* f = CreateForms(true, "");
  ASSERT_NE(f, nullptr);
  SkipSleeps(true);
  const std::string file = Dir.Path("calls.mp4");
  ChooseRecordingFile(f, file);
  const std::vector<BYTE> picture = StampedPicture(1);
  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE(round);
    f->CaptureBtn->WidgetClicked();
    ASSERT_NE(f->CapStream.load(), nullptr);
    std::atomic<bool> go{true};
    std::thread caller([&] {
      VIDEOHDR h{};
      h.lpData = const_cast<BYTE*>(picture.data());
      h.dwBufferLength = kBuffer;
      h.dwBytesUsed = kImage;
      while (go.load()) VideoStreamCallback(f->CapWnd, &h);
    });
    ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= static_cast<std::uint32_t>(5 * round); }));
    f->StopBtn->WidgetClicked();
    const std::uint32_t counted = f->FrameCount.load();
    ExpectWhole(file, counted, "at the stop");
    PumpFor(30);
    go.store(false);
    caller.join();
    EXPECT_EQ(f->FrameCount.load(), counted);
    ExpectWhole(file, counted, "after more calls");
  }
}

TEST_F(Stress, PlayAndStopOverAndOver) {
  TForm1* f = CreateForms(true, "");
  ASSERT_NE(f, nullptr);
  f->PlayImage->WidgetClicked();
  ClearBoxes();
  const std::string file = Dir.Path("loop.mp4");
  WriteBytes(file, MakeRecording(40, CompressedRecords(40, std::vector<std::uint16_t>(40, 5))));
  ChoosePlaybackFile(f, file);
  for (int round = 0; round < 8; ++round) {
    ClearPaintLog();
    f->PlayBtn->WidgetClicked();
    ASSERT_NE(f->PlayThread, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return PaintedStamps().size() >= static_cast<std::size_t>(1 + round); }));
    f->StopPlayBtn->WidgetClicked();
    EXPECT_EQ(f->PlayThread, nullptr);
    EXPECT_EQ(PaintedStamps().front(), 1u);
  }
  EXPECT_TRUE(Boxes().empty());
}
