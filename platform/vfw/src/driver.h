// Capture drivers behind the capture window: the driver table (TARVO_CAPTURE_DRIVERS), the frame formats a
// driver delivers, and the driver interface that the test pattern and the V4L2 driver implement. Internal to
// platform/vfw; tests reach the drivers through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "win32/bitmap.h"

// An uncompressed DIB format: BGR, 24 or 32 bits, rows padded to 4 bytes, bottom-up unless TopDown.
struct TVideoFormat {
  int Width = 352;
  int Height = 288;
  int BitCount = 24;
  bool TopDown = false;

  size_t Stride() const { return ((static_cast<size_t>(Width) * static_cast<size_t>(BitCount) / 8) + 3) & ~size_t{3}; }
  size_t ImageSize() const { return Stride() * static_cast<size_t>(Height); }
  BITMAPINFOHEADER Header() const;
  // A format that a driver can deliver, from a caller's record; false for anything else.
  static bool FromHeader(const BITMAPINFOHEADER& bi, TVideoFormat& format);
  bool operator==(const TVideoFormat&) const = default;
};

constexpr int kMinFrameSide = 16;
constexpr int kMaxFrameSide = 4096;

// One entry of the driver table: "pattern" or a V4L2 device path.
struct TDriverEntry {
  std::string Location;
  bool IsPattern() const { return Location == "pattern"; }
};

// Drivers 0-9: TARVO_CAPTURE_DRIVERS (comma-separated, blanks around entries ignored, empty entries skipped),
// or else the V4L2 video-capture devices /dev/videoN in numeric order.
std::vector<TDriverEntry> DriverTable();
// The V4L2 devices that capture video, in numeric order (used by the default table and the source dialog).
std::vector<std::string> V4l2CaptureDevices();

// Monotonic clock (CLOCK_MONOTONIC) in nanoseconds; frame deadlines and stamps use it.
int64_t MonotonicNs();

enum class TWaitResult { Frame, Woken, Failed };

class TCaptureDriver {
 public:
  virtual ~TCaptureDriver() = default;

  virtual std::string Location() const = 0;
  virtual std::string Description() const = 0;  // what the source dialog shows
  // The inputs of the device (camera sockets, tuner...); the pattern has one.
  virtual std::vector<std::string> Inputs() const = 0;
  virtual int Input() const = 0;
  virtual bool SetInput(int index, std::string& why) = 0;
  // Only while no frame is being waited for.
  virtual bool SetFormat(const TVideoFormat& format, std::string& why) = 0;
  virtual TVideoFormat Format() const = 0;
  // Frames are due every intervalUs from the first call on; the next one is written into frame (Format's
  // ImageSize bytes) when due. Returns Woken early when wakeFd becomes readable, Failed when the device
  // stops working (why says so). A frame that comes too early is dropped, and a late one does not shift the
  // later deadlines.
  virtual TWaitResult WaitFrame(uint8_t* frame, uint32_t intervalUs, int wakeFd, std::string& why) = 0;
  // Forget the deadlines, so the next WaitFrame starts a new rhythm (after a pause in reading).
  virtual void Restart() = 0;
};

// Opens driver `index` of the table. 0 with why set when there is no such driver or the device cannot be
// used (busy, no permission, not a capture device).
std::unique_ptr<TCaptureDriver> OpenCaptureDriver(int index, const TVideoFormat& format, std::string& why);

std::unique_ptr<TCaptureDriver> OpenPatternDriver(const TVideoFormat& format);
std::unique_ptr<TCaptureDriver> OpenV4l2Driver(const std::string& path, const TVideoFormat& format,
                                               std::string& why);

// The test pattern's picture n (24-bit bottom-up BGR, w x h, rows padded to 4 bytes) with its stamp.
void RenderPattern(uint8_t* bgrBottomUp, int w, int h, uint32_t seq, uint32_t ms);

// A camera's frame this close before its slot counts as on time.
constexpr int64_t kCameraJitterNs = 3000000;

// Deadline keeping shared by the drivers: slots every interval from the first frame on.
class TFrameClock {
 public:
  // The time the next frame is due; starts a rhythm at now when there is none.
  int64_t NextDue(uint32_t intervalUs);
  // A frame was taken at `now`: move to the next slot, skipping the slots already missed.
  void Taken(int64_t now, uint32_t intervalUs);
  // A camera's frame taken at `now` (best its own timestamp): taken (true) when its slot has come, less
  // jitterNs; else dropped. So a camera faster than the interval is capped to one frame a slot, and one at the
  // interval loses none. Without a rhythm, the frame starts one.
  bool Offer(int64_t now, uint32_t intervalUs, int64_t jitterNs);
  void Restart() { FStarted = false; }

 private:
  bool FStarted = false;
  int64_t FDue = 0;
};

// Waits until deadline (monotonic ns) or until fd becomes readable. True when the deadline came.
bool SleepUntil(int64_t deadline, int fd);
