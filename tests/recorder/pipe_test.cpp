// A named pipe with the recording's name, chosen where the recorder opens or creates its file: the window stays
// responsive, the user is told as for any file that cannot be used, and what was open stays open.
#include <sys/stat.h>

#include "recorder_testing.h"

using namespace rectest;

TEST(NamedPipe, OpeningOrRecordingIntoOneNeverHoldsTheWindow) {
  ResetAll();
  TTempDir dir;
  TForm1* F = CreateForms(true, "");
  ASSERT_NE(F, nullptr);
  const std::string file = dir.Path("play.mp4");
  const std::string pipe = dir.Path("x.mp4");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);

  F->PlayImage->WidgetClicked();
  WriteBytes(file, MakeRecording(2, CompressedRecords(2)));
  ChoosePlaybackFile(F, file);
  ASSERT_NE(F->PlayStream, nullptr);
  TFileStream* before = F->PlayStream;
  ClearBoxes();
  ChoosePlaybackFile(F, pipe);  // the open dialog does not take it for a file: as if cancelled
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(F->PlayStream, before);
  EXPECT_EQ(F->PlayFileName, file);

  F->RecordImage->WidgetClicked();
  ChooseRecordingFile(F, pipe);
  ClearBoxes();
  F->CaptureBtn->WidgetClicked();  // it exists: the overwrite question, then the file cannot be created
  ASSERT_FALSE(Boxes().empty());
  EXPECT_EQ(Boxes().back().Text, "Cannot write to file! Please check filename!");
  EXPECT_EQ(F->CapStream.load(), nullptr);
  DestroyForms();
  ResetAll();
}
