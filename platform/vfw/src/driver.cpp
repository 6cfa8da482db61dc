// The driver table, frame formats, and the deadline keeping shared by the capture drivers (driver.h).
#include "driver.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// True unless the node is known not to capture video (metadata nodes of the same camera, output devices).
// A node that cannot be opened stays in the list, so that connecting to it says why.
bool MayCapture(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  v4l2_capability cap{};
  bool result = true;
  if (::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
    uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    result = (caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) != 0;
  }
  ::close(fd);
  return result;
}

}  // namespace

BITMAPINFOHEADER TVideoFormat::Header() const {
  BITMAPINFOHEADER bi{};
  bi.biSize = sizeof(BITMAPINFOHEADER);
  bi.biWidth = Width;
  bi.biHeight = TopDown ? -Height : Height;
  bi.biPlanes = 1;
  bi.biBitCount = static_cast<WORD>(BitCount);
  bi.biCompression = BI_RGB;
  bi.biSizeImage = static_cast<DWORD>(ImageSize());
  return bi;
}

bool TVideoFormat::FromHeader(const BITMAPINFOHEADER& bi, TVideoFormat& format) {
  if (bi.biSize < sizeof(BITMAPINFOHEADER) || bi.biPlanes != 1 || bi.biCompression != BI_RGB) return false;
  if (bi.biBitCount != 24 && bi.biBitCount != 32) return false;
  if (bi.biWidth < kMinFrameSide || bi.biWidth > kMaxFrameSide) return false;
  if (bi.biHeight == 0 || bi.biHeight < -kMaxFrameSide || bi.biHeight > kMaxFrameSide) return false;
  int h = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
  if (h < kMinFrameSide) return false;
  format.Width = bi.biWidth;
  format.Height = h;
  format.BitCount = bi.biBitCount;
  format.TopDown = bi.biHeight < 0;
  return true;
}

std::vector<std::string> V4l2CaptureDevices() {
  std::vector<std::pair<long, std::string>> found;
  if (DIR* dir = ::opendir("/dev")) {
    while (dirent* e = ::readdir(dir)) {
      if (std::strncmp(e->d_name, "video", 5) != 0) continue;
      const char* digits = e->d_name + 5;
      if (!*digits || std::strspn(digits, "0123456789") != std::strlen(digits)) continue;
      found.emplace_back(std::strtol(digits, nullptr, 10), std::string("/dev/") + e->d_name);
    }
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> result;
  for (auto& [n, path] : found)
    if (MayCapture(path)) result.push_back(path);
  return result;
}

std::vector<TDriverEntry> DriverTable() {
  std::vector<TDriverEntry> table;
  if (const char* list = std::getenv("TARVO_CAPTURE_DRIVERS")) {
    std::string s = list;
    size_t start = 0;
    while (start <= s.size()) {
      size_t comma = s.find(',', start);
      if (comma == std::string::npos) comma = s.size();
      std::string entry = Trim(s.substr(start, comma - start));
      if (!entry.empty()) table.push_back({entry});
      start = comma + 1;
    }
  } else {
    for (auto& path : V4l2CaptureDevices()) table.push_back({path});
  }
  if (table.size() > 10) table.resize(10);
  return table;
}

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::unique_ptr<TCaptureDriver> OpenCaptureDriver(int index, const TVideoFormat& format, std::string& why) {
  std::vector<TDriverEntry> table = DriverTable();
  if (index < 0 || index >= static_cast<int>(table.size())) {
    why = table.empty() ? "no capture driver: no video capture device found and TARVO_CAPTURE_DRIVERS is not set"
                        : "no capture driver " + std::to_string(index) + " (the table has " +
                              std::to_string(table.size()) + ")";
    return nullptr;
  }
  if (table[index].IsPattern()) return OpenPatternDriver(format);
  return OpenV4l2Driver(table[index].Location, format, why);
}

int64_t TFrameClock::NextDue(uint32_t intervalUs) {
  (void)intervalUs;
  if (!FStarted) {
    FStarted = true;
    FDue = MonotonicNs();
  }
  return FDue;
}

void TFrameClock::Taken(int64_t now, uint32_t intervalUs) {
  const int64_t interval = static_cast<int64_t>(intervalUs) * 1000;
  if (!FStarted) {
    FStarted = true;
    FDue = now;
  }
  FDue += interval;
  if (FDue <= now) FDue += ((now - FDue) / interval + 1) * interval;
}

bool TFrameClock::Offer(int64_t now, uint32_t intervalUs, int64_t jitterNs) {
  // The rhythm starts with the first frame offered: a camera's frame carries the time it was taken, which may
  // lie before the moment it is read.
  if (!FStarted) {
    FStarted = true;
    FDue = now;
  }
  if (now + jitterNs < FDue) return false;
  Taken(now, intervalUs);
  return true;
}

bool SleepUntil(int64_t deadline, int fd) {
  for (;;) {
    int64_t left = deadline - MonotonicNs();
    if (left <= 0) return true;
    timespec ts{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    pollfd p{fd, POLLIN, 0};
    int n = ::ppoll(&p, fd >= 0 ? 1 : 0, &ts, nullptr);
    if (n > 0) return false;
    if (n < 0 && errno != EINTR) return MonotonicNs() >= deadline;
  }
}
