// The V4L2 capture driver through libv4l2: libv4l2 turns whatever the camera gives (MJPEG, YUYV and the other
// YUV layouts) into BGR24; TFrameConverter then crops and scales that to the format, with its depth and row
// order. The camera size is chosen here from the sizes the camera lists (ChooseCameraSize), so that pictures
// are scaled down, not up. Memory-mapped streaming with a few buffers; the camera runs at its own rate, and
// the requested interval, measured on the buffers' own timestamps, caps what is delivered. A camera that
// stops delivering without an error counts as failed after kStallNs.
#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "driver.h"
#include "frame_convert.h"

namespace {

constexpr unsigned kBufferCount = 4;
// So long without a usable picture while streaming, and the camera has stopped. Webcams may take a second or
// two to deliver the first picture, and slow down to a few a second in the dark.
constexpr int64_t kStallNs = 5'000'000'000;

std::string ErrorText(int error) {
  switch (error) {
    case EBUSY: return "the device is busy (another program is using it)";
    case EACCES:
    case EPERM: return "permission denied (the user needs access to the device, usually the group video)";
    case ENOENT: return "no such device";
    case ENODEV:
    case ENXIO: return "the device is gone";
    default: return std::strerror(error);
  }
}

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do r = v4l2_ioctl(fd, request, arg);
  while (r < 0 && errno == EINTR);
  return r;
}

// The same straight to the device, for what libv4l2 would answer with its converted formats.
int RawIoctl(int fd, unsigned long request, void* arg) {
  int r;
  do r = ::ioctl(fd, request, arg);
  while (r < 0 && errno == EINTR);
  return r;
}

struct TCameraSize {
  uint32_t Width, Height;
};

// Every size the camera lists, in any of its pixel formats (libv4l2 converts from whichever has the size).
std::vector<TCameraSize> CameraSizes(int fd) {
  std::vector<TCameraSize> sizes;
  for (uint32_t i = 0; i < 64; ++i) {
    v4l2_fmtdesc d{};
    d.index = i;
    d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (RawIoctl(fd, VIDIOC_ENUM_FMT, &d) < 0) break;
    for (uint32_t j = 0; j < 256; ++j) {
      v4l2_frmsizeenum s{};
      s.index = j;
      s.pixel_format = d.pixelformat;
      if (RawIoctl(fd, VIDIOC_ENUM_FRAMESIZES, &s) < 0) break;
      if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        sizes.push_back({s.discrete.width, s.discrete.height});
        continue;
      }
      // A range (rare in webcams): its two ends.
      sizes.push_back({s.stepwise.min_width, s.stepwise.min_height});
      sizes.push_back({s.stepwise.max_width, s.stepwise.max_height});
      break;
    }
  }
  return sizes;
}

// The smallest camera size whose middle part at the format's aspect ratio still covers the format, so that
// the picture is scaled down, never up; else the largest. {0, 0} when the camera lists none.
TCameraSize ChooseCameraSize(const std::vector<TCameraSize>& sizes, const TVideoFormat& format) {
  TCameraSize best{0, 0}, largest{0, 0};
  auto area = [](TCameraSize s) { return static_cast<uint64_t>(s.Width) * s.Height; };
  for (const TCameraSize& s : sizes) {
    if (s.Width == 0 || s.Height == 0 || s.Width > kMaxFrameSide * 4u || s.Height > kMaxFrameSide * 4u) continue;
    if (area(s) > area(largest)) largest = s;
    int x, y, cw, ch;
    CropToAspect(static_cast<int>(s.Width), static_cast<int>(s.Height), format.Width, format.Height, x, y, cw, ch);
    if (cw >= format.Width && ch >= format.Height && (best.Width == 0 || area(s) < area(best))) best = s;
  }
  return best.Width ? best : largest;
}

int64_t TimevalNs(const timeval& tv) {
  return static_cast<int64_t>(tv.tv_sec) * 1000000000 + static_cast<int64_t>(tv.tv_usec) * 1000;
}

class TV4l2Driver final : public TCaptureDriver {
 public:
  explicit TV4l2Driver(std::string path) : FPath(std::move(path)) {}
  ~TV4l2Driver() override {
    StopStreaming();
    if (FFd >= 0) v4l2_close(FFd);
  }

  bool Open(const TVideoFormat& format, std::string& why) {
    // The device is opened and asked first without libv4l2, which would report a failure in its own words.
    int fd = ::open(FPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      why = FPath + ": cannot open: " + ErrorText(errno);
      return false;
    }
    v4l2_capability cap{};
    if (::ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) {
      why = FPath + ": not a V4L2 device (" + ErrorText(errno) + ")";
      ::close(fd);
      return false;
    }
    FFd = v4l2_fd_open(fd, 0);
    if (FFd < 0) {
      why = FPath + ": cannot open: " + ErrorText(errno);
      ::close(fd);
      return false;
    }
    uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
      why = FPath + ": not a video capture device with streaming";
      return false;
    }
    FCard = reinterpret_cast<const char*>(cap.card);
    FCameraSizes = CameraSizes(FFd);
    return SetFormat(format, why);
  }

  std::string Location() const override { return FPath; }
  std::string Description() const override { return FCard + " (" + FPath + ")"; }

  std::vector<std::string> Inputs() const override {
    std::vector<std::string> inputs;
    for (uint32_t i = 0;; ++i) {
      v4l2_input in{};
      in.index = i;
      if (Ioctl(FFd, VIDIOC_ENUMINPUT, &in) < 0) break;
      inputs.emplace_back(reinterpret_cast<const char*>(in.name));
    }
    if (inputs.empty()) inputs.emplace_back("Camera");
    return inputs;
  }

  int Input() const override {
    int index = 0;
    if (Ioctl(FFd, VIDIOC_G_INPUT, &index) < 0) return 0;
    return index;
  }

  bool SetInput(int index, std::string& why) override {
    if (index == Input()) return true;
    StopStreaming();
    int i = index;
    bool ok = Ioctl(FFd, VIDIOC_S_INPUT, &i) == 0;
    if (!ok) why = FPath + ": cannot select input " + std::to_string(index) + ": " + ErrorText(errno);
    std::string again;
    if (!StartStreaming(again)) {
      why = again;
      return false;
    }
    return ok;
  }

  bool SetFormat(const TVideoFormat& format, std::string& why) override {
    StopStreaming();
    // libv4l2 would take the largest size not above the one asked for, and scale up from it.
    TCameraSize size = ChooseCameraSize(FCameraSizes, format);
    if (size.Width == 0) size = {static_cast<uint32_t>(format.Width), static_cast<uint32_t>(format.Height)};
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = size.Width;
    f.fmt.pix.height = size.Height;
    f.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    f.fmt.pix.field = V4L2_FIELD_ANY;
    if (Ioctl(FFd, VIDIOC_S_FMT, &f) < 0) {
      why = FPath + ": cannot set the picture format: " + ErrorText(errno);
      return false;
    }
    if (f.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24 || f.fmt.pix.width == 0 || f.fmt.pix.height == 0) {
      why = FPath + ": the camera offers no picture format that can be converted";
      return false;
    }
    FCameraWidth = static_cast<int>(f.fmt.pix.width);
    FCameraHeight = static_cast<int>(f.fmt.pix.height);
    FCameraStride = f.fmt.pix.bytesperline ? f.fmt.pix.bytesperline : f.fmt.pix.width * 3;
    FFormat = format;
    return StartStreaming(why);
  }

  TVideoFormat Format() const override { return FFormat; }

  TWaitResult WaitFrame(uint8_t* frame, uint32_t intervalUs, int wakeFd, std::string& why) override {
    if (!FStreaming) {
      why = FPath + ": not streaming";
      return TWaitResult::Failed;
    }
    // Judged only when nothing usable is waiting: a reader that paused finds its pictures still there.
    auto stalled = [&] {
      if (MonotonicNs() - FLastPicture < kStallNs) return false;
      why = FPath + ": no picture from the camera for " + std::to_string(kStallNs / 1000000000) +
            " seconds (it stopped delivering)";
      return true;
    };
    for (;;) {
      const int64_t left = std::max<int64_t>(0, FLastPicture + kStallNs - MonotonicNs());
      pollfd p[2] = {{FFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
      int n = ::poll(p, wakeFd >= 0 ? 2 : 1, static_cast<int>((left + 999999) / 1000000));
      if (n < 0) {
        if (errno == EINTR) continue;
        why = FPath + ": " + ErrorText(errno);
        return TWaitResult::Failed;
      }
      if (wakeFd >= 0 && (p[1].revents & POLLIN)) return TWaitResult::Woken;
      if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
        why = FPath + ": the device stopped delivering pictures";
        return TWaitResult::Failed;
      }
      if (!(p[0].revents & POLLIN)) {
        if (stalled()) return TWaitResult::Failed;
        continue;
      }
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      if (Ioctl(FFd, VIDIOC_DQBUF, &b) < 0) {
        if (errno == EAGAIN) {  // nothing yet, or a picture libv4l2 could not convert
          if (stalled()) return TWaitResult::Failed;
          continue;
        }
        if (errno == EIO) {  // one damaged picture; the device may have dequeued its buffer all the same
          if (!RequeueLostBuffers(why) || stalled()) return TWaitResult::Failed;
          continue;
        }
        why = FPath + ": " + ErrorText(errno);
        return TWaitResult::Failed;
      }
      const int64_t now = MonotonicNs();
      const bool whole = b.index < FBuffers.size() && !(b.flags & V4L2_BUF_FLAG_ERROR) &&
                         b.bytesused >= FCameraStride * static_cast<uint32_t>(FCameraHeight);
      if (whole) FLastPicture = now;
      // The time the camera took the picture, where it says so on the clock of MonotonicNs: the time of
      // reading would add the wait and the conversion, and push frames at the camera's rate out of their slot.
      int64_t taken = now;
      if ((b.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC) {
        const int64_t stamp = TimevalNs(b.timestamp);
        if (stamp > 0 && stamp <= now) taken = stamp;
      }
      const bool take = whole && FClock.Offer(taken, intervalUs, kCameraJitterNs);
      if (take)
        FConverter.Convert(static_cast<const uint8_t*>(FBuffers[b.index].Start), FCameraWidth, FCameraHeight,
                           static_cast<ptrdiff_t>(FCameraStride), frame, FFormat);
      if (Ioctl(FFd, VIDIOC_QBUF, &b) < 0) {
        why = FPath + ": " + ErrorText(errno);
        return TWaitResult::Failed;
      }
      if (take) return TWaitResult::Frame;
      if (!whole && stalled()) return TWaitResult::Failed;
    }
  }

  void Restart() override {
    FClock.Restart();
    FLastPicture = MonotonicNs();
    // Pictures queued while nobody read are old: hand their buffers back. Only those ready: a DQBUF that
    // finds none makes libv4l2 print an error for some cameras.
    for (;;) {
      pollfd p{FFd, POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      if (Ioctl(FFd, VIDIOC_DQBUF, &b) < 0) {
        std::string ignored;  // a device that stays broken is reported by the next wait
        if (errno == EIO) RequeueLostBuffers(ignored);
        break;
      }
      Ioctl(FFd, VIDIOC_QBUF, &b);
    }
  }

 private:
  // After an EIO from DQBUF: a buffer that the device holds neither queued nor done was dequeued with the
  // error and would be lost to the capture for good; it goes back.
  bool RequeueLostBuffers(std::string& why) {
    for (uint32_t i = 0; i < FBuffers.size(); ++i) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = i;
      if (Ioctl(FFd, VIDIOC_QUERYBUF, &b) < 0 || (b.flags & (V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_DONE))) continue;
      if (Ioctl(FFd, VIDIOC_QBUF, &b) < 0) {
        why = FPath + ": " + ErrorText(errno);
        return false;
      }
    }
    return true;
  }

  struct TBuffer {
    void* Start = MAP_FAILED;
    size_t Length = 0;
  };

  bool StartStreaming(std::string& why) {
    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (Ioctl(FFd, VIDIOC_REQBUFS, &req) < 0 || req.count == 0) {
      why = FPath + ": cannot get capture buffers: " + ErrorText(req.count == 0 ? ENOMEM : errno);
      return false;
    }
    FBuffers.assign(req.count, TBuffer{});
    for (uint32_t i = 0; i < req.count; ++i) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = i;
      if (Ioctl(FFd, VIDIOC_QUERYBUF, &b) < 0) {
        why = FPath + ": cannot get capture buffers: " + ErrorText(errno);
        StopStreaming();
        return false;
      }
      FBuffers[i].Length = b.length;
      FBuffers[i].Start = v4l2_mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, FFd, b.m.offset);
      if (FBuffers[i].Start == MAP_FAILED || Ioctl(FFd, VIDIOC_QBUF, &b) < 0) {
        why = FPath + ": cannot map capture buffers: " + ErrorText(errno);
        StopStreaming();
        return false;
      }
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(FFd, VIDIOC_STREAMON, &type) < 0) {
      why = FPath + ": cannot start streaming: " + ErrorText(errno);
      StopStreaming();
      return false;
    }
    FStreaming = true;
    FClock.Restart();
    FLastPicture = MonotonicNs();
    return true;
  }

  void StopStreaming() {
    if (FFd < 0) return;
    if (FStreaming) {
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      Ioctl(FFd, VIDIOC_STREAMOFF, &type);
      FStreaming = false;
    }
    for (auto& b : FBuffers)
      if (b.Start != MAP_FAILED) v4l2_munmap(b.Start, b.Length);
    if (!FBuffers.empty()) {
      FBuffers.clear();
      v4l2_requestbuffers req{};
      req.count = 0;
      req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      req.memory = V4L2_MEMORY_MMAP;
      Ioctl(FFd, VIDIOC_REQBUFS, &req);
    }
  }

  std::string FPath;
  std::string FCard;
  int FFd = -1;
  bool FStreaming = false;
  TVideoFormat FFormat;
  int FCameraWidth = 0;
  int FCameraHeight = 0;
  uint32_t FCameraStride = 0;
  std::vector<TCameraSize> FCameraSizes;
  int64_t FLastPicture = 0;  // monotonic ns of the last usable picture, or of the start of streaming
  std::vector<TBuffer> FBuffers;
  TFrameClock FClock;
  TFrameConverter FConverter;
};

}  // namespace

std::unique_ptr<TCaptureDriver> OpenV4l2Driver(const std::string& path, const TVideoFormat& format,
                                               std::string& why) {
  auto driver = std::make_unique<TV4l2Driver>(path);
  if (!driver->Open(format, why)) return nullptr;
  return driver;
}
