// Playback: opening a recording, the player thread's pacing and drawing into the play panel's paint box, stop
// and play again, damaged and short files, and the failures of opening. Files are made by the test with its own
// codec (stamped pictures, so that what the paint box shows can be read back); the tick clock is faked where the
// pacing is checked.
#include "PlayThread.h"
#include "recorder_testing.h"
#include "win32/win32.h"

using namespace rectest;

namespace {

class Playback : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    F = CreateForms(true, "");
    ASSERT_NE(F, nullptr);
    F->PlayImage->WidgetClicked();
    ClearBoxes();
    ClearCodecLog();
    File = Dir.Path("play.mp4");
  }
  void TearDown() override {
    DestroyForms();
    ResetAll();
  }

  // Plays the open file to its end (the thread's body returns) and gives the painted stamps.
  std::vector<std::uint32_t> PlayToTheEnd() {
    F->PlayBtn->WidgetClicked();
    EXPECT_NE(F->PlayThread, nullptr);
    if (!F->PlayThread) return {};
    EXPECT_TRUE(PumpUntil([&] { return F->PlayThread->Finished(); }));
    PumpFor(10);
    return PaintedStamps();
  }

  void ExpectPlayButtons(bool playing) {
    EXPECT_EQ(F->PlayBtn->Enabled(), !playing);
    EXPECT_EQ(F->OpenBtn->Enabled(), !playing);
    EXPECT_EQ(F->StopPlayBtn->Enabled(), playing);
  }

  TTempDir Dir;
  std::string File;
  TForm1* F = nullptr;
};

}  // namespace

TEST(PlayWaitRule, RecordedDelayLessTheWorkAtMost200) {
  EXPECT_EQ(PlayWait(40, 1000, 1015), 25);
  EXPECT_EQ(PlayWait(1000, 1000, 1015), 200);
  EXPECT_EQ(PlayWait(10, 1000, 1015), -5);
  EXPECT_EQ(PlayWait(15, 1000, 1015), 0);
  EXPECT_EQ(PlayWait(0, 1000, 1000), 0);
  EXPECT_EQ(PlayWait(40, 0xFFFFFFF8u, 7), 25);  // the tick count wrapped meanwhile
  EXPECT_EQ(PlayWait(65535, 1000, 1000), 200);
}

TEST_F(Playback, OpeningShowsTheCountBeforeAnythingPlays) {
  WriteBytes(File, MakeRecording(250, CompressedRecords(3)));
  F->PlayBtn->SetEnabled(false);
  F->OpenBtn->WidgetClicked();  // unattended without a file: cancelled, nothing begins
  EXPECT_EQ(F->OpenDlg->InitialDir(), F->AppPath);
  EXPECT_EQ(CountMessages(ICM_DECOMPRESS_BEGIN), 0);
  EXPECT_FALSE(F->PlayBtn->Enabled());

  ChoosePlaybackFile(F, File);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(F->PlayFileName, File);
  EXPECT_EQ(F->PlayFileLabel->Text(), File);
  EXPECT_EQ(F->PlayFrameCount, 250u);
  EXPECT_EQ(F->PlayLabel->Text(), "0/250");
  EXPECT_NE(F->PlayStream, nullptr);
  EXPECT_TRUE(F->PlayBtn->Enabled());
  EXPECT_EQ(CountMessages(ICM_DECOMPRESS_BEGIN), 1);
  EXPECT_TRUE(PaintedStamps().empty());
}

TEST_F(Playback, EveryRecordIsDrawnWithItsRecordedTiming) {
  WriteBytes(File, MakeRecording(5, CompressedRecords(5, {40, 1000, 10, 0, 40})));
  ChoosePlaybackFile(F, File);
  UseFakeClock(true);
  SkipSleeps(true);
  GFaults.DecodeWorkMs = 15;

  EXPECT_EQ(PlayToTheEnd(), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
  // Each wait is the delay less the 15 ms of decoding and drawing, at most 200 ms, none when nothing is left.
  EXPECT_EQ(SleepsOffGuiThread(), (std::vector<DWORD>{25, 200, 25}));
  EXPECT_EQ(CodecLog().Decompressions, 5);
  EXPECT_EQ(ShownStamp(F->PaintBox1), 5u);
  EXPECT_EQ(F->PlayLabel->Text(), "5/5");
  // Finished: the thread is still held and the buttons stay as for playing until Stop.
  EXPECT_NE(F->PlayThread, nullptr);
  ExpectPlayButtons(true);

  ClearCodecLog();
  F->StopPlayBtn->WidgetClicked();
  EXPECT_EQ(F->PlayThread, nullptr);
  EXPECT_EQ(CountMessages(ICM_DECOMPRESS_END), 1);
  ExpectPlayButtons(false);
  EXPECT_NE(F->PlayStream, nullptr);  // the file stays open
}

TEST_F(Playback, StopThenPlayStartsAgainFromTheFirstRecord) {
  WriteBytes(File, MakeRecording(30, CompressedRecords(30, std::vector<std::uint16_t>(30, 150))));
  ChoosePlaybackFile(F, File);
  F->PlayBtn->WidgetClicked();
  ASSERT_TRUE(PumpUntil([&] { return PaintedStamps().size() >= 2; }));
  F->StopPlayBtn->WidgetClicked();
  EXPECT_EQ(F->PlayThread, nullptr);
  const std::size_t painted = PaintedStamps().size();
  EXPECT_LT(painted, 30u);
  EXPECT_EQ(F->PlayLabel->Text(), IntToStr(static_cast<std::int64_t>(painted)) + "/30");
  PumpFor(200);
  EXPECT_EQ(PaintedStamps().size(), painted);  // nothing is drawn after the stop

  ClearPaintLog();
  F->PlayBtn->WidgetClicked();
  ASSERT_TRUE(PumpUntil([&] { return PaintedStamps().size() >= 2; }));
  F->StopPlayBtn->WidgetClicked();
  std::vector<std::uint32_t> again = PaintedStamps();
  EXPECT_EQ(again[0], 1u);
  EXPECT_EQ(again[1], 2u);
}

TEST_F(Playback, ACountBeyondTheRecordsKeepsTheLastFrameOnScreen) {
  WriteBytes(File, MakeRecording(6, CompressedRecords(3)));
  ChoosePlaybackFile(F, File);
  UseFakeClock(true);
  SkipSleeps(true);
  EXPECT_EQ(F->PlayLabel->Text(), "0/6");
  EXPECT_EQ(PlayToTheEnd(), (std::vector<std::uint32_t>{1, 2, 3, 3, 3, 3}));
  EXPECT_EQ(CodecLog().Decompressions, 3);  // the last record is not decoded again
  EXPECT_EQ(SleepsOffGuiThread(), std::vector<DWORD>(6, 40));
  EXPECT_EQ(ShownStamp(F->PaintBox1), 3u);
  EXPECT_EQ(F->PlayLabel->Text(), "6/6");
}

TEST_F(Playback, ARecordCutShortIsNotDecoded) {
  const std::string whole = MakeRecording(3, CompressedRecords(3));
  const std::vector<TRecord> records = ParseRecording(whole).Records;
  const std::size_t third = 4 + (6 + records[0].Size) + (6 + records[1].Size);
  WriteBytes(File, whole.substr(0, third + 4 + records[2].Size / 2));
  ChoosePlaybackFile(F, File);
  SkipSleeps(true);
  EXPECT_EQ(PlayToTheEnd(), (std::vector<std::uint32_t>{1, 2, 2}));
  EXPECT_EQ(CodecLog().Decompressions, 2);
  EXPECT_EQ(ShownStamp(F->PaintBox1), 2u);
  EXPECT_EQ(F->PlayLabel->Text(), "3/3");
}

TEST_F(Playback, ARecordLargerThanTheBufferEndsPlaybackUnread) {
  std::vector<TRecord> records = CompressedRecords(1);
  TRecord huge;
  huge.Size = kBuffer + 1;
  huge.Data.assign(kBuffer + 1, '\xEE');
  records.push_back(huge);
  records.push_back(CompressedRecords(2)[1]);
  WriteBytes(File, MakeRecording(3, records));
  ChoosePlaybackFile(F, File);
  SkipSleeps(true);
  EXPECT_EQ(PlayToTheEnd(), std::vector<std::uint32_t>{1});
  EXPECT_EQ(CodecLog().Decompressions, 1);
  EXPECT_EQ(F->PlayLabel->Text(), "1/3");
  // Only the first record ever reached the buffer, which was all zeros before.
  EXPECT_TRUE(std::all_of(F->PlayInFrame + records[0].Size, F->PlayInFrame + kBuffer, [](BYTE b) { return b == 0; }));
  F->StopPlayBtn->WidgetClicked();

  // A record of exactly the buffer's size is still read (the codec makes nothing of these bytes).
  records = CompressedRecords(1);
  huge.Size = kBuffer;
  huge.Data.assign(kBuffer, '\x5A');
  records.push_back(huge);
  WriteBytes(File, MakeRecording(2, records));
  ChoosePlaybackFile(F, File);
  ClearPaintLog();
  ClearCodecLog();
  EXPECT_EQ(PlayToTheEnd(), (std::vector<std::uint32_t>{1, 1}));
  EXPECT_EQ(CodecLog().Decompressions, 2);
  EXPECT_EQ(F->PlayInFrame[kBuffer - 1], 0x5A);
}

TEST_F(Playback, FilesWithoutRecordsPlayNothing) {
  SkipSleeps(true);
  struct {
    std::string Bytes;
    const char* Label;
  } files[] = {{"", "0/0"}, {std::string("\x02\x00", 2), "0/0"}, {Le32(3), "0/3"}, {Le32(2) + "\x10\x00", "0/2"}};
  for (auto& file : files) {
    SCOPED_TRACE(file.Label);
    WriteBytes(File, file.Bytes);
    ChoosePlaybackFile(F, File);
    ASSERT_NE(F->PlayStream, nullptr);
    EXPECT_EQ(F->PlayLabel->Text(), file.Label);
    ClearPaintLog();
    EXPECT_TRUE(PlayToTheEnd().empty());
    EXPECT_EQ(F->PlayLabel->Text(), file.Label);
    F->StopPlayBtn->WidgetClicked();
  }
  EXPECT_EQ(CodecLog().Decompressions, 0);
}

TEST_F(Playback, ADecoderThatDoesNotBeginKeepsTheFileOpenBefore) {
  WriteBytes(File, MakeRecording(2, CompressedRecords(2)));
  ChoosePlaybackFile(F, File);
  TFileStream* before = F->PlayStream;
  const std::string other = Dir.Path("other.mp4");
  WriteBytes(other, MakeRecording(9, CompressedRecords(1)));
  GFaults.DecompressBeginFails = true;
  ChoosePlaybackFile(F, other);
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Error init decoder!");
  EXPECT_EQ(boxes[0].Caption, "error");
  EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(F->PlayStream, before);
  EXPECT_EQ(F->PlayFileName, File);
  EXPECT_EQ(F->PlayLabel->Text(), "0/2");
}

TEST_F(Playback, AFileHeldByAnotherOpenerCannotBeOpened) {
  WriteBytes(File, MakeRecording(2, CompressedRecords(2)));
  ChoosePlaybackFile(F, File);
  const std::string held = Dir.Path("held.mp4");
  WriteBytes(held, MakeRecording(1, CompressedRecords(1)));
  {
    TFileStream holder(held, fmOpenRead | fmShareDenyWrite);
    ClearCodecLog();
    ChoosePlaybackFile(F, held);
  }
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Cannot open file!");
  EXPECT_EQ(boxes[0].Caption, "error");
  EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(CountMessages(ICM_DECOMPRESS_BEGIN), 1);  // the decoder had begun
  EXPECT_EQ(F->PlayStream, nullptr);
  EXPECT_EQ(F->PlayFileName, held);
  F->PlayBtn->WidgetClicked();  // no file: nothing happens
  EXPECT_EQ(F->PlayThread, nullptr);
  EXPECT_TRUE(F->PlayBtn->Enabled());
  EXPECT_TRUE(F->OpenBtn->Enabled());
}

TEST_F(Playback, TheFileBeingRecordedCannotBeOpened) {
  ChooseRecordingFile(F, File);
  F->CaptureBtn->WidgetClicked();
  ASSERT_NE(F->CapStream.load(), nullptr);
  ChoosePlaybackFile(F, File);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].Text, "Cannot open file!");
  EXPECT_EQ(F->PlayStream, nullptr);
  SkipSleeps(true);
  F->StopBtn->WidgetClicked();
  ChoosePlaybackFile(F, File);  // once the recording has stopped it opens
  EXPECT_NE(F->PlayStream, nullptr);
  EXPECT_EQ(F->PlayLabel->Text(), "0/0");
}

TEST_F(Playback, StopWhenNothingPlaysStillEndsTheDecoder) {
  F->StopPlayBtn->WidgetClicked();
  EXPECT_EQ(CountMessages(ICM_DECOMPRESS_END), 1);
  ExpectPlayButtons(false);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Playback, ClosingTheWindowWhilePlayingStopsThePlayerFirst) {
  WriteBytes(File, MakeRecording(30, CompressedRecords(30, std::vector<std::uint16_t>(30, 150))));
  ChoosePlaybackFile(F, File);
  F->PlayBtn->WidgetClicked();
  ASSERT_TRUE(PumpUntil([&] { return !PaintedStamps().empty(); }));
  DestroyForms();
  EXPECT_EQ(CountMessages(ICM_DECOMPRESS_END), 1);
}

TEST(RecordAndPlay, ALiveRecordingPlaysBackFrameByFrame) {
  ResetAll();
  TTempDir dir;
  const std::string file = dir.Path("live.mp4");
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  ChooseRecordingFile(f, file);
  f->CaptureBtn->WidgetClicked();
  ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= 6; }));
  f->StopBtn->WidgetClicked();
  TRecording r = ParseRecording(ReadBytes(file));
  ASSERT_TRUE(r.Complete) << r.Problem;
  const std::vector<std::uint32_t> recorded = DecodeStamps(r.Records);

  f->PlayImage->WidgetClicked();
  ChoosePlaybackFile(f, file);
  EXPECT_EQ(f->PlayLabel->Text(), "0/" + IntToStr(r.Count));
  ClearPaintLog();
  f->PlayBtn->WidgetClicked();
  ASSERT_TRUE(PumpUntil([&] { return f->PlayThread->Finished(); }));
  EXPECT_EQ(PaintedStamps(), recorded);
  EXPECT_EQ(ShownStamp(f->PaintBox1), recorded.back());
  EXPECT_EQ(f->PlayLabel->Text(), IntToStr(r.Count) + "/" + IntToStr(r.Count));
  f->StopPlayBtn->WidgetClicked();
  EXPECT_TRUE(Boxes().empty());
  DestroyForms();
}
