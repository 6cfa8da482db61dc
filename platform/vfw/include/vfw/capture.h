// Capture windows: a child window that connects to a capture driver (a V4L2 camera or the built-in test
// pattern, numbered by the driver table of TARVO_CAPTURE_DRIVERS), shows its live picture while overlay is on,
// and streams frames to a callback on the driver's own thread. Used by the sender and the recorder.
//
// Driver numbers 0-9 come from TARVO_CAPTURE_DRIVERS, a comma-separated list of V4L2 device paths and
// `pattern` (the built-in test pattern): TARVO_CAPTURE_DRIVERS=/dev/video2 makes that camera driver 0. Unset,
// the table is the V4L2 video-capture devices /dev/videoN in numeric order. A connect that fails (no such
// driver, a busy device, no permission) says why on standard error.
//
// The cap* operations are messages sent to the capture window, so they run on the thread that created it (the
// GUI thread). Each answers TRUE or FALSE and is harmless without a connected driver.
// What callers may rely on:
// - capCaptureSequenceNoFile returns at once; then the driver's thread calls the video-stream callback once per
//   frame, at the requested interval (dwRequestMicroSecPerFrame, without drift; a camera's frames beyond that
//   rate are dropped, never repeated), in the format set (352 x 288 24-bit bottom-up BGR by default).
// - The driver's thread never waits for the GUI thread; a callback must not wait for it either.
// - capCaptureStop returns only when no callback is running and none will follow; it is harmless when nothing
//   streams, and the live picture goes on while overlay is on. Disconnecting or destroying the window (or its
//   parent) stops the same way and releases the device.
// - While no driver is connected, or overlay is off, the window shows nothing: what lies beneath shows through.
// - Connecting again keeps the callback, the format, the capture parameters and the overlay.
// - The three dialogs are modal; with TARVO_UNATTENDED=1 each writes its caption to standard error and answers
//   at once as if accepted unchanged.
#pragma once

#include "win32/bitmap.h"
#include "win32/types.h"
#include "win32/user.h"

#pragma pack(push, 4)
struct CAPTUREPARMS {
  DWORD dwRequestMicroSecPerFrame;  // frame interval asked of the driver
  BOOL fMakeUserHitOKToCapture;
  UINT wPercentDropForError;
  BOOL fYield;  // streaming runs on the driver's own thread (it always does here)
  DWORD dwIndexSize;
  UINT wChunkGranularity;
  BOOL fUsingDOSMemory;
  UINT wNumVideoRequested;
  BOOL fCaptureAudio;
  UINT wNumAudioRequested;
  UINT vKeyAbort;
  BOOL fAbortLeftMouse;
  BOOL fAbortRightMouse;
  BOOL fLimitEnabled;
  UINT wTimeLimit;
  BOOL fMCIControl;
  BOOL fStepMCIDevice;
  DWORD dwMCIStartTime;
  DWORD dwMCIStopTime;
  BOOL fStepCaptureAt2x;
  UINT wStepCaptureAverageFrames;
  DWORD dwAudioBufferSize;
  BOOL fDisableWriteCache;
  UINT AVStreamMaster;
};
#pragma pack(pop)
static_assert(sizeof(CAPTUREPARMS) == 96, "CAPTUREPARMS keeps its 96-byte layout");
using LPCAPTUREPARMS = CAPTUREPARMS*;

struct VIDEOHDR {
  BYTE* lpData;            // the frame, in the format set
  DWORD dwBufferLength;
  DWORD dwBytesUsed;
  DWORD dwTimeCaptured;    // milliseconds since streaming started
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD_PTR dwReserved[4];
};
using LPVIDEOHDR = VIDEOHDR*;

constexpr DWORD VHDR_DONE = 0x00000001;
constexpr DWORD VHDR_PREPARED = 0x00000002;
constexpr DWORD VHDR_INQUEUE = 0x00000004;
constexpr DWORD VHDR_KEYFRAME = 0x00000008;

using CAPVIDEOCALLBACK = LRESULT (*)(HWND hWnd, LPVIDEOHDR lpVHdr);

constexpr UINT WM_CAP_START = WM_USER;
constexpr UINT WM_CAP_SET_CALLBACK_VIDEOSTREAM = WM_CAP_START + 6;
constexpr UINT WM_CAP_DRIVER_CONNECT = WM_CAP_START + 10;
constexpr UINT WM_CAP_DRIVER_DISCONNECT = WM_CAP_START + 11;
constexpr UINT WM_CAP_DLG_VIDEOFORMAT = WM_CAP_START + 41;
constexpr UINT WM_CAP_DLG_VIDEOSOURCE = WM_CAP_START + 42;
constexpr UINT WM_CAP_DLG_VIDEODISPLAY = WM_CAP_START + 43;
constexpr UINT WM_CAP_SET_VIDEOFORMAT = WM_CAP_START + 45;
constexpr UINT WM_CAP_SET_OVERLAY = WM_CAP_START + 51;
constexpr UINT WM_CAP_SEQUENCE_NOFILE = WM_CAP_START + 63;
constexpr UINT WM_CAP_SET_SEQUENCE_SETUP = WM_CAP_START + 64;
constexpr UINT WM_CAP_GET_SEQUENCE_SETUP = WM_CAP_START + 65;
constexpr UINT WM_CAP_STOP = WM_CAP_START + 68;

// A child window (dwStyle normally WS_CHILD | WS_VISIBLE) of hwndParent at the given place and size, owned by
// the calling thread. 0 when the parent is not a window.
extern "C" HWND capCreateCaptureWindowA(LPCSTR lpszWindowName, DWORD dwStyle, int x, int y, int nWidth,
                                        int nHeight, HWND hwndParent, int nID);

inline BOOL capSetCallbackOnVideoStream(HWND hwnd, CAPVIDEOCALLBACK fpProc) {
  return static_cast<BOOL>(
      SendMessageA(hwnd, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(fpProc)));
}
inline BOOL capDriverConnect(HWND hwnd, int i) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, static_cast<WPARAM>(i), 0));
}
inline BOOL capDriverDisconnect(HWND hwnd) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_DRIVER_DISCONNECT, 0, 0));
}
inline BOOL capSetVideoFormat(HWND hwnd, const void* s, UINT wSize) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_SET_VIDEOFORMAT, wSize, reinterpret_cast<LPARAM>(s)));
}
inline BOOL capCaptureGetSetup(HWND hwnd, CAPTUREPARMS* s, UINT wSize) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_GET_SEQUENCE_SETUP, wSize, reinterpret_cast<LPARAM>(s)));
}
inline BOOL capCaptureSetSetup(HWND hwnd, const CAPTUREPARMS* s, UINT wSize) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_SET_SEQUENCE_SETUP, wSize, reinterpret_cast<LPARAM>(s)));
}
inline BOOL capOverlay(HWND hwnd, BOOL f) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_SET_OVERLAY, static_cast<WPARAM>(f != 0), 0));
}
inline BOOL capDlgVideoFormat(HWND hwnd) { return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_DLG_VIDEOFORMAT, 0, 0)); }
inline BOOL capDlgVideoSource(HWND hwnd) { return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_DLG_VIDEOSOURCE, 0, 0)); }
inline BOOL capDlgVideoDisplay(HWND hwnd) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_DLG_VIDEODISPLAY, 0, 0));
}
inline BOOL capCaptureSequenceNoFile(HWND hwnd) {
  return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_SEQUENCE_NOFILE, 0, 0));
}
inline BOOL capCaptureStop(HWND hwnd) { return static_cast<BOOL>(SendMessageA(hwnd, WM_CAP_STOP, 0, 0)); }
