// Capture windows (vfw/capture.h): the window class and procedure, and TCaptureWindow (capture_window.h).
//
// Threads: the window's own thread (the GUI thread) handles the cap* messages; one driver thread per
// connected window reads frames while overlay or streaming is on, calls the video-stream callback and paints
// the preview. The driver thread takes only short locks that the window's thread never holds while it waits;
// the window's thread waits for the driver thread (the end of a callback, the end of the thread) and never the
// other way round.
#include "capture_window.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "dialogs.h"
#include "failure_picture.h"
#include "gui/gdi.h"
#include "paint_stamp.h"

namespace {

const char* const kClassName = "TarvoCaptureWindow";

std::string ReportText(int index, const std::string& what) {
  return "capture driver " + std::to_string(index) + ": " + what;
}

void Report(int index, const std::string& what) {
  WriteDiagnosticLine(ReportText(index, what).c_str());
}

LRESULT CaptureWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* window = reinterpret_cast<TCaptureWindow*>(GetWindowLongA(hwnd, GWL_USERDATA));
  switch (msg) {
    case WM_NCCREATE:
      SetWindowLongA(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(new TCaptureWindow(hwnd)));
      return TRUE;
    case WM_DESTROY:
      if (window) window->Disconnect();  // stops streaming and releases the device
      return 0;
    case WM_NCDESTROY:
      SetWindowLongA(hwnd, GWL_USERDATA, 0);
      delete window;
      return 0;
    default:
      break;
  }
  if (!window) return DefWindowProcA(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_CAP_SET_CALLBACK_VIDEOSTREAM:
      return window->SetCallback(reinterpret_cast<CAPVIDEOCALLBACK>(lParam));
    case WM_CAP_DRIVER_CONNECT:
      return window->Connect(static_cast<int>(wParam));
    case WM_CAP_DRIVER_DISCONNECT:
      return window->Disconnect();
    case WM_CAP_SET_VIDEOFORMAT:
      return window->SetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(lParam), static_cast<UINT>(wParam));
    case WM_CAP_GET_SEQUENCE_SETUP:
      return window->GetSetup(reinterpret_cast<CAPTUREPARMS*>(lParam), static_cast<UINT>(wParam));
    case WM_CAP_SET_SEQUENCE_SETUP:
      return window->SetSetup(reinterpret_cast<const CAPTUREPARMS*>(lParam), static_cast<UINT>(wParam));
    case WM_CAP_SET_OVERLAY:
      return window->SetOverlay(wParam != 0);
    case WM_CAP_SEQUENCE_NOFILE:
      return window->StartStreaming();
    case WM_CAP_STOP:
      return window->Stop();
    case WM_CAP_DLG_VIDEOSOURCE:
      return window->SourceDialog();
    case WM_CAP_DLG_VIDEOFORMAT:
      return window->FormatDialog();
    case WM_CAP_DLG_VIDEODISPLAY:
      return window->DisplayDialog();
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

void RegisterCaptureClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &CaptureWindowProc;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
  });
}

std::string Describe(const TVideoFormat& f) {
  return std::to_string(f.Width) + " x " + std::to_string(f.Height) + ", " + std::to_string(f.BitCount) +
         " bits, " + (f.TopDown ? "top-down" : "bottom-up");
}

}  // namespace

extern "C" HWND capCreateCaptureWindowA(LPCSTR lpszWindowName, DWORD dwStyle, int x, int y, int nWidth,
                                        int nHeight, HWND hwndParent, int nID) {
  InstallPaintStampDecoder();
  RegisterCaptureClass();
  // Inside a form the window gets a surface for the preview; under any other parent it is a plain child
  // window that captures without a preview.
  HWND hwnd = CreateSurfaceWindow(kClassName, dwStyle, x, y, nWidth, nHeight, hwndParent, nullptr);
  if (!hwnd)
    hwnd = CreateWindowExA(0, kClassName, lpszWindowName, dwStyle, x, y, nWidth, nHeight, hwndParent,
                           reinterpret_cast<HMENU>(static_cast<LONG_PTR>(nID)), nullptr, nullptr);
  return hwnd;
}

CAPTUREPARMS TCaptureWindow::DefaultSetup() {
  CAPTUREPARMS p{};
  p.dwRequestMicroSecPerFrame = 66667;  // 15 frames per second until the program asks for another rate
  p.fMakeUserHitOKToCapture = FALSE;
  p.wPercentDropForError = 10;
  p.fYield = TRUE;  // streaming always runs on the driver's own thread
  p.dwIndexSize = 34952;
  p.wChunkGranularity = 0;
  p.wNumVideoRequested = 4;
  p.fCaptureAudio = FALSE;
  p.vKeyAbort = 0;
  p.fAbortLeftMouse = FALSE;  // nothing aborts a capture but capCaptureStop
  p.fAbortRightMouse = FALSE;
  p.fLimitEnabled = FALSE;
  p.wTimeLimit = 0;
  p.wStepCaptureAverageFrames = 3;
  p.AVStreamMaster = 0;
  return p;
}

TCaptureWindow::TCaptureWindow(HWND hwnd) : FHwnd(hwnd), FSetup(DefaultSetup()) {
  FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TCaptureWindow::~TCaptureWindow() {
  Disconnect();
  if (FWakeFd >= 0) ::close(FWakeFd);
}

bool TCaptureWindow::Connected() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FDriver != nullptr;
}

TVideoFormat TCaptureWindow::Format() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FFormat;
}

BOOL TCaptureWindow::SetCallback(CAPVIDEOCALLBACK callback) {
  std::lock_guard<std::mutex> lock(FLock);
  FCallback = callback;
  return TRUE;
}

BOOL TCaptureWindow::Connect(int index) {
  bool failed;
  {
    std::lock_guard<std::mutex> lock(FLock);
    failed = FDriver && FFailed;
    if (FDriver && FIndex == index && !failed) return TRUE;
  }
  // A failed driver holds a device that no longer works, and may keep it from opening again: it goes first.
  // Otherwise the new driver is opened before the old one goes, so a failed connect leaves the window as it was.
  if (failed) Disconnect();
  std::string why;
  std::unique_ptr<TCaptureDriver> driver = OpenCaptureDriver(index, Format(), why);
  if (!driver) {
    Report(index, "cannot connect: " + why);
    if (failed) ShowFailure(ReportText(index, "cannot connect: " + why), Format());
    return FALSE;
  }
  Disconnect();
  {
    std::lock_guard<std::mutex> lock(FLock);
    FDriver = std::move(driver);
    FIndex = index;
    FFrame.assign(FFormat.ImageSize(), 0);
  }
  UpdateThread();
  return TRUE;
}

BOOL TCaptureWindow::Disconnect() {
  if (!Connected()) return FALSE;
  Stop();
  StopThread();
  {
    std::lock_guard<std::mutex> lock(FLock);
    FDriver.reset();
    FIndex = -1;
    FFailed = false;
  }
  ClearSurface(FHwnd);  // what lies beneath shows through again
  return TRUE;
}

BOOL TCaptureWindow::SetFormat(const BITMAPINFOHEADER* bi, UINT size) {
  TVideoFormat format;
  if (!bi || size < sizeof(BITMAPINFOHEADER) || !TVideoFormat::FromHeader(*bi, format)) return FALSE;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FDriver || FStreaming) return FALSE;
    if (format == FFormat) return TRUE;
  }
  return ReformatDriver(format) ? TRUE : FALSE;
}

bool TCaptureWindow::ReformatDriver(const TVideoFormat& format) {
  StopThread();
  std::string why;
  bool ok = FDriver->SetFormat(format, why);
  if (ok) {
    bool smaller;
    {
      std::lock_guard<std::mutex> lock(FLock);
      smaller = format.Width < FFormat.Width || format.Height < FFormat.Height;
      FFormat = format;
      FFrame.assign(format.ImageSize(), 0);
    }
    // A smaller picture would leave the old one standing around it: that part shows what lies beneath, as
    // without a driver. The driver thread is stopped, so no picture can land before the surface is cleared.
    if (smaller) ClearSurface(FHwnd);
  } else {
    Report(FIndex, "cannot use " + Describe(format) + ": " + why);
    std::string again;
    if (!FDriver->SetFormat(FFormat, again)) Report(FIndex, again);
  }
  UpdateThread();
  return ok;
}

BOOL TCaptureWindow::GetSetup(CAPTUREPARMS* parms, UINT size) const {
  if (!parms || size == 0) return FALSE;
  std::lock_guard<std::mutex> lock(FLock);
  std::memcpy(parms, &FSetup, std::min<size_t>(size, sizeof(CAPTUREPARMS)));
  return TRUE;
}

BOOL TCaptureWindow::SetSetup(const CAPTUREPARMS* parms, UINT size) {
  if (!parms || size < sizeof(CAPTUREPARMS) || parms->dwRequestMicroSecPerFrame == 0) return FALSE;
  std::lock_guard<std::mutex> lock(FLock);
  FSetup = *parms;  // the driver thread takes the new interval with its next frame
  return TRUE;
}

BOOL TCaptureWindow::SetOverlay(bool on) {
  {
    // Under the paint lock, so that no picture lands after the surface is cleared.
    std::lock_guard<std::mutex> paint(FPaintLock);
    {
      std::lock_guard<std::mutex> lock(FLock);
      if (!FDriver) return FALSE;
      FOverlay = on;
    }
    if (!on) ClearSurface(FHwnd);
  }
  UpdateThread();
  return TRUE;
}

BOOL TCaptureWindow::StartStreaming() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FDriver || FStreaming) return FALSE;
    FStreaming = true;
    FStreamStart = MonotonicNs();
  }
  UpdateThread();
  return TRUE;
}

BOOL TCaptureWindow::Stop() {
  {
    std::unique_lock<std::mutex> lock(FLock);
    if (!FDriver) return FALSE;
    FStreaming = false;
    // From here no callback starts; wait for the one that may be running (unless it is the caller).
    if (std::this_thread::get_id() != FThreadId) FIdle.wait(lock, [this] { return !FInCallback; });
  }
  UpdateThread();
  return TRUE;
}

void TCaptureWindow::UpdateThread() {
  bool need;
  {
    std::lock_guard<std::mutex> lock(FLock);
    need = FDriver && (FOverlay || FStreaming);
    if (FThread.joinable() && FRun == need) return;  // running as it should
  }
  StopThread();  // also collects a thread that ended because its device failed
  if (need) StartThread();
}

void TCaptureWindow::StartThread() {
  FDriver->Restart();
  {
    std::lock_guard<std::mutex> lock(FLock);
    FRun = true;
  }
  FThread = std::thread(&TCaptureWindow::ThreadMain, this);
  FThreadId = FThread.get_id();
}

void TCaptureWindow::StopThread() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FRun = false;
  }
  if (!FThread.joinable()) return;
  if (FThread.get_id() == std::this_thread::get_id()) {
    FThread.detach();  // the thread ends itself when its call returns
    return;
  }
  uint64_t one = 1;
  (void)!::write(FWakeFd, &one, sizeof one);
  FThread.join();
  FThreadId = {};
  uint64_t drained;
  (void)!::read(FWakeFd, &drained, sizeof drained);
}

void TCaptureWindow::ThreadMain() {
  pthread_setname_np(pthread_self(), "tarvo-capture");
  std::string why;
  for (;;) {
    uint32_t interval;
    int index;
    {
      std::lock_guard<std::mutex> lock(FLock);
      if (!FRun) break;
      interval = FSetup.dwRequestMicroSecPerFrame;
      index = FIndex;
    }
    TWaitResult result = FDriver->WaitFrame(FFrame.data(), interval, FWakeFd, why);
    if (result == TWaitResult::Woken) continue;  // the loop's test says whether to go on
    if (result == TWaitResult::Failed) {
      Report(index, why);
      TVideoFormat format;
      {
        std::lock_guard<std::mutex> lock(FLock);
        FStreaming = false;
        FRun = false;
        FFailed = true;
        format = FFormat;
      }
      ShowFailure(ReportText(index, why), format);
      break;
    }
    CAPVIDEOCALLBACK callback = nullptr;
    TVideoFormat format;
    {
      std::lock_guard<std::mutex> lock(FLock);
      if (!FRun) break;
      format = FFormat;
      if (FStreaming && FCallback) {
        callback = FCallback;
        FInCallback = true;
        FHeader = VIDEOHDR{};
        FHeader.lpData = FFrame.data();
        FHeader.dwBufferLength = static_cast<DWORD>(FFrame.size());
        FHeader.dwBytesUsed = static_cast<DWORD>(format.ImageSize());
        FHeader.dwTimeCaptured = static_cast<DWORD>((MonotonicNs() - FStreamStart) / 1000000);
        FHeader.dwFlags = VHDR_DONE | VHDR_PREPARED | VHDR_KEYFRAME;
      }
    }
    if (callback) {
      try {
        callback(FHwnd, &FHeader);
      } catch (...) {
        // The program's callback is its own business; the capture goes on.
      }
      std::lock_guard<std::mutex> lock(FLock);
      FInCallback = false;
      FIdle.notify_all();
    }
    std::lock_guard<std::mutex> paint(FPaintLock);
    bool overlay;
    {
      std::lock_guard<std::mutex> lock(FLock);
      overlay = FOverlay;
    }
    if (overlay) Paint(FFrame.data(), format);
  }
  ReleasePreview();
  std::lock_guard<std::mutex> lock(FLock);
  FIdle.notify_all();
}

void TCaptureWindow::Paint(const uint8_t* frame, const TVideoFormat& format) {
  if (!FDc) {
    int64_t now = MonotonicNs();
    if (now < FNextDcTry) return;
    FDc = GetDC(FHwnd);
    if (!FDc) {
      FNextDcTry = now + 1000000000;  // a window without a surface: look again in a second
      return;
    }
  }
  BITMAPINFO info{};
  info.bmiHeader = format.Header();
  const uint8_t* bits = frame;
  if (format.BitCount == 32) {  // the surface takes 24-bit pictures
    TVideoFormat plain{format.Width, format.Height, 24, format.TopDown};
    FPreview.resize(plain.ImageSize());
    for (int y = 0; y < format.Height; ++y) {
      const uint8_t* s = frame + format.Stride() * static_cast<size_t>(y);
      uint8_t* d = FPreview.data() + plain.Stride() * static_cast<size_t>(y);
      for (int x = 0; x < format.Width; ++x) std::memcpy(d + x * 3, s + x * 4, 3);
    }
    info.bmiHeader = plain.Header();
    bits = FPreview.data();
  }
  SetDIBitsToDevice(FDc, 0, 0, static_cast<DWORD>(format.Width), static_cast<DWORD>(format.Height), 0, 0, 0,
                    static_cast<UINT>(format.Height), bits, &info, DIB_RGB_COLORS);
}

void TCaptureWindow::ShowFailure(const std::string& text, const TVideoFormat& format) {
  std::vector<uint8_t> dib;
  if (!DrawFailurePicture(text, format.Width, format.Height, dib)) return;
  std::lock_guard<std::mutex> paint(FPaintLock);
  HDC dc = GetDC(FHwnd);
  if (!dc) return;  // a window without a surface shows nothing anyway
  BITMAPINFO info{};
  info.bmiHeader = TVideoFormat{format.Width, format.Height, 24, false}.Header();
  SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(format.Width), static_cast<DWORD>(format.Height), 0, 0, 0,
                    static_cast<UINT>(format.Height), dib.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(FHwnd, dc);
}

void TCaptureWindow::ReleasePreview() {
  if (FDc) ReleaseDC(FHwnd, FDc);
  FDc = nullptr;
  FNextDcTry = 0;
}

BOOL TCaptureWindow::SourceDialog() {
  TSourceChoice choice;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FDriver || FStreaming) return FALSE;
    std::vector<TDriverEntry> table = DriverTable();
    for (size_t i = 0; i < table.size(); ++i) {
      std::string name = static_cast<int>(i) == FIndex ? FDriver->Description()
                         : table[i].IsPattern()         ? "Test pattern (built in)"
                                                        : table[i].Location;
      choice.Devices.push_back(std::to_string(i) + ": " + name);
    }
    while (static_cast<int>(choice.Devices.size()) <= FIndex)  // the table changed since the connect
      choice.Devices.push_back(std::to_string(choice.Devices.size()) + ": " + FDriver->Description());
    choice.Device = FIndex;
    choice.Inputs = FDriver->Inputs();
    choice.Input = FDriver->Input();
  }
  const char* caption = "Video Source";
  if (Unattended()) {
    std::string input = choice.Input >= 0 && choice.Input < static_cast<int>(choice.Inputs.size())
                            ? choice.Inputs[choice.Input]
                            : std::to_string(choice.Input);
    ReportUnattendedDialog(caption, "device " + choice.Devices[choice.Device] + ", input " + input);
    return TRUE;
  }
  if (!CanShowDialog(caption)) return FALSE;
  const int device = choice.Device, input = choice.Input;
  if (!RunSourceDialog(choice)) return TRUE;
  if (choice.Device != device) return Connect(choice.Device);
  if (choice.Input != input) {
    StopThread();
    std::string why;
    bool ok = FDriver->SetInput(choice.Input, why);
    if (!ok) Report(FIndex, why);
    UpdateThread();
    return ok ? TRUE : FALSE;
  }
  return TRUE;
}

BOOL TCaptureWindow::FormatDialog() {
  TVideoFormat format;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FDriver || FStreaming) return FALSE;
    format = FFormat;
  }
  const char* caption = "Video Format";
  if (Unattended()) {
    ReportUnattendedDialog(caption, Describe(format));
    return TRUE;
  }
  if (!CanShowDialog(caption)) return FALSE;
  if (!RunFormatDialog(format) || format == Format()) return TRUE;
  return ReformatDriver(format) ? TRUE : FALSE;
}

BOOL TCaptureWindow::DisplayDialog() {
  bool overlay;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FDriver) return FALSE;
    overlay = FOverlay;
  }
  const char* caption = "Video Display";
  if (Unattended()) {
    ReportUnattendedDialog(caption, overlay ? "live picture shown" : "live picture hidden");
    return TRUE;
  }
  if (!CanShowDialog(caption)) return FALSE;
  if (!RunDisplayDialog(overlay)) return TRUE;
  return SetOverlay(overlay);
}
