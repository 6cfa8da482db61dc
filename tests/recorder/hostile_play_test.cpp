// Playback of a file whose records hold frames that the decompressor refuses (stream headers of another profile
// or of 8191 x 8191 pixels, as a crafted file may carry): the last good picture stays for them, and the frames
// after them play.
#include <fstream>
#include <iterator>

#include "PlayThread.h"
#include "recorder_testing.h"

using namespace rectest;

namespace {

TRecord HostileRecord(const std::string& name, std::size_t skip = 0) {
  std::ifstream in(std::string(TARVO_HOSTILE_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  bytes.erase(0, skip);
  return {static_cast<std::uint32_t>(bytes.size()), bytes, 40};
}

}  // namespace

TEST(HostilePlayback, RefusedRecordsKeepThePictureAndTheFramesAfterThemPlay) {
  ResetAll();
  TForm1* form = CreateForms(true, "");
  ASSERT_NE(form, nullptr);
  form->PlayImage->WidgetClicked();
  TTempDir dir;
  const std::string file = dir.Path("hostile.mp4");

  std::vector<TRecord> records = CompressedRecords(2);
  // The second datagram of the stored pair: a sequence header of the studio profile and a picture start.
  records.push_back(HostileRecord("studio-profile.dgrams", 4 + 9 + 4));
  records.push_back(HostileRecord("header-8191x8191.bin"));
  for (const TRecord& r : CompressedRecords(3)) records.push_back(r);  // a stream again from its key frame
  ASSERT_EQ(records[2].Size, 12u);
  WriteBytes(file, MakeRecording(static_cast<std::uint32_t>(records.size()), records));

  ChoosePlaybackFile(form, file);
  SkipSleeps(true);
  form->PlayBtn->WidgetClicked();
  ASSERT_NE(form->PlayThread, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return form->PlayThread->Finished(); }));
  PumpFor(10);
  EXPECT_EQ(PaintedStamps(), (std::vector<std::uint32_t>{1, 2, 2, 2, 1, 2, 3}));
  form->StopPlayBtn->WidgetClicked();
  DestroyForms();
  ResetAll();
}
