// Recording: choosing the file, the checks before capture, the capture callback's records, the count rewritten
// at the stop, and every failure on the way. Most tests deliver frames to the callback themselves (no driver
// connected, the tick clock faked), so that sizes and delays are known to the byte; the last ones record the
// live test pattern.
#include <QWidget>

#include "recorder_testing.h"
#include "win32/win32.h"

using namespace rectest;

namespace {

// The coding type of the first picture in MPEG-4 video: 'I', 'P', 'B', or '?' without one.
char PictureType(const std::string& data) {
  for (std::size_t i = 0; i + 4 < data.size(); ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && static_cast<std::uint8_t>(data[i + 3]) == 0xB6)
      return "IPBS"[static_cast<std::uint8_t>(data[i + 4]) >> 6];
  return '?';
}

class Recording : public ::testing::Test {
 protected:
  // No driver: the tests are the driver. The missing driver's box is not what they look at.
  void SetUp() override {
    ResetAll();
    F = CreateForms(true, "");
    ASSERT_NE(F, nullptr);
    ClearBoxes();
    ClearCodecLog();
    File = Dir.Path("take.mp4");
  }
  void TearDown() override {
    DestroyForms();
    ResetAll();
  }

  void StartRecording() {
    ChooseRecordingFile(F, File);
    F->CaptureBtn->WidgetClicked();
    ASSERT_NE(F->CapStream.load(), nullptr);
  }

  void ExpectRecordButtons(bool recording) {
    EXPECT_EQ(F->CaptureBtn->Enabled(), !recording);
    EXPECT_EQ(F->NewBtn->Enabled(), !recording);
    EXPECT_EQ(F->VideoSetupBtn->Enabled(), !recording);
    EXPECT_EQ(F->StopBtn->Enabled(), recording);
    for (TPictureButton* b : {F->CodecSetupBtn, F->RecordImage, F->PlayImage, F->ExitBtn}) EXPECT_TRUE(b->Enabled());
  }

  // Enabled states of the record panel's buttons and the three above the panels.
  std::vector<bool> Buttons() const {
    std::vector<bool> states;
    for (TPictureButton* b : {F->NewBtn, F->VideoSetupBtn, F->CodecSetupBtn, F->CaptureBtn, F->StopBtn,
                              F->RecordImage, F->PlayImage, F->ExitBtn})
      states.push_back(b->Enabled());
    return states;
  }

  TTempDir Dir;
  std::string File;
  TForm1* F = nullptr;
};

std::vector<std::vector<BYTE>> Pictures(std::uint32_t first, std::uint32_t last) {
  std::vector<std::vector<BYTE>> pictures;
  for (std::uint32_t i = first; i <= last; ++i) pictures.push_back(StampedPicture(i));
  return pictures;
}

}  // namespace

TEST_F(Recording, CaptureBeforeAFileIsChosenAsksForOne) {
  const std::vector<bool> before = Buttons();
  F->CaptureBtn->WidgetClicked();
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Please give me a file name first!");
  EXPECT_EQ(boxes[0].Caption, "filename");
  EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(F->CapStream.load(), nullptr);
  EXPECT_EQ(CountMessages(ICM_COMPRESS_BEGIN), 0);
  EXPECT_EQ(Buttons(), before);
  // Stop while not recording: no message, no codec call, no button change.
  F->StopBtn->WidgetClicked();
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_TRUE(CodecLog().Messages.empty());
  EXPECT_EQ(Buttons(), before);
}

TEST_F(Recording, NewFileTakesTheChosenNameFromTheProgramsFolder) {
  F->CaptureBtn->SetEnabled(false);
  F->NewBtn->WidgetClicked();  // unattended without a file: cancelled
  EXPECT_EQ(F->CapFileName, "");
  EXPECT_FALSE(F->CaptureBtn->Enabled());
  EXPECT_EQ(F->SaveDlg->InitialDir(), F->AppPath);

  // A name without extension gets .mp4; the full path is kept and shown.
  ChooseRecordingFile(F, Dir.Path("evening"));
  EXPECT_EQ(F->CapFileName, Dir.Path("evening.mp4"));
  EXPECT_EQ(F->CapFileLabel->Text(), Dir.Path("evening.mp4"));
  EXPECT_TRUE(F->CaptureBtn->Enabled());
  EXPECT_FALSE(Exists(Dir.Path("evening.mp4")));  // nothing is created before Capture
}

TEST_F(Recording, EachDeliveredFrameBecomesARecordWithItsDelay) {
  UseFakeClock(true, 5000);
  SkipSleeps(true);
  StartRecording();
  EXPECT_TRUE(Boxes().empty());
  ExpectRecordButtons(true);
  // While recording the file holds the count 0.
  EXPECT_EQ(ReadBytes(File), Le32(0));

  // The first delay is measured from the start; 70000 ms are stored as 4464 and 65536 ms as 0.
  std::vector<std::vector<BYTE>> pictures = Pictures(1, 3);
  AdvanceClock(40);
  Deliver({pictures[0]});
  AdvanceClock(70000);
  Deliver({pictures[1]});
  AdvanceClock(65536);
  Deliver({pictures[2]});
  EXPECT_EQ(F->CapLabel->Text(), "3");

  F->StopBtn->WidgetClicked();
  ExpectRecordButtons(false);
  EXPECT_EQ(F->CapStream.load(), nullptr);
  EXPECT_EQ(F->CapLabel->Text(), "3");  // the final count stays
  // The stop waited its 500 ms before rewriting the count.
  std::vector<TSleep> sleeps = Sleeps();
  ASSERT_EQ(sleeps.size(), 1u);
  EXPECT_EQ(sleeps[0].Ms, 500u);

  const std::string bytes = ReadBytes(File);
  TRecording r = ParseRecording(bytes);
  ASSERT_TRUE(r.Complete) << r.Problem;
  EXPECT_EQ(r.Count, 3u);
  ASSERT_EQ(r.Records.size(), 3u);
  const std::vector<DWORD> sizes = CodecLog().Sizes;
  ASSERT_EQ(sizes.size(), 3u);
  std::size_t length = 4;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.Records[i].Size, sizes[i]);
    EXPECT_GT(r.Records[i].Size, 0u);
    length += 6 + r.Records[i].Size;
  }
  EXPECT_EQ(bytes.size(), length);
  EXPECT_EQ(bytes.substr(0, 8), Le32(3) + Le32(sizes[0]));  // little-endian, back to back
  EXPECT_EQ(r.Records[0].Delay, 40);
  EXPECT_EQ(r.Records[1].Delay, 4464);
  EXPECT_EQ(r.Records[2].Delay, 0);
  EXPECT_EQ(PictureType(r.Records[0].Data), 'I');
  EXPECT_EQ(DecodeStamps(r.Records), (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(Recording, FramesThatFailToCompressAreCountedWithoutARecord) {
  UseFakeClock(true);
  SkipSleeps(true);
  FailCompression({2});
  OversizeCompression({4});  // a size no record may have: not written either
  StartRecording();
  for (std::uint32_t i = 1; i <= 5; ++i) {
    AdvanceClock(40);
    Deliver({StampedPicture(i)});
  }
  EXPECT_EQ(F->CapLabel->Text(), "5");
  F->StopBtn->WidgetClicked();

  TRecording r = ParseRecording(ReadBytes(File));
  ASSERT_TRUE(r.Complete) << r.Problem;
  EXPECT_EQ(r.Count, 5u);
  ASSERT_EQ(r.Records.size(), 3u);
  // A record's delay also covers the frames before it that left none.
  EXPECT_EQ(r.Records[0].Delay, 40);
  EXPECT_EQ(r.Records[1].Delay, 80);
  EXPECT_EQ(r.Records[2].Delay, 80);
  for (const TRecord& rec : r.Records) EXPECT_LE(rec.Size, 304192u);
  EXPECT_EQ(DecodeStamps(r.Records)[0], 1u);
}

TEST_F(Recording, FramesLargerThanTheBufferAreCountedAndCopyNothing) {
  StartRecording();
  std::vector<BYTE> first = StampedPicture(1);
  Deliver({first});
  ASSERT_TRUE(std::equal(first.begin(), first.begin() + kImage, F->InFrame));

  DeliverRaw(kBuffer + 1, kBuffer + 1, 0xAB);  // a larger format chosen in the driver's dialog
  DeliverRaw(1000, 500, 0xCD);                 // more bytes used than the driver's buffer holds
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + kImage, F->InFrame));
  EXPECT_EQ(CodecLog().Frames, (std::vector<LONG>{1}));  // neither was compressed

  // A short frame is copied as delivered; the rest of InFrame keeps the frame before.
  DeliverRaw(1000, 1000, 0x11);
  EXPECT_TRUE(std::all_of(F->InFrame, F->InFrame + 1000, [](BYTE b) { return b == 0x11; }));
  EXPECT_TRUE(std::equal(first.begin() + 1000, first.begin() + kImage, F->InFrame + 1000));
  EXPECT_EQ(F->CapLabel->Text(), "4");

  SkipSleeps(true);
  F->StopBtn->WidgetClicked();
  TRecording r = ParseRecording(ReadBytes(File));
  ASSERT_TRUE(r.Complete) << r.Problem;
  EXPECT_EQ(r.Count, 4u);
  EXPECT_EQ(r.Records.size(), 2u);
}

TEST_F(Recording, KeyFramesAtTheFirstFrameAndEvery125th) {
  SkipSleeps(true);
  StartRecording();
  std::vector<std::vector<BYTE>> pictures;
  for (std::uint32_t i = 1; i <= 127; ++i) pictures.push_back(StampedPicture(i % 4));
  Deliver(pictures);
  F->StopBtn->WidgetClicked();

  TCodecLog log = CodecLog();
  ASSERT_EQ(log.Frames.size(), 127u);
  for (std::size_t i = 0; i < log.Frames.size(); ++i) {
    const LONG n = log.Frames[i];
    EXPECT_EQ(n, static_cast<LONG>(i + 1));
    EXPECT_EQ(log.Flags[i], (n == 1 || n == 126) ? ICCOMPRESS_KEYFRAME : 0u) << "frame " << n;
  }
  TRecording r = ParseRecording(ReadBytes(File));
  ASSERT_TRUE(r.Complete) << r.Problem;
  ASSERT_EQ(r.Records.size(), 127u);
  EXPECT_EQ(PictureType(r.Records[0].Data), 'I');
  EXPECT_EQ(PictureType(r.Records[124].Data), 'P');
  EXPECT_EQ(PictureType(r.Records[125].Data), 'I');
}

TEST_F(Recording, AnExistingFileIsOverwrittenOnlyOnYes) {
  WriteBytes(File, "keep me");
  ChooseRecordingFile(F, File);
  const std::vector<bool> before = Buttons();
  for (int answer : {IDNO, IDCANCEL}) {
    ClearBoxes();
    SetQuestionAnswer(answer);
    F->CaptureBtn->WidgetClicked();
    std::vector<TBox> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "File Exist! Sure to overwrite it?");
    EXPECT_EQ(boxes[0].Caption, "Overwrite");
    EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(ReadBytes(File), "keep me");
    EXPECT_EQ(F->CapStream.load(), nullptr);
    EXPECT_EQ(Buttons(), before);
  }
  SetQuestionAnswer(IDYES);
  F->CaptureBtn->WidgetClicked();
  ASSERT_NE(F->CapStream.load(), nullptr);
  EXPECT_EQ(ReadBytes(File), Le32(0));
}

TEST_F(Recording, RecordingAgainIntoTheSameFileStartsAfresh) {
  SkipSleeps(true);
  StartRecording();
  Deliver(Pictures(1, 2));
  F->StopBtn->WidgetClicked();
  ASSERT_EQ(ParseRecording(ReadBytes(File)).Count, 2u);

  ClearBoxes();
  F->CaptureBtn->WidgetClicked();  // the name is kept: the overwrite question comes first
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].Caption, "Overwrite");
  ASSERT_NE(F->CapStream.load(), nullptr);
  EXPECT_EQ(ReadBytes(File), Le32(0));
  EXPECT_EQ(F->CapLabel->Text(), "2");  // until the first frame of the new recording
  Deliver(Pictures(7, 7));
  EXPECT_EQ(F->CapLabel->Text(), "1");
  F->StopBtn->WidgetClicked();
  TRecording r = ParseRecording(ReadBytes(File));
  ASSERT_TRUE(r.Complete) << r.Problem;
  EXPECT_EQ(r.Count, 1u);
  ASSERT_EQ(r.Records.size(), 1u);
  EXPECT_EQ(PictureType(r.Records[0].Data), 'I');
  EXPECT_EQ(DecodeStamps(r.Records), std::vector<std::uint32_t>{7});
}

TEST_F(Recording, AFileThatCannotBeCreatedIsReported) {
  // Held unshared by another opener: the overwrite question, then the failure; the file is left as it was.
  WriteBytes(File, "held");
  {
    TFileStream holder(File, fmOpenRead | fmShareExclusive);
    ChooseRecordingFile(F, File);
    const std::vector<bool> before = Buttons();
    F->CaptureBtn->WidgetClicked();
    std::vector<TBox> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Caption, "Overwrite");
    EXPECT_EQ(boxes[1].Text, "Cannot write to file! Please check filename!");
    EXPECT_EQ(boxes[1].Caption, "file");
    EXPECT_EQ(boxes[1].Type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(F->CapStream.load(), nullptr);
    EXPECT_EQ(ReadBytes(File), "held");
    EXPECT_EQ(CountMessages(ICM_COMPRESS_BEGIN), 0);
    EXPECT_EQ(Buttons(), before);
  }
  // A folder that does not exist (a name the dialog would refuse, kept from before the folder went).
  ClearBoxes();
  F->CapFileName = Dir.Path("gone/take.mp4");
  F->CaptureBtn->WidgetClicked();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].Caption, "file");
  EXPECT_EQ(F->CapStream.load(), nullptr);
}

TEST_F(Recording, AFileSystemThatFillsUpEndsTheRecordsAndSaysHowManyThereAre) {
  SkipSleeps(true);
  TSmallFileSystem small(60 * 1024);
  File = small.Path("take.mp4");
  StartRecording();
  // The driver goes on delivering until the GUI thread has heard of the full file and stopped the recording.
  std::uint32_t delivered = 0;
  while (Boxes().empty() && delivered < 2000) {
    Deliver(Pictures(delivered + 1, delivered + 20));
    delivered += 20;
    Application->ProcessMessages();
  }
  ASSERT_TRUE(PumpUntil([&] { return !Boxes().empty(); }));
  ExpectRecordButtons(false);
  EXPECT_EQ(F->CapStream.load(), nullptr);

  // Nothing half-written: whole records up to the end of the file; the count is every frame delivered.
  const std::string bytes = ReadBytes(File);
  EXPECT_LE(bytes.size(), 60u * 1024);
  TRecording r = ParseRecording(bytes);
  ASSERT_TRUE(r.Complete) << r.Problem;
  EXPECT_EQ(r.Count, delivered);
  EXPECT_EQ(F->CapLabel->Text(), std::to_string(delivered));
  ASSERT_GT(r.Records.size(), 1u);
  ASSERT_LT(r.Records.size(), delivered);
  std::vector<std::uint32_t> expected(r.Records.size());
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<std::uint32_t>(i + 1);
  EXPECT_EQ(DecodeStamps(r.Records), expected);

  const std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text,
            "Cannot write more to file! The file holds " + std::to_string(r.Records.size()) + " frames.");
  EXPECT_EQ(boxes[0].Caption, "file");
  EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_TRUE(boxes[0].OnGuiThread);
}

TEST_F(Recording, ACompressorThatDoesNotBeginLeavesAnEmptyClosedFile) {
  GFaults.CompressBeginFails = true;
  ChooseRecordingFile(F, File);
  const std::vector<bool> before = Buttons();
  F->CaptureBtn->WidgetClicked();
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Error Init compressor\xEF\xBC\x81");  // the full-width exclamation mark
  EXPECT_EQ(boxes[0].Caption, "error");
  EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(F->CapStream.load(), nullptr);
  ASSERT_TRUE(Exists(File));
  EXPECT_EQ(ReadBytes(File), "");
  EXPECT_NO_THROW(TFileStream(File, fmOpenRead | fmShareExclusive));  // closed: nobody holds it
  EXPECT_EQ(Buttons(), before);
}

TEST_F(Recording, WithoutACodecCaptureFailsAtTheCompressor) {
  DestroyForms();
  GFaults.NoCodec = true;
  F = CreateForms(true, "");
  ASSERT_NE(F, nullptr);
  ASSERT_GE(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].Text, "Error Init compressor");
  ClearBoxes();
  ChooseRecordingFile(F, File);
  F->CaptureBtn->WidgetClicked();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].Text, "Error Init compressor\xEF\xBC\x81");
  EXPECT_EQ(ReadBytes(File), "");
  EXPECT_EQ(F->CapStream.load(), nullptr);
}

TEST_F(Recording, ClosingTheWindowWhileRecordingLeavesACompleteFile) {
  SkipSleeps(true);
  StartRecording();
  Deliver(Pictures(1, 4));
  DestroyForms();
  TRecording r = ParseRecording(ReadBytes(File));
  ASSERT_TRUE(r.Complete) << r.Problem;
  EXPECT_EQ(r.Count, 4u);
  EXPECT_EQ(r.Records.size(), 4u);
  EXPECT_EQ(CountMessages(ICM_COMPRESS_END), 1);
}

// ---- With a driver -----------------------------------------------------------------------------------------------

namespace {

class LiveRecording : public ::testing::Test {
 protected:
  void SetUp() override { ResetAll(); }
  void TearDown() override {
    DestroyForms();
    ResetAll();
  }
  TTempDir Dir;
};

}  // namespace

TEST_F(LiveRecording, RecordsEveryFrameOfTheTestPatternInOrder) {
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  const std::string file = Dir.Path("live.mp4");
  ChooseRecordingFile(f, file);
  f->CaptureBtn->WidgetClicked();
  ASSERT_NE(f->CapStream.load(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= 8; }));
  f->StopBtn->WidgetClicked();
  PumpFor(20);
  const std::uint32_t delivered = f->FrameCount.load();
  EXPECT_EQ(f->CapLabel->Text(), IntToStr(delivered));

  TRecording r = ParseRecording(ReadBytes(file));
  ASSERT_TRUE(r.Complete) << r.Problem;
  EXPECT_EQ(r.Count, delivered);
  ASSERT_EQ(r.Records.size(), delivered);  // the codec took every frame
  EXPECT_EQ(PictureType(r.Records[0].Data), 'I');
  // Each record is the driver's next frame: the pattern's stamps follow one another.
  std::vector<std::uint32_t> stamps = DecodeStamps(r.Records);
  ASSERT_NE(stamps[0], 0u);
  for (std::size_t i = 1; i < stamps.size(); ++i) EXPECT_EQ(stamps[i], stamps[0] + i) << "record " << i + 1;
  // After the stop no frame is counted or written any more.
  PumpFor(150);
  EXPECT_EQ(f->FrameCount.load(), delivered);
}

TEST_F(LiveRecording, WithoutADriverARecordingHoldsOnlyItsCount) {
  TForm1* f = CreateForms(true, "");
  ASSERT_NE(f, nullptr);
  const std::string file = Dir.Path("nothing.mp4");
  ChooseRecordingFile(f, file);
  f->CaptureBtn->WidgetClicked();
  ASSERT_NE(f->CapStream.load(), nullptr);
  PumpFor(100);
  SkipSleeps(true);
  f->StopBtn->WidgetClicked();
  EXPECT_EQ(ReadBytes(file), std::string(4, '\0'));
}

TEST_F(LiveRecording, SwitchingToThePlayPanelWhileRecordingStopsTheFrames) {
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  const std::string file = Dir.Path("switch.mp4");
  ChooseRecordingFile(f, file);
  f->CaptureBtn->WidgetClicked();
  ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= 2; }));
  f->PlayImage->WidgetClicked();  // the driver goes, the recording stays
  const std::uint32_t atSwitch = f->FrameCount.load();
  PumpFor(150);
  EXPECT_EQ(f->FrameCount.load(), atSwitch);
  EXPECT_NE(f->CapStream.load(), nullptr);
  f->StopBtn->WidgetClicked();
  TRecording r = ParseRecording(ReadBytes(file));
  ASSERT_TRUE(r.Complete) << r.Problem;
  EXPECT_EQ(r.Count, atSwitch);
}
