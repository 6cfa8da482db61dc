// File streams: create, read, write, seek and size; failures as exceptions with clear messages; sharing across
// two opens of this process and across two processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "gui/streams.h"
#include "testforms.h"

namespace {

std::string TempPath(const char* name) {
  static const std::string dir = ScratchDir("gui-streams");
  return dir + "/" + name;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <class E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "(no exception)";
}

}  // namespace

TEST(FileStream, WritesReadsSeeksAndReportsShortTransfersAsCounts) {
  const std::string path = TempPath("rw.bin");
  {
    TFileStream s(path, fmCreate);
    EXPECT_EQ(s.Write("\0\0\0\0framedata", 13), 13);
    EXPECT_EQ(s.Size(), 13);
    EXPECT_EQ(s.Position(), 13);
    EXPECT_EQ(s.Seek(0, soBeginning), 0);
    std::uint32_t count = 250;
    EXPECT_EQ(s.Write(&count, 4), 4);  // the header rewritten in place
    EXPECT_EQ(s.Size(), 13);
    s.SetPosition(4);
    char buf[64];
    EXPECT_EQ(s.Read(buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "frame");
    EXPECT_EQ(s.Read(buf, 64), 4);  // only four are left: a count, no exception
    EXPECT_EQ(s.Read(buf, 64), 0);
    EXPECT_EQ(s.Seek(-4, soEnd), 9);
    EXPECT_EQ(s.Seek(-100, soBeginning), -1);
    EXPECT_EQ(s.Position(), 9);
    s.SetSize(6);
    EXPECT_EQ(s.Size(), 6);
  }
  std::string data = Contents(path);
  ASSERT_EQ(data.size(), 6u);
  EXPECT_EQ(static_cast<unsigned char>(data[0]), 250);
  {
    TFileStream s(path, fmOpenRead);
    char buf[8];
    EXPECT_EQ(s.Read(buf, 8), 6);
    EXPECT_EQ(s.Write("x", 1), 0);  // a stream opened for reading writes nothing
  }
  // Creating an existing file empties it.
  { TFileStream s(path, fmCreate); }
  EXPECT_EQ(Contents(path), "");
}

TEST(FileStream, FailuresNameTheFileAndTheReason) {
  const std::string missing = TempPath("missing.mp4");
  EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream s(missing, fmOpenRead | fmShareExclusive); }),
            "Cannot open file \"" + missing + "\". No such file or directory");
  const std::string nowhere = TempPath("no/such/dir/x.mp4");
  EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream s(nowhere, fmCreate); }),
            "Cannot create file \"" + nowhere + "\". No such file or directory");
  const std::string dir = TempPath("");
  EXPECT_NE(MessageOf<EFOpenError>([&] { TFileStream s(dir, fmOpenRead); }).find("Is a directory"), std::string::npos);
}

TEST(FileStream, ExclusiveOpensExcludeEachOtherAndACreateHarmsNoHeldFile) {
  const std::string path = TempPath("held.mp4");
  auto recorder = std::make_unique<TFileStream>(path, fmCreate);  // exclusive: nobody else may open it
  recorder->Write("recording", 9);
  EXPECT_NE(MessageOf<EFOpenError>([&] { TFileStream s(path, fmOpenRead | fmShareExclusive); })
                .find("in use by another opener"),
            std::string::npos);
  EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyNone), EFOpenError);
  EXPECT_NE(MessageOf<EFCreateError>([&] { TFileStream s(path, fmCreate); }).find("Cannot create file"),
            std::string::npos);
  // The failed create emptied nothing.
  EXPECT_EQ(Contents(path), "recording");
  EXPECT_EQ(recorder->Size(), 9);
  recorder.reset();
  TFileStream player(path, fmOpenRead | fmShareExclusive);
  char buf[16];
  EXPECT_EQ(player.Read(buf, 16), 9);
}

TEST(FileStream, ShareModesAllowWhatTheyShare) {
  const std::string path = TempPath("shared.bin");
  { TFileStream s(path, fmCreate); }
  {
    TFileStream a(path, fmOpenRead | fmShareDenyNone);
    TFileStream b(path, fmOpenReadWrite | fmShareDenyNone);
    EXPECT_EQ(b.Write("ab", 2), 2);
  }
  {
    TFileStream a(path, fmOpenRead | fmShareDenyWrite);
    TFileStream b(path, fmOpenRead | fmShareDenyWrite);  // readers that deny writers meet
    EXPECT_THROW(TFileStream(path, fmOpenReadWrite | fmShareDenyNone), EFOpenError);
  }
  {
    TFileStream writer(path, fmOpenReadWrite | fmShareDenyNone);
    EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyWrite), EFOpenError);  // it cannot deny a writer
  }
}

TEST_CHILD(OpenHeldFile) {
  const char* path = std::getenv("HELD_FILE");
  try {
    TFileStream s(path, fmOpenRead | fmShareExclusive);
  } catch (const EFOpenError& e) {
    std::cout << e.Message() << std::endl;
    try {
      TFileStream s(path, fmCreate);
    } catch (const EFCreateError& c) {
      std::cout << c.Message() << std::endl;
    }
    return 3;
  }
  return 0;
}

TEST(FileStream, AnExclusiveOpenShutsOutAnotherProcessToo) {
  const std::string path = TempPath("cross.mp4");
  auto holder = std::make_unique<TFileStream>(path, fmCreate);
  holder->Write("held by the parent", 18);
  TChildResult r = RunChild("OpenHeldFile", {"HELD_FILE=" + path});
  EXPECT_EQ(r.ExitStatus, 3) << r.Stdout << r.Stderr;
  EXPECT_NE(r.Stdout.find("Cannot open file \"" + path + "\". The file is in use"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find("Cannot create file \"" + path + "\". The file is in use"), std::string::npos) << r.Stdout;
  EXPECT_EQ(Contents(path), "held by the parent");
  holder.reset();
  r = RunChild("OpenHeldFile", {"HELD_FILE=" + path});
  EXPECT_EQ(r.ExitStatus, 0) << r.Stdout << r.Stderr;
}
