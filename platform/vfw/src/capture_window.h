// The object behind a capture window: the connected driver, the format, the capture parameters, the callback
// and the overlay, and the driver thread that reads frames, calls the callback and paints the preview.
// Internal to platform/vfw; the window procedure (capture_window.cpp) turns the cap* messages into these calls,
// on the window's own thread.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver.h"
#include "vfw/capture.h"

class TCaptureWindow {
 public:
  explicit TCaptureWindow(HWND hwnd);
  ~TCaptureWindow();
  TCaptureWindow(const TCaptureWindow&) = delete;
  TCaptureWindow& operator=(const TCaptureWindow&) = delete;

  BOOL SetCallback(CAPVIDEOCALLBACK callback);
  BOOL Connect(int index);
  BOOL Disconnect();
  BOOL SetFormat(const BITMAPINFOHEADER* bi, UINT size);
  BOOL GetSetup(CAPTUREPARMS* parms, UINT size) const;
  BOOL SetSetup(const CAPTUREPARMS* parms, UINT size);
  BOOL SetOverlay(bool on);
  BOOL StartStreaming();
  BOOL Stop();
  BOOL SourceDialog();
  BOOL FormatDialog();
  BOOL DisplayDialog();

  // What the window holds, for its dialogs and tests.
  bool Connected() const;
  TVideoFormat Format() const;

  static CAPTUREPARMS DefaultSetup();

 private:
  void StartThread();
  void StopThread();
  void UpdateThread();  // runs the thread exactly while a driver is connected and overlay or streaming is on
  void ThreadMain();
  void Paint(const uint8_t* frame, const TVideoFormat& format);
  // The reason in place of the picture, for a user without a terminal; any thread, not under FLock.
  void ShowFailure(const std::string& text, const TVideoFormat& format);
  void ReleasePreview();
  bool ReformatDriver(const TVideoFormat& format);

  const HWND FHwnd;
  std::mutex FPaintLock;  // taken before FLock: a preview picture and the clearing of the surface
  mutable std::mutex FLock;
  std::condition_variable FIdle;  // a callback has returned
  std::unique_ptr<TCaptureDriver> FDriver;
  int FIndex = -1;
  TVideoFormat FFormat;
  CAPTUREPARMS FSetup;
  CAPVIDEOCALLBACK FCallback = nullptr;
  bool FOverlay = false;
  bool FStreaming = false;
  bool FInCallback = false;
  bool FFailed = false;  // the driver failed while capturing: a connect opens the device again
  int64_t FStreamStart = 0;

  // The driver thread; FRun is its licence to go on. The driver and the frame buffer are the thread's alone
  // while it runs: the window's thread changes them only with the thread stopped.
  std::thread FThread;
  std::thread::id FThreadId;
  bool FRun = false;
  int FWakeFd = -1;
  std::vector<uint8_t> FFrame;
  VIDEOHDR FHeader{};

  // The preview's device context, the driver thread's alone.
  HDC FDc = nullptr;
  int64_t FNextDcTry = 0;
  std::vector<uint8_t> FPreview;  // a 32-bit frame made 24-bit for painting
};

// The dialogs of the capture window (capture_dialogs.cpp): each returns whether the user accepted.
struct TSourceChoice {
  std::vector<std::string> Devices;  // the driver table, described
  int Device = 0;
  std::vector<std::string> Inputs;  // of the connected device
  int Input = 0;
};
bool RunSourceDialog(TSourceChoice& choice);
bool RunFormatDialog(TVideoFormat& format);
bool RunDisplayDialog(bool& overlay);
