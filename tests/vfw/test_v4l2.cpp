// The V4L2 driver: its fitting of camera pictures to the format set (crop to the aspect ratio, scale, depth,
// row order) on known pictures, its messages for devices it cannot use, and the device path itself: against
// the emulated cameras (tests/camera), and against this machine's camera when it has one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "camera_testutil.h"
#include "capture_testutil.h"
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

const TRgb kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0}, kWhite{255, 255, 255};

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
  std::vector<uint8_t> camera = Quadrants(640, 480, kRed, kGreen, kBlue, kWhite);
  TFrameConverter converter;
  for (int bits : {24, 32})
    for (bool topDown : {false, true}) {
      TVideoFormat f{352, 288, bits, topDown};
      std::vector<uint8_t> frame(f.ImageSize() + 16, 0xEE);
      ASSERT_TRUE(converter.Convert(camera.data(), 640, 480, 640 * 3, frame.data(), f));
      std::string what = std::to_string(bits) + (topDown ? " top-down" : " bottom-up");
      EXPECT_EQ(At(frame, f, 5, 5), kRed) << what;
      EXPECT_EQ(At(frame, f, 346, 5), kGreen) << what;
      EXPECT_EQ(At(frame, f, 5, 282), kBlue) << what;
      EXPECT_EQ(At(frame, f, 346, 282), kWhite) << what;
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

namespace {

// Five frames from the first capture device of the default scan, and a second opener of it told why it cannot
// have it; "" when all went well.
std::string DeliverFromTheFirstDevice() {
  std::vector<std::string> devices = V4l2CaptureDevices();
  if (devices.empty()) return "no capture device found";
  TVideoFormat f{352, 288, 24, false};
  std::string why;
  std::unique_ptr<TCaptureDriver> driver = OpenV4l2Driver(devices[0], f, why);
  if (!driver) return devices[0] + " does not open: " + why;
  TRun run = TakeFrames(*driver, 5);
  if (run.Numbers.size() != 5) return "frames delivered: " + std::to_string(run.Numbers.size()) + ", " + run.Why;
  std::string second;
  if (!OpenV4l2Driver(devices[0], f, second) && second.empty()) return "a second opener is refused without a reason";
  return "";
}

}  // namespace

// On a machine without a camera the emulated one stands in: found by the default scan of /dev inside a mount
// namespace of the test's own where root may make one, else named in the environment.
TEST(V4l2Driver, DeliversFramesFromARealDevice) {
  if (!V4l2CaptureDevices().empty()) {
    std::vector<std::string> devices = V4l2CaptureDevices();
    std::string why;
    std::unique_ptr<TCaptureDriver> probe = OpenV4l2Driver(devices[0], TVideoFormat{}, why);
    if (!probe && why.find("busy") != std::string::npos) GTEST_SKIP() << why;
    probe.reset();
    EXPECT_EQ(DeliverFromTheFirstDevice(), "");
    return;
  }
  TEmulatedCamera camera("webcam");
  if (geteuid() != 0) {
    std::string why;
    std::unique_ptr<TCaptureDriver> driver = OpenV4l2Driver(kCameraPath, TVideoFormat{}, why);
    ASSERT_NE(driver, nullptr) << why;
    EXPECT_EQ(TakeFrames(*driver, 5).Numbers.size(), 5u);
    return;
  }
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    std::string failure;
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/dev", "tmpfs", 0, "mode=755") != 0)
      failure = std::string("no mount namespace: ") + std::strerror(errno);
    else if (int fd = ::open("/dev/video0", O_CREAT | O_WRONLY, 0666); fd < 0)
      failure = std::string("cannot make /dev/video0: ") + std::strerror(errno);
    else {
      ::close(fd);
      setenv("TARVO_EMULATED_CAMERA", "/dev/video0", 1);
      failure = DeliverFromTheFirstDevice();
    }
    (void)!write(pipeFds[1], failure.data(), failure.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string failure;
  char buffer[256];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) failure.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(failure, "");
}

// Each emulated camera through the whole path: the camera size chosen (the smallest whose 11:9 middle covers
// 352 x 288, else the largest), the picture's geometry and colours after crop and scale, and 25 frames a
// second from a 30 fps camera asked for 40,000 us, counted on the camera's own frame numbers.
TEST(V4l2Cameras, EachDeliversItsPictureAtTheRequestedRate) {
  struct TCase {
    const char* Kind;
    uint32_t Width, Height;
  };
  for (TCase c : {TCase{"yuyv", 640, 480}, TCase{"mjpeg", 1280, 720}, TCase{"mjpeg-nodht", 1280, 720},
                  TCase{"webcam", 352, 288}, TCase{"bgr", 640, 480}}) {
    SCOPED_TRACE(c.Kind);
    TEmulatedCamera camera(c.Kind);
    for (TVideoFormat f : {TVideoFormat{352, 288, 24, false}, TVideoFormat{352, 288, 32, true}}) {
      std::string why;
      std::unique_ptr<TCaptureDriver> driver = OpenV4l2Driver(kCameraPath, f, why);
      ASSERT_NE(driver, nullptr) << why;
      TStderr errors;
      TRun run = TakeFrames(*driver, 50);
      errors.Restore();
      ASSERT_EQ(run.Numbers.size(), 50u) << run.Why;
      EXPECT_EQ(TEmulatedCamera::Size().Width, c.Width);
      EXPECT_EQ(TEmulatedCamera::Size().Height, c.Height);
      EXPECT_EQ(run.Damaged, 0);
      EXPECT_EQ(errors.Text(), "") << "nothing said while all goes well";
      const std::vector<uint8_t>& p = run.Last;
      EXPECT_TRUE(Near(PixelAt(p.data(), f, 8, 8), 255, 0, 0));
      EXPECT_TRUE(Near(PixelAt(p.data(), f, 343, 8), 0, 255, 0));
      EXPECT_TRUE(Near(PixelAt(p.data(), f, 8, 279), 0, 0, 255));
      EXPECT_TRUE(Near(PixelAt(p.data(), f, 343, 279), 255, 255, 255));
      // The quadrants meet in the middle: nothing shifted or stretched on one side.
      EXPECT_TRUE(Near(PixelAt(p.data(), f, 170, 60), 255, 0, 0));
      EXPECT_TRUE(Near(PixelAt(p.data(), f, 182, 60), 0, 255, 0));
      EXPECT_TRUE(Near(PixelAt(p.data(), f, 170, 228), 0, 0, 255));
      EXPECT_TRUE(Near(PixelAt(p.data(), f, 182, 228), 255, 255, 255));
      // Of the camera's frames first..last, 25 in 30 are taken, but for those the camera itself lost.
      const int span = run.Numbers.back() - run.Numbers.front();
      EXPECT_NEAR(run.Numbers.size() - 1, span * 25.0 / 30, 1.5 + EmulatedCameraDropped());
      std::printf("[camera] %s: camera size %s, at 40000 us %.1f frames a second of the camera's time, %.1f of "
                  "the clock's\n", c.Kind, TEmulatedCamera::Size().Text().c_str(),
                  (run.Numbers.size() - 1) * 30.0 / span, run.Numbers.size() / run.Seconds);
    }
  }
}

// A camera at exactly the requested rate: none of its frames is dropped, also when the reader falls behind for
// a moment and then finds several waiting (their slots passed, but they were taken in time).
TEST(V4l2Cameras, FramesAtTheCamerasRateAreAllDelivered) {
  TEmulatedCamera camera("yuyv", "none", "10", "30");
  std::string why;
  std::unique_ptr<TCaptureDriver> driver = OpenV4l2Driver(kCameraPath, TVideoFormat{}, why);
  ASSERT_NE(driver, nullptr) << why;
  TRun run = TakeFrames(*driver, 40, 33333, 60000, 10, 90);
  ASSERT_EQ(run.Numbers.size(), 40u) << run.Why;
  int missing = 0;
  for (size_t i = 1; i < run.Numbers.size(); ++i) missing += run.Numbers[i] - run.Numbers[i - 1] - 1;
  EXPECT_LE(missing, static_cast<int>(EmulatedCameraDropped())) << "frames dropped by the driver";
}

// A camera that stops without an error, or goes: the wait ends with the reason, within seconds.
TEST(V4l2Faults, AStalledOrUnpluggedCameraFailsWithTheReason) {
  for (const char* fault : {"stall", "unplug"}) {
    SCOPED_TRACE(fault);
    TEmulatedCamera camera("yuyv", fault, "5");
    std::string why;
    std::unique_ptr<TCaptureDriver> driver = OpenV4l2Driver(kCameraPath, TVideoFormat{}, why);
    ASSERT_NE(driver, nullptr) << why;
    TRun run = TakeFrames(*driver, 100, 40000, 30000);
    EXPECT_EQ(run.End, TWaitResult::Failed) << "the wait did not end";
    EXPECT_LE(run.Numbers.size(), 5u);
    // A camera that goes is seen by poll or by the dequeue, whichever comes first: either says so.
    const std::string expected = std::string(fault) == "stall"
                                     ? std::string(kCameraPath) + ": no picture from the camera for 5 seconds"
                                     : std::string(kCameraPath) + ": the device ";
    EXPECT_EQ(run.Why.substr(0, expected.size()), expected) << run.Why;
    if (std::string(fault) == "unplug") {
      EXPECT_TRUE(run.Why.ends_with("is gone") || run.Why.ends_with("stopped delivering pictures")) << run.Why;
    }
  }
}

// EIO from DQBUF, with the buffer kept queued or taken along with the error, and buffers marked damaged or
// short: each such picture is lost, never shown, and the capture goes on with all its buffers. (A short frame
// of a format that libv4l2 converts is libv4l2's to judge: it may pass one on when no other frame is ready.)
TEST(V4l2Faults, DamagedPicturesAreLostWithoutLosingTheCapture) {
  const std::pair<const char*, const char*> cases[] = {{"eio", "yuyv"},     {"eio", "bgr"},     {"eio-lost", "yuyv"},
                                                       {"eio-lost", "bgr"}, {"flagged", "yuyv"}, {"flagged", "bgr"},
                                                       {"short", "bgr"}};
  for (auto [fault, kind] : cases) {
    SCOPED_TRACE(std::string(fault) + " " + kind);
    TEmulatedCamera camera(kind, fault, "3");
    std::string why;
    std::unique_ptr<TCaptureDriver> driver = OpenV4l2Driver(kCameraPath, TVideoFormat{}, why);
    ASSERT_NE(driver, nullptr) << why;
    TRun run = TakeFrames(*driver, 30, 40000, 30000);
    EXPECT_EQ(run.Numbers.size(), 30u) << run.Why;
    EXPECT_EQ(run.Damaged, 0);
    for (int n : run.Numbers) EXPECT_TRUE(n < 3 || (n - 3) % 2 == 1) << "frame " << n << " was damaged";
  }
}

// A native BGR24 camera needs no conversion, and libv4l2 then reports every DQBUF that finds nothing: starting
// again after a pause in reading must not ask for one.
TEST(V4l2Faults, StartingAgainSaysNothing) {
  TEmulatedCamera camera("bgr");
  std::string why;
  std::unique_ptr<TCaptureDriver> driver = OpenV4l2Driver(kCameraPath, TVideoFormat{}, why);
  ASSERT_NE(driver, nullptr) << why;
  TStderr errors;
  for (int i = 0; i < 3; ++i) {
    SleepMs(100);  // a picture or two wait
    driver->Restart();
    driver->Restart();  // and now none
    ASSERT_EQ(TakeFrames(*driver, 3).Numbers.size(), 3u);
  }
  errors.Restore();
  EXPECT_EQ(errors.Text(), "");
}

// After its driver failed, the capture window opens the device again when connected again, and the callback
// gets frames again.
TEST(V4l2Faults, ConnectingAgainAfterAFailureOpensTheDeviceAgain) {
  TEmulatedCamera camera("webcam", "unplug", "8");
  TRecording rec;
  TStderr errors;
  TPatternCapture capture(kCameraPath);
  ASSERT_TRUE(capture.SetUp());
  ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
  ASSERT_TRUE(WaitUntil([&] { return errors.Text().find("capture driver 0: ") != std::string::npos; }));
  EXPECT_NE(errors.Text().find(std::string("capture driver 0: ") + kCameraPath + ": the device "), std::string::npos)
      << errors.Text();
  // Plugged in again, for good: the device opened anew has no fault, however many of its first frames the
  // preview takes before streaming starts.
  ::setenv("TARVO_EMULATED_CAMERA_FAULT", "none", 1);
  EmulatedCameraReset();
  ASSERT_TRUE(capDriverConnect(capture.Window, 0));
  ASSERT_TRUE(capCaptureSequenceNoFile(capture.Window));
  const int before = rec->Calls;
  EXPECT_TRUE(WaitUntil([&] { return rec->Calls >= before + 3; })) << errors.Text();
}
