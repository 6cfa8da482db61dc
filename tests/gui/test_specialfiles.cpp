// Named pipes and devices: a file stream refuses them at once instead of waiting for a peer, and an open dialog
// whose file must exist does not take them for files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include "testforms.h"

namespace {

class SpecialFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/gui-special-XXXXXX";
    Dir = mkdtemp(name);
    Fifo = Dir + "/x.mp4";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
  }
  void TearDown() override {
    unlink(Fifo.c_str());
    rmdir(Dir.c_str());
  }
  std::string Dir;
  std::string Fifo;
};

// The message of the open's exception, or "" when it opened. Should the open hang on the pipe after all, the
// pipe's other end is opened to let it go, and the test fails rather than waits for ever.
std::string OpenError(const std::string& path, std::uint16_t mode) {
  auto open = std::async(std::launch::async, [=]() -> std::string {
    try {
      TFileStream stream(path, mode);
      return "";
    } catch (const EStreamError& e) {
      return e.Message();
    }
  });
  // Generous: on a loaded machine a refusal still comes at once, a hang never ends.
  if (open.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "opening " << path << " waits for a peer";
    int peer = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    std::string result = open.get();
    ::close(peer);
    return result;
  }
  return open.get();
}

}  // namespace

TEST_F(SpecialFiles, AStreamRefusesANamedPipeOrADeviceAtOnce) {
  const std::string refused = "Cannot open file \"" + Fifo + "\". It is not a regular file";
  EXPECT_EQ(OpenError(Fifo, fmOpenRead | fmShareExclusive), refused);
  EXPECT_EQ(OpenError(Fifo, fmOpenReadWrite | fmShareDenyNone), refused);
  EXPECT_EQ(OpenError(Fifo, fmOpenWrite | fmShareDenyNone), refused);
  EXPECT_EQ(OpenError(Fifo, fmCreate | fmShareExclusive), "Cannot create file \"" + Fifo + "\". It is not a regular file");
  EXPECT_EQ(OpenError("/dev/null", fmOpenRead | fmShareDenyNone), "Cannot open file \"/dev/null\". It is not a regular file");
  // A link to the pipe is the pipe.
  const std::string link = Dir + "/link.mp4";
  ASSERT_EQ(symlink(Fifo.c_str(), link.c_str()), 0);
  EXPECT_NE(OpenError(link, fmOpenRead | fmShareExclusive).find("It is not a regular file"), std::string::npos);
  unlink(link.c_str());
}

TEST_F(SpecialFiles, AnOpenDialogWhoseFileMustExistDoesNotTakeANamedPipe) {
  setenv("TARVO_UNATTENDED", "1", 1);
  setenv("TARVO_UNATTENDED_FILE", Fifo.c_str(), 1);
  TOpenDialog open(nullptr);
  open.SetOptions(OpenOption(ofPathMustExist) | OpenOption(ofFileMustExist));
  EXPECT_FALSE(open.Execute());
  EXPECT_EQ(open.FileName(), "");
  // Without the option the dialog names it; opening it is then the stream's refusal.
  open.SetOptions(OpenOption(ofPathMustExist));
  EXPECT_TRUE(open.Execute());
  EXPECT_EQ(open.FileName(), Fifo);
  unsetenv("TARVO_UNATTENDED_FILE");
  unsetenv("TARVO_UNATTENDED");
}
