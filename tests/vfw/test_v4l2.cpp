// The V4L2 driver: its fitting of camera pictures to the format set (crop to the aspect ratio, scale, depth,
// row order) on known pictures, its messages for devices it cannot use, and the device path itself when this
// machine has a camera.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "driver.h"
#include "frame_convert.h"
#include "vfw_testutil.h"

using namespace vfwtest;

namespace {

struct TRgb {
  uint8_t B, G, R;
  bool operator==(const TRgb&) const = default;
};

// A top-down BGR24 camera picture of four flat quadrants.
std::vector<uint8_t> Quadrants(int w, int h, TRgb tl, TRgb tr, TRgb bl, TRgb br) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      TRgb c = y < h / 2 ? (x < w / 2 ? tl : tr) : (x < w / 2 ? bl : br);
      uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 3];
      q[0] = c.B, q[1] = c.G, q[2] = c.R;
    }
  return p;
}

// The pixel at x, y counted from the picture's top, in a frame of the format.
TRgb At(const std::vector<uint8_t>& frame, const TVideoFormat& f, int x, int y) {
  int row = f.TopDown ? y : f.Height - 1 - y;
  const uint8_t* p = &frame[f.Stride() * static_cast<size_t>(row) + static_cast<size_t>(x) * (f.BitCount / 8)];
  return {p[0], p[1], p[2]};
}

const TRgb KRed{0, 0, 255}, KGreen{0, 255, 0}, KBlue{255, 0, 0}, KWhite{255, 255, 255};

}  // namespace

TEST(V4l2Conversion, CropKeepsTheMiddleAtTheTargetAspect) {
  int x, y, w, h;
  CropToAspect(640, 480, 352, 288, x, y, w, h);  // 4:3 to 11:9: the sides go
  EXPECT_EQ(h, 480);
  EXPECT_EQ(w, 587);
  EXPECT_EQ(x, 26);
  EXPECT_EQ(y, 0);
  CropToAspect(1280, 720, 352, 288, x, y, w, h);
  EXPECT_EQ(w, 880);
  EXPECT_EQ(x, 200);
  CropToAspect(352, 400, 352, 288, x, y, w, h);  // taller than wide: top and bottom go
  EXPECT_EQ(w, 352);
  EXPECT_EQ(h, 288);
  EXPECT_EQ(y, 56);
  CropToAspect(704, 576, 352, 288, x, y, w, h);  // the same aspect: all of it
  EXPECT_EQ(w, 704);
  EXPECT_EQ(h, 576);
}

TEST(V4l2Conversion, ScalesToTheFormatWithItsRowOrderAndDepth) {
  std::vector<uint8_t> camera = Quadrants(640, 480, KRed, KGreen, KBlue, KWhite);
  TFrameConverter converter;
  for (int bits : {24, 32})
    for (bool topDown : {false, true}) {
      TVideoFormat f{352, 288, bits, topDown};
      std::vector<uint8_t> frame(f.ImageSize() + 16, 0xEE);
      ASSERT_TRUE(converter.Convert(camera.data(), 640, 480, 640 * 3, frame.data(), f));
      std::string what = std::to_string(bits) + (topDown ? " top-down" : " bottom-up");
      EXPECT_EQ(At(frame, f, 5, 5), KRed) << what;
      EXPECT_EQ(At(frame, f, 346, 5), KGreen) << what;
      EXPECT_EQ(At(frame, f, 5, 282), KBlue) << what;
      EXPECT_EQ(At(frame, f, 346, 282), KWhite) << what;
      for (size_t i = f.ImageSize(); i < frame.size(); ++i) ASSERT_EQ(frame[i], 0xEE) << what << ": wrote past";
    }
}

TEST(V4l2Conversion, SameSizeIsAnExactCopyAndPaddingIsCleared) {
  // 18 pixels a row: 54 bytes, padded to 56 in the DIB.
  std::vector<uint8_t> camera(18 * 20 * 3);
  for (size_t i = 0; i < camera.size(); ++i) camera[i] = static_cast<uint8_t>(i * 7);
  TVideoFormat f{18, 20, 24, false};
  std::vector<uint8_t> frame(f.ImageSize(), 0xEE);
  TFrameConverter converter;
  ASSERT_TRUE(converter.Convert(camera.data(), 18, 20, 18 * 3, frame.data(), f));
  for (int y = 0; y < 20; ++y) {
    const uint8_t* row = &frame[f.Stride() * static_cast<size_t>(19 - y)];
    EXPECT_EQ(std::memcmp(row, &camera[static_cast<size_t>(y) * 54], 54), 0) << "row " << y;
    EXPECT_EQ(row[54], 0);
    EXPECT_EQ(row[55], 0);
  }
}

TEST(V4l2Driver, SaysWhyItCannotUseADevice) {
  std::string why;
  EXPECT_EQ(OpenV4l2Driver("/dev/nowhere", TVideoFormat{}, why), nullptr);
  EXPECT_EQ(why, "/dev/nowhere: cannot open: no such device");
  why.clear();
  EXPECT_EQ(OpenV4l2Driver("/dev/null", TVideoFormat{}, why), nullptr);
  EXPECT_NE(why.find("/dev/null: not a V4L2 device"), std::string::npos) << why;

  // A node the user may not open. Root may open anything, so then a child that is nobody tries.
  char path[] = "/tmp/vfw_video_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  chmod(path, 0);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    std::string text;
    OpenV4l2Driver(path, TVideoFormat{}, text);
    (void)!write(pipeFds[1], text.data(), text.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  unlink(path);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(text, std::string(path) + ": cannot open: permission denied (the user needs access to the device, "
                                      "usually the group video)");
}

TEST(V4l2Driver, DeliversFramesFromARealDevice) {
  std::vector<std::string> devices = V4l2CaptureDevices();
  if (devices.empty()) GTEST_SKIP() << "no V4L2 capture device on this machine: the device path is not tested";
  TVideoFormat f{352, 288, 24, false};
  std::string why;
  std::unique_ptr<TCaptureDriver> driver = OpenV4l2Driver(devices[0], f, why);
  if (!driver && why.find("busy") != std::string::npos) GTEST_SKIP() << why;
  ASSERT_NE(driver, nullptr) << why;
  std::vector<uint8_t> frame(f.ImageSize());
  int frames = 0;
  int64_t start = MonotonicNs();
  while (frames < 5 && MonotonicNs() - start < 60'000'000'000) {  // a hang guard, generous for a loaded machine
    TWaitResult r = driver->WaitFrame(frame.data(), 40000, -1, why);
    ASSERT_NE(r, TWaitResult::Failed) << why;
    if (r == TWaitResult::Frame) ++frames;
  }
  EXPECT_EQ(frames, 5);
  // A second opener of the same camera is refused while the first streams, and says why.
  std::string second;
  if (!OpenV4l2Driver(devices[0], f, second)) {
    EXPECT_FALSE(second.empty());
  }
}
