// The paint log (paintlog.h): one line per SetDIBitsToDevice into the file that TARVO_PAINT_LOG names, with the
// stamp that the registered decoder reads from the picture.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "gui/paintlog.h"
#include "gui_p.h"
#include "win32/kernel.h"

namespace {

std::atomic<TPaintStampDecoder> gStampDecoder{nullptr};

// Opened once, on first use, when TARVO_PAINT_LOG is set.
int PaintLogFd() {
  static const int fd = [] {
    const char* path = std::getenv("TARVO_PAINT_LOG");
    if (path == nullptr || *path == '\0') return -1;
    return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }();
  return fd;
}

}  // namespace

void SetPaintStampDecoder(TPaintStampDecoder decoder) { gStampDecoder.store(decoder); }

namespace tarvo_gui {

void WritePaintLog(const std::string& surface, const BITMAPINFO* info, const void* bits, UINT startScan,
                   UINT lines) {
  int fd = PaintLogFd();
  if (fd < 0) return;
  std::string stamp;
  if (TPaintStampDecoder decoder = gStampDecoder.load()) stamp = decoder(info, bits, startScan, lines);
  std::string line = std::to_string(GetTickCount64()) + " " + (surface.empty() ? std::string("?") : surface) +
                     " " + (stamp.empty() ? std::string("-") : stamp) + "\n";
  // One write per line: O_APPEND keeps lines of several writers whole.
  ssize_t ignored = ::write(fd, line.data(), line.size());
  (void)ignored;
}

}  // namespace tarvo_gui
