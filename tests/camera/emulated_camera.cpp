// The emulated V4L2 camera (emulated_camera.h): catches open/openat, ioctl, poll/ppoll and close, and the same
// calls made through syscall(), for one device path. An open of that path gives a memfd, so that the buffers
// the application maps with mmap are the memfd's pages and mmap needs no help; every other call on that fd is
// answered here by the V4L2 rules: formats and sizes to enumerate and set, buffers to request, query, queue and
// dequeue, streaming on and off, and poll readiness. Frames fall due at a steady rate from STREAMON on; a due
// frame fills the oldest queued buffer, or is lost when none is queued, and carries its due time as its
// monotonic timestamp. Pictures are drawn when dequeued. Everything else goes to the C library.
#undef _FORTIFY_SOURCE  // this file defines open() itself

#include "emulated_camera.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- The C library's own functions ------------------------------------------------------------------------------

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
using TOpenFn = int (*)(const char*, int, ...);
using TOpenatFn = int (*)(int, const char*, int, ...);
using TIoctlFn = int (*)(int, unsigned long, ...);
using TCloseFn = int (*)(int);
using TPollFn = int (*)(pollfd*, nfds_t, int);
using TPpollFn = int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*);
using TSyscallFn = long (*)(long, ...);

TOpenFn RealOpen() { static TOpenFn f = Next<TOpenFn>("open"); return f; }
TOpenFn RealOpen64() { static TOpenFn f = Next<TOpenFn>("open64"); return f; }
TOpenatFn RealOpenat() { static TOpenatFn f = Next<TOpenatFn>("openat"); return f; }
TOpenatFn RealOpenat64() { static TOpenatFn f = Next<TOpenatFn>("openat64"); return f; }
TIoctlFn RealIoctl() { static TIoctlFn f = Next<TIoctlFn>("ioctl"); return f; }
TCloseFn RealClose() { static TCloseFn f = Next<TCloseFn>("close"); return f; }
TPollFn RealPoll() { static TPollFn f = Next<TPollFn>("poll"); return f; }
TPpollFn RealPpoll() { static TPpollFn f = Next<TPpollFn>("ppoll"); return f; }
TSyscallFn RealSyscall() { static TSyscallFn f = Next<TSyscallFn>("syscall"); return f; }

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

constexpr int64_t kNever = INT64_MAX;

// ---- What the camera is -------------------------------------------------------------------------------------------

struct TSize {
  uint32_t W, H;
};

struct TPixFormat {
  uint32_t FourCC;
  const char* Name;
  std::vector<TSize> Sizes;
};

enum class TFault { None, Stall, Eio, EioLost, Flagged, Short, Unplug };

struct TConfig {
  std::string Path;
  std::string Card;
  std::vector<TPixFormat> Formats;
  bool NoHuffmanTables = false;
  uint32_t Fps = 30;
  TFault Fault = TFault::None;
  uint32_t After = 10;
};

std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

std::string CameraPath() { return Env("TARVO_EMULATED_CAMERA", "/dev/tarvo-emulated-camera"); }

TConfig ReadConfig() {
  TConfig c;
  c.Path = CameraPath();
  const std::string kind = Env("TARVO_EMULATED_CAMERA_KIND", "yuyv");
  // The sizes of a common USB webcam, in the order it lists them.
  const std::vector<TSize> webcam = {{640, 480},   {160, 90},    {160, 120},   {176, 144},   {320, 180},
                                     {320, 240},   {352, 288},   {432, 240},   {640, 360},   {800, 448},
                                     {800, 600},   {864, 480},   {960, 720},   {1024, 576},  {1280, 720},
                                     {1600, 896},  {1920, 1080}, {2304, 1296}, {2304, 1536}};
  if (kind == "mjpeg" || kind == "mjpeg-nodht") {
    c.Card = "Emulated MJPEG camera";
    c.Formats = {{V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{1280, 720}}}};
    c.NoHuffmanTables = kind == "mjpeg-nodht";
  } else if (kind == "webcam") {
    c.Card = "Emulated webcam";
    c.Formats = {{V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", webcam}, {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", webcam}};
  } else if (kind == "bgr") {
    c.Card = "Emulated BGR camera";
    c.Formats = {{V4L2_PIX_FMT_BGR24, "24-bit BGR 8-8-8", {{640, 480}}}};
  } else {
    c.Card = "Emulated YUYV camera";
    c.Formats = {{V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", {{640, 480}, {320, 240}}}};
  }
  const long fps = std::strtol(Env("TARVO_EMULATED_CAMERA_FPS", "30").c_str(), nullptr, 10);
  c.Fps = static_cast<uint32_t>(std::max(1L, fps));
  const std::string fault = Env("TARVO_EMULATED_CAMERA_FAULT", "none");
  c.Fault = fault == "stall"     ? TFault::Stall
            : fault == "eio"      ? TFault::Eio
            : fault == "eio-lost" ? TFault::EioLost
            : fault == "flagged"  ? TFault::Flagged
            : fault == "short"    ? TFault::Short
            : fault == "unplug"   ? TFault::Unplug
                                  : TFault::None;
  c.After = static_cast<uint32_t>(std::strtoul(Env("TARVO_EMULATED_CAMERA_AFTER", "10").c_str(), nullptr, 10));
  return c;
}

// ---- Pictures -------------------------------------------------------------------------------------------------------

// Top-down RGB of frame `seq` (magenta all over for a damaged one).
void DrawRgb(uint32_t w, uint32_t h, uint32_t seq, bool damaged, std::vector<uint8_t>& rgb) {
  rgb.resize(static_cast<size_t>(w) * h * 3);
  const uint32_t top = static_cast<uint32_t>(h * EMULATED_CAMERA_BAND_TOP);
  const uint32_t bottom = static_cast<uint32_t>(h * EMULATED_CAMERA_BAND_BOTTOM);
  const double left = w * EMULATED_CAMERA_BAND_LEFT, bit = w * EMULATED_CAMERA_BIT_WIDTH;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t r, g, b;
      if (damaged) {
        r = 255, g = 0, b = 255;
      } else if (y >= top && y < bottom && x >= left && x < left + bit * EMULATED_CAMERA_BITS) {
        const int i = static_cast<int>((x - left) / bit);
        r = g = b = ((seq >> i) & 1) ? 255 : 0;
      } else if (y < h / 2) {
        if (x < w / 2) r = 255, g = 0, b = 0;
        else r = 0, g = 255, b = 0;
      } else {
        if (x < w / 2) r = 0, g = 0, b = 255;
        else r = g = b = 255;
      }
      uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = r, p[1] = g, p[2] = b;
    }
}

void ToYuyv(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, std::vector<uint8_t>& out) {
  out.resize(static_cast<size_t>(w) * h * 2);
  auto y = [](const uint8_t* p) {
    return static_cast<uint8_t>(16 + ((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8));
  };
  for (size_t i = 0; i < static_cast<size_t>(w) * h; i += 2) {
    const uint8_t* a = &rgb[i * 3];
    const uint8_t* b = a + 3;
    const int r = (a[0] + b[0]) / 2, g = (a[1] + b[1]) / 2, bl = (a[2] + b[2]) / 2;
    out[i * 2] = y(a);
    out[i * 2 + 1] = static_cast<uint8_t>(128 + ((-38 * r - 74 * g + 112 * bl + 128) >> 8));
    out[i * 2 + 2] = y(b);
    out[i * 2 + 3] = static_cast<uint8_t>(128 + ((112 * r - 94 * g - 18 * bl + 128) >> 8));
  }
}

void ToBgr(const std::vector<uint8_t>& rgb, std::vector<uint8_t>& out) {
  out.resize(rgb.size());
  for (size_t i = 0; i < rgb.size(); i += 3) out[i] = rgb[i + 2], out[i + 1] = rgb[i + 1], out[i + 2] = rgb[i];
}

// Many cameras send MJPEG frames without their Huffman tables, leaving the standard ones implied.
std::vector<uint8_t> WithoutHuffmanTables(const uint8_t* jpeg, size_t size) {
  std::vector<uint8_t> out(jpeg, jpeg + 2);  // SOI
  size_t i = 2;
  while (i + 4 <= size && jpeg[i] == 0xFF) {
    const uint8_t marker = jpeg[i + 1];
    const size_t length = (static_cast<size_t>(jpeg[i + 2]) << 8) | jpeg[i + 3];
    if (marker == 0xDA) break;  // start of scan: the rest is data
    if (marker != 0xC4) out.insert(out.end(), jpeg + i, jpeg + std::min(size, i + 2 + length));
    i += 2 + length;
  }
  if (i < size) out.insert(out.end(), jpeg + i, jpeg + size);
  return out;
}

void ToJpeg(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, bool noTables, std::vector<uint8_t>& out) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < h) {
    JSAMPROW row = const_cast<uint8_t*>(&rgb[static_cast<size_t>(c.next_scanline) * w * 3]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  if (noTables) out = WithoutHuffmanTables(mem, size);
  else out.assign(mem, mem + size);
  std::free(mem);
}

// ---- One open of the device -------------------------------------------------------------------------------------

struct TBuffer {
  bool Queued = false;  // with the driver: queued or done
  uint32_t Sequence = 0;
  int64_t Timestamp = 0;
  TFault Fault = TFault::None;
};

struct TOpenFile {
  int Fd = -1;
  TConfig Config;
  bool NonBlocking = false;
  bool Gone = false;
  uint32_t FourCC = 0, Width = 0, Height = 0;
  std::vector<TBuffer> Buffers;
  size_t BufferStride = 0;
  std::deque<uint32_t> Queued, Done;
  bool Streaming = false;
  int64_t Start = 0;
  uint32_t Next = 0;  // the next frame of this streaming run to fall due

  uint32_t BytesPerLine() const {
    return FourCC == V4L2_PIX_FMT_YUYV ? Width * 2 : FourCC == V4L2_PIX_FMT_BGR24 ? Width * 3 : 0;
  }
  uint32_t SizeImage() const {
    return FourCC == V4L2_PIX_FMT_BGR24 ? Width * Height * 3 : Width * Height * 2;
  }
  int64_t Due(uint32_t n) const {
    return Start + static_cast<int64_t>((static_cast<uint64_t>(n) + 1) * 1000000000ULL / Config.Fps);
  }
  bool Stalled() const { return Config.Fault == TFault::Stall && Next >= Config.After; }
  int64_t NextDue() const { return !Streaming || Gone || Stalled() ? kNever : Due(Next); }
};

std::mutex gLock;
std::map<int, TOpenFile> gFiles;
std::map<std::string, int> gOwners;  // device path: the open file that holds its buffers
std::set<std::string> gUnplugged;
std::atomic<uint32_t> gDropped{0};
uint32_t gLastWidth = 0, gLastHeight = 0, gLastFourCC = 0;

TOpenFile* Find(int fd) {
  auto it = gFiles.find(fd);
  return it == gFiles.end() ? nullptr : &it->second;
}

// Frames that fell due until now go into queued buffers, in order.
void Advance(TOpenFile& f, int64_t now) {
  while (f.Streaming && !f.Gone && !f.Stalled() && f.Due(f.Next) <= now) {
    const uint32_t n = f.Next++;
    if (f.Config.Fault == TFault::Unplug && n >= f.Config.After) {
      f.Gone = true;
      gUnplugged.insert(f.Config.Path);
      return;
    }
    if (f.Queued.empty()) {
      ++gDropped;
      continue;
    }
    const uint32_t index = f.Queued.front();
    f.Queued.pop_front();
    TBuffer& b = f.Buffers[index];
    b.Sequence = n;
    b.Timestamp = f.Due(n);
    const bool hit = n >= f.Config.After && (n - f.Config.After) % 2 == 0;
    b.Fault = hit ? f.Config.Fault : TFault::None;
    f.Done.push_back(index);
  }
}

short Readiness(TOpenFile& f, short events) {
  if (f.Gone || !f.Streaming) return POLLERR;
  if (!f.Done.empty()) return static_cast<short>(events & (POLLIN | POLLRDNORM));
  return 0;
}

const TPixFormat* FindFormat(const TConfig& c, uint32_t fourcc) {
  for (auto& pf : c.Formats)
    if (pf.FourCC == fourcc) return &pf;
  return nullptr;
}

// The format the camera would take for a request: its own pixel format nearest to it, and of that the size
// nearest in area.
void Fit(const TOpenFile& f, v4l2_pix_format& pix, TOpenFile& result) {
  const TPixFormat* pf = FindFormat(f.Config, pix.pixelformat);
  if (!pf) pf = &f.Config.Formats.front();
  const TSize* best = nullptr;
  uint64_t bestD = UINT64_MAX;
  for (auto& s : pf->Sizes) {
    const uint64_t common = static_cast<uint64_t>(std::min(s.W, pix.width)) * std::min(s.H, pix.height);
    const uint64_t d = static_cast<uint64_t>(s.W) * s.H + static_cast<uint64_t>(pix.width) * pix.height - 2 * common;
    if (d < bestD) bestD = d, best = &s;
  }
  result.FourCC = pf->FourCC;
  result.Width = best->W;
  result.Height = best->H;
  pix = {};
  pix.width = result.Width;
  pix.height = result.Height;
  pix.pixelformat = result.FourCC;
  pix.field = V4L2_FIELD_NONE;
  pix.bytesperline = result.BytesPerLine();
  pix.sizeimage = result.SizeImage();
  pix.colorspace = V4L2_COLORSPACE_SRGB;
}

void FillBuffer(const TOpenFile& f, uint32_t index, v4l2_buffer& b) {
  const TBuffer& buf = f.Buffers[index];
  b = {};
  b.index = index;
  b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  b.memory = V4L2_MEMORY_MMAP;
  b.length = f.SizeImage();
  b.m.offset = static_cast<uint32_t>(index * f.BufferStride);
  b.field = V4L2_FIELD_NONE;
  b.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_EOF;
  if (buf.Queued) {
    const bool done = std::find(f.Done.begin(), f.Done.end(), index) != f.Done.end();
    b.flags |= done ? V4L2_BUF_FLAG_DONE : V4L2_BUF_FLAG_QUEUED;
  }
  b.sequence = buf.Sequence;
  b.timestamp.tv_sec = buf.Timestamp / 1000000000;
  b.timestamp.tv_usec = (buf.Timestamp % 1000000000) / 1000;
}

// Draws the dequeued frame into its buffer; returns the bytes used.
uint32_t Draw(const TOpenFile& f, uint32_t index) {
  const TBuffer& buf = f.Buffers[index];
  std::vector<uint8_t> rgb, out;
  DrawRgb(f.Width, f.Height, buf.Sequence, buf.Fault == TFault::Flagged, rgb);
  if (f.FourCC == V4L2_PIX_FMT_YUYV) ToYuyv(rgb, f.Width, f.Height, out);
  else if (f.FourCC == V4L2_PIX_FMT_BGR24) ToBgr(rgb, out);
  else ToJpeg(rgb, f.Width, f.Height, f.Config.NoHuffmanTables, out);
  if (out.size() > f.SizeImage()) out.resize(f.SizeImage());
  // A short frame leaves the rest of its buffer as the last frame there left it, as a camera's does.
  uint32_t used = static_cast<uint32_t>(out.size());
  if (buf.Fault == TFault::Short) used /= 2;
  (void)!::pwrite(f.Fd, out.data(), used, static_cast<off_t>(index * f.BufferStride));
  return used;
}

bool IsOwner(const TOpenFile& f) {
  auto it = gOwners.find(f.Config.Path);
  return it != gOwners.end() && it->second == f.Fd;
}

bool OwnedByAnother(const TOpenFile& f) {
  auto it = gOwners.find(f.Config.Path);
  return it != gOwners.end() && it->second != f.Fd;
}

void ReleaseBuffers(TOpenFile& f) {
  f.Streaming = false;
  f.Buffers.clear();
  f.Queued.clear();
  f.Done.clear();
  if (IsOwner(f)) gOwners.erase(f.Config.Path);
}

template <class T>
void CopyName(T& field, const char* text) {
  ::strncpy(reinterpret_cast<char*>(field), text, sizeof field - 1);
}

constexpr int kWaitForFrame = -1;

// One ioctl on an open file of the camera, under gLock: 0 or an errno, or kWaitForFrame from a DQBUF on a
// blocking file that finds no frame.
int Answer(TOpenFile& f, unsigned long request, void* arg) {
  if (f.Gone) return ENODEV;
  Advance(f, NowNs());
  if (f.Gone) return ENODEV;
  switch (request) {
    case VIDIOC_QUERYCAP: {
      auto* cap = static_cast<v4l2_capability*>(arg);
      *cap = {};
      CopyName(cap->driver, "tarvo-emulated");
      CopyName(cap->card, f.Config.Card.c_str());
      CopyName(cap->bus_info, "emulated:0");
      cap->version = 0x060100;
      cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
      cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto* d = static_cast<v4l2_fmtdesc*>(arg);
      if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= f.Config.Formats.size()) return EINVAL;
      const TPixFormat& pf = f.Config.Formats[d->index];
      const uint32_t index = d->index;
      *d = {};
      d->index = index;
      d->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      d->pixelformat = pf.FourCC;
      d->flags = pf.FourCC == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
      CopyName(d->description, pf.Name);
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto* s = static_cast<v4l2_frmsizeenum*>(arg);
      const TPixFormat* pf = FindFormat(f.Config, s->pixel_format);
      if (!pf || s->index >= pf->Sizes.size()) return EINVAL;
      s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
      s->discrete.width = pf->Sizes[s->index].W;
      s->discrete.height = pf->Sizes[s->index].H;
      return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
      auto* i = static_cast<v4l2_frmivalenum*>(arg);
      const TPixFormat* pf = FindFormat(f.Config, i->pixel_format);
      if (!pf || i->index != 0) return EINVAL;
      bool listed = false;
      for (auto& s : pf->Sizes) listed |= s.W == i->width && s.H == i->height;
      if (!listed) return EINVAL;
      i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
      i->discrete = {1, f.Config.Fps};
      return 0;
    }
    case VIDIOC_G_FMT: {
      auto* fmt = static_cast<v4l2_format*>(arg);
      if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      fmt->fmt.pix.pixelformat = f.FourCC;
      fmt->fmt.pix.width = f.Width;
      fmt->fmt.pix.height = f.Height;
      TOpenFile same = f;
      Fit(f, fmt->fmt.pix, same);
      return 0;
    }
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
      auto* fmt = static_cast<v4l2_format*>(arg);
      if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      if (request == VIDIOC_TRY_FMT) {
        TOpenFile scratch;
        Fit(f, fmt->fmt.pix, scratch);
        return 0;
      }
      if (!f.Buffers.empty() || OwnedByAnother(f)) return EBUSY;
      TOpenFile chosen;
      Fit(f, fmt->fmt.pix, chosen);
      f.FourCC = chosen.FourCC, f.Width = chosen.Width, f.Height = chosen.Height;
      return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
      auto* p = static_cast<v4l2_streamparm*>(arg);
      if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      p->parm.capture = {};
      p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
      p->parm.capture.timeperframe = {1, f.Config.Fps};
      p->parm.capture.readbuffers = 0;
      return 0;
    }
    case VIDIOC_ENUMINPUT: {
      auto* in = static_cast<v4l2_input*>(arg);
      if (in->index != 0) return EINVAL;
      *in = {};
      CopyName(in->name, "Camera 1");
      in->type = V4L2_INPUT_TYPE_CAMERA;
      return 0;
    }
    case VIDIOC_G_INPUT:
      *static_cast<int*>(arg) = 0;
      return 0;
    case VIDIOC_S_INPUT:
      return *static_cast<int*>(arg) == 0 ? 0 : EINVAL;
    case VIDIOC_REQBUFS: {
      auto* r = static_cast<v4l2_requestbuffers*>(arg);
      if (r->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r->memory != V4L2_MEMORY_MMAP) return EINVAL;
      if (f.Streaming) return EBUSY;
      if (OwnedByAnother(f)) return EBUSY;
      ReleaseBuffers(f);
      if (r->count == 0) return 0;
      r->count = std::clamp<uint32_t>(r->count, 2, 8);
      const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
      f.BufferStride = (f.SizeImage() + page - 1) / page * page;
      if (::ftruncate(f.Fd, static_cast<off_t>(f.BufferStride * r->count)) != 0) return ENOMEM;
      f.Buffers.assign(r->count, TBuffer{});
      gOwners[f.Config.Path] = f.Fd;
      r->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
      return 0;
    }
    case VIDIOC_QUERYBUF: {
      auto* b = static_cast<v4l2_buffer*>(arg);
      if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->index >= f.Buffers.size()) return EINVAL;
      FillBuffer(f, b->index, *b);
      return 0;
    }
    case VIDIOC_QBUF: {
      auto* b = static_cast<v4l2_buffer*>(arg);
      if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP || b->index >= f.Buffers.size())
        return EINVAL;
      TBuffer& buf = f.Buffers[b->index];
      if (buf.Queued) return EINVAL;
      buf.Queued = true;
      f.Queued.push_back(b->index);
      FillBuffer(f, b->index, *b);
      return 0;
    }
    case VIDIOC_DQBUF: {
      auto* b = static_cast<v4l2_buffer*>(arg);
      if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP) return EINVAL;
      if (!f.Streaming) return EINVAL;
      if (f.Done.empty()) return f.NonBlocking ? EAGAIN : kWaitForFrame;
      const uint32_t index = f.Done.front();
      f.Done.pop_front();
      TBuffer& buf = f.Buffers[index];
      if (buf.Fault == TFault::Eio) {  // the frame is lost, the buffer goes back to the queue
        f.Queued.push_back(index);
        return EIO;
      }
      buf.Queued = false;
      const uint32_t used = Draw(f, index);
      FillBuffer(f, index, *b);
      b->bytesused = used;
      if (buf.Fault == TFault::Flagged) b->flags |= V4L2_BUF_FLAG_ERROR;
      return buf.Fault == TFault::EioLost ? EIO : 0;
    }
    case VIDIOC_STREAMON: {
      if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE || f.Buffers.empty()) return EINVAL;
      if (f.Streaming) return 0;
      f.Streaming = true;
      f.Start = NowNs();
      f.Next = 0;
      gLastWidth = f.Width, gLastHeight = f.Height, gLastFourCC = f.FourCC;
      return 0;
    }
    case VIDIOC_STREAMOFF: {
      if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      f.Streaming = false;
      f.Queued.clear();
      f.Done.clear();
      for (auto& b : f.Buffers) b.Queued = false;
      return 0;
    }
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERY_EXT_CTRL:
    case VIDIOC_QUERYMENU:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
    case VIDIOC_TRY_EXT_CTRLS:
      return EINVAL;
    default:
      return ENOTTY;
  }
}

// The ioctl on the camera's fd: true when fd is one, with result set as ioctl() returns it.
bool CameraIoctl(int fd, unsigned long request, void* arg, int& result) {
  for (;;) {
    int64_t wakeAt;
    {
      std::lock_guard<std::mutex> lock(gLock);
      TOpenFile* f = Find(fd);
      if (!f) return false;
      const int error = Answer(*f, request, arg);
      if (error != kWaitForFrame) {
        result = error ? -1 : 0;
        if (error) errno = error;
        return true;
      }
      wakeAt = f->NextDue();
    }
    // A blocking DQBUF waits for the next frame, as long as one may come.
    const int64_t wait = wakeAt == kNever ? 10000000 : std::max<int64_t>(0, wakeAt - NowNs());
    timespec ts{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
    nanosleep(&ts, nullptr);
  }
}

bool IsCameraPath(const char* path) { return path && CameraPath() == path; }

int OpenCamera(const char* path, int flags) {
  std::lock_guard<std::mutex> lock(gLock);
  if (gUnplugged.count(path)) {
    errno = ENOENT;
    return -1;
  }
  int fd = ::memfd_create("tarvo-emulated-camera", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
  if (fd < 0) return -1;
  if (flags & O_NONBLOCK) ::fcntl(fd, F_SETFL, O_NONBLOCK);
  TOpenFile f;
  f.Fd = fd;
  f.Config = ReadConfig();
  f.NonBlocking = (flags & O_NONBLOCK) != 0;
  f.FourCC = f.Config.Formats.front().FourCC;
  f.Width = f.Config.Formats.front().Sizes.front().W;
  f.Height = f.Config.Formats.front().Sizes.front().H;
  gFiles[fd] = f;
  return fd;
}

void ForgetCamera(int fd) {
  std::lock_guard<std::mutex> lock(gLock);
  if (TOpenFile* f = Find(fd)) {
    ReleaseBuffers(*f);
    gFiles.erase(fd);
  }
}

bool AnyCamera(const pollfd* fds, nfds_t n) {
  std::lock_guard<std::mutex> lock(gLock);
  if (gFiles.empty()) return false;
  for (nfds_t i = 0; i < n; ++i)
    if (Find(fds[i].fd)) return true;
  return false;
}

// poll and ppoll over a set that holds the camera's fd: its readiness comes from here, the others' from the
// C library, waiting no longer than the next frame falls due.
int CameraPoll(pollfd* fds, nfds_t n, int64_t timeoutNs, const sigset_t* mask) {
  const int64_t deadline = timeoutNs < 0 ? kNever : NowNs() + timeoutNs;
  std::vector<pollfd> others(fds, fds + n);
  std::vector<bool> camera(n, false);
  for (;;) {
    int ready = 0;
    int64_t wakeAt = deadline;
    {
      std::lock_guard<std::mutex> lock(gLock);
      const int64_t now = NowNs();
      for (nfds_t i = 0; i < n; ++i) {
        TOpenFile* f = Find(fds[i].fd);
        camera[i] = f != nullptr;
        others[i].fd = f ? -1 : fds[i].fd;
        others[i].revents = 0;
        if (!f) continue;
        Advance(*f, now);
        fds[i].revents = Readiness(*f, fds[i].events);
        if (fds[i].revents) ++ready;
        wakeAt = std::min(wakeAt, f->NextDue());
      }
    }
    timespec ts{}, *tp = nullptr;
    if (ready) {
      tp = &ts;
    } else if (wakeAt != kNever) {
      const int64_t wait = std::max<int64_t>(0, wakeAt - NowNs());
      ts = {static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
      tp = &ts;
    }
    const int r = RealPpoll()(others.data(), n, tp, mask);
    if (r < 0) return -1;
    for (nfds_t i = 0; i < n; ++i)
      if (!camera[i]) fds[i].revents = others[i].revents;
    if (r + ready > 0 || NowNs() >= deadline) return r + ready;
  }
}

}  // namespace

// ---- What stands in for the C library -------------------------------------------------------------------------------

// The C library declares poll's set as written only, but poll reads the fds and events the caller put there.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

extern "C" {

int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = va_arg(ap, mode_t);
  va_end(ap);
  if (IsCameraPath(path)) return OpenCamera(path, flags);
  return RealOpen()(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = va_arg(ap, mode_t);
  va_end(ap);
  if (IsCameraPath(path)) return OpenCamera(path, flags);
  return RealOpen64()(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = va_arg(ap, mode_t);
  va_end(ap);
  if (IsCameraPath(path)) return OpenCamera(path, flags);
  return RealOpenat()(dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = va_arg(ap, mode_t);
  va_end(ap);
  if (IsCameraPath(path)) return OpenCamera(path, flags);
  return RealOpenat64()(dir, path, flags, mode);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  int result;
  if (CameraIoctl(fd, request, arg, result)) return result;
  return RealIoctl()(fd, request, arg);
}

int close(int fd) {
  ForgetCamera(fd);
  return RealClose()(fd);
}

int poll(pollfd* fds, nfds_t n, int timeout) {
  if (!AnyCamera(fds, n)) return RealPoll()(fds, n, timeout);
  return CameraPoll(fds, n, timeout < 0 ? -1 : static_cast<int64_t>(timeout) * 1000000, nullptr);
}

int ppoll(pollfd* fds, nfds_t n, const timespec* timeout, const sigset_t* mask) {
  if (!AnyCamera(fds, n)) return RealPpoll()(fds, n, timeout, mask);
  return CameraPoll(fds, n, timeout ? timeout->tv_sec * 1000000000LL + timeout->tv_nsec : -1, mask);
}

long syscall(long number, ...) noexcept {
  va_list ap;
  va_start(ap, number);
  long a[6];
  for (long& x : a) x = va_arg(ap, long);
  va_end(ap);
  switch (number) {
    case SYS_ioctl: {
      int result;
      if (CameraIoctl(static_cast<int>(a[0]), static_cast<unsigned long>(a[1]), reinterpret_cast<void*>(a[2]), result))
        return result;
      break;
    }
    case SYS_close:
      ForgetCamera(static_cast<int>(a[0]));
      break;
    case SYS_open:
    case SYS_openat: {
      const int at = number == SYS_openat ? 1 : 0;
      const char* path = reinterpret_cast<const char*>(a[at]);
      if (IsCameraPath(path)) return OpenCamera(path, static_cast<int>(a[at + 1]));
      break;
    }
    default:
      break;
  }
  return RealSyscall()(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

int EmulatedCameraFormat(uint32_t* width, uint32_t* height, uint32_t* fourcc) {
  std::lock_guard<std::mutex> lock(gLock);
  *width = gLastWidth, *height = gLastHeight, *fourcc = gLastFourCC;
  return gLastFourCC != 0;
}

uint32_t EmulatedCameraDropped(void) { return gDropped; }

void EmulatedCameraReset(void) {
  std::lock_guard<std::mutex> lock(gLock);
  gUnplugged.clear();
  gDropped = 0;
  gLastWidth = gLastHeight = gLastFourCC = 0;
}

}  // extern "C"
