// A real program against the emulated camera: tarvorec, preloaded with the camera (and, in the sanitizer
// build, with the sanitizer's runtime before it), shows the camera's live picture in its capture window, and
// says why on standard error when the camera goes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Count(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(RecorderWithACamera, ShowsTheLivePictureAndSaysWhenTheCameraGoes) {
  char dir[] = "/tmp/tarvo_camera_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string paints = std::string(dir) + "/paints", errors = std::string(dir) + "/stderr";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("LD_PRELOAD", TARVO_CAMERA_PRELOAD, 1);
    setenv("TARVO_EMULATED_CAMERA", "/dev/tarvo-recorder-camera", 1);
    setenv("TARVO_EMULATED_CAMERA_KIND", "webcam", 1);
    setenv("TARVO_EMULATED_CAMERA_FAULT", "unplug", 1);
    setenv("TARVO_EMULATED_CAMERA_AFTER", "60", 1);
    setenv("TARVO_CAPTURE_DRIVERS", "/dev/tarvo-recorder-camera", 1);
    setenv("TARVO_UNATTENDED", "1", 1);
    setenv("TARVO_PAINT_LOG", paints.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!freopen(errors.c_str(), "w", stderr)) _exit(126);
    execl(TARVOREC_PATH, TARVOREC_PATH, static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (Read(errors).find("capture driver 0: ") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline && waitpid(child, nullptr, WNOHANG) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  const std::string said = Read(errors), painted = Read(paints);
  EXPECT_NE(said.find("capture driver 0: /dev/tarvo-recorder-camera: the device "), std::string::npos) << said;
  EXPECT_EQ(said.find("Not found video card"), std::string::npos) << said;
  // The camera gives 60 frames, two seconds at 30 a second, before it goes; most reach the preview.
  const int previews = Count(painted, "TarvoCaptureWindow");
  EXPECT_GE(previews, 10) << painted;
  std::printf("[camera] tarvorec painted %d camera pictures in its capture window\n", previews);
  unlink(paints.c_str());
  unlink(errors.c_str());
  rmdir(dir);
}
