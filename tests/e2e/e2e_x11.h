// The X side of the end-to-end test: a private Xvfb display for the real programs' windows, and what a person
// and a window manager do to those windows. Clicks and moves go through xdotool, as a person's input would; the
// close request is the WM_DELETE_WINDOW message of the window-manager protocol, which a window manager sends
// when its close box is clicked (there is no window manager on the display, so this helper sends it itself);
// reading windows back (titles, owner pids, pixels) is done with Xlib. Screenshots are PNG files (ImageMagick's
// import).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct _XDisplay;

namespace tarvo::e2e {

using TWindow = unsigned long;

// RGB pixels of a window, row by row (0x00RRGGBB).
struct TImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint32_t> Pixels;
  std::uint32_t At(int x, int y) const { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
};

// Why the end-to-end test cannot run here ("" when it can): Xvfb, xdotool or import missing.
std::string XToolsMissing();

class TXDisplay {
 public:
  // Starts Xvfb on a free display number (screen width x height x 24). Throws std::runtime_error.
  TXDisplay(int width, int height);
  ~TXDisplay();
  TXDisplay(const TXDisplay&) = delete;
  TXDisplay& operator=(const TXDisplay&) = delete;

  // ":N", for DISPLAY.
  const std::string& Name() const { return FName; }

  // Top-level windows whose title is exactly title.
  std::vector<TWindow> Windows(const std::string& title);
  // The window of that title whose _NET_WM_PID is pid; 0 when none appears within timeout.
  TWindow WaitWindow(const std::string& title, pid_t pid, std::chrono::milliseconds timeout);
  // Whether the window still exists and is mapped.
  bool Mapped(TWindow window);

  // As a person would: xdotool moves the pointer to x, y of the window and clicks the left button.
  bool Click(TWindow window, int x, int y);
  // As a person would drag it: xdotool moves the window to x, y of the screen.
  bool Move(TWindow window, int x, int y);
  // Raises the window above the others.
  bool Raise(TWindow window);
  // The window manager's close request (WM_DELETE_WINDOW).
  bool RequestClose(TWindow window);

  // What the window shows now.
  TImage Capture(TWindow window);
  // The whole screen as a PNG file.
  bool Screenshot(const std::string& path);

 private:
  int Xdotool(const std::vector<std::string>& args);
  pid_t FServer = -1;
  std::string FName;
  _XDisplay* FDisplay = nullptr;
};

}  // namespace tarvo::e2e
