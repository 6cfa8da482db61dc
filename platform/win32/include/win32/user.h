// User-interface subset: window classes, windows with extra bytes, one message queue per thread, message boxes.
// Used by the socket component (hidden notification windows), the GUI toolkit (which dispatches the GUI
// thread's queue from Qt's event loop and presents message boxes), the capture layer, and the socket layer's
// notifier thread (PostMessageA, IsWindow). C linkage; thread-safe throughout.
//
// Rules that callers rely on:
// - A thread gets its queue the first time it creates a window or reads or posts messages for itself
//   (PeekMessageA, GetMessageA, PostQuitMessage, PostMessageA(0, ...), SendMessageA, QueueEventFd).
// - PostMessageA works from any thread and wakes the owner; QueueEventFd gives a descriptor that is readable
//   while the queue holds messages (a pending WM_QUIT and a waiting cross-thread SendMessageA included) and not
//   readable once it is empty, so another event loop can watch it level-triggered.
// - A queue holds at most 10000 posted messages, as on the original platform: a post beyond that fails with
//   ERROR_NOT_ENOUGH_QUOTA (1816). A process holds at most 10000 windows (creation fails with 1816).
// - Retrieval order: cross-thread SendMessageA calls waiting for this thread are handled first (inside
//   PeekMessageA/GetMessageA, whatever the filter), then posted messages in the order they were posted, then
//   WM_QUIT. WM_QUIT is a flag set by PostQuitMessage, retrieved whatever the filters are, once no posted
//   message matches; so it comes after every message posted before it.
// - No lock is held while a window procedure runs: procedures may post, pump again (nested pumps) and
//   destroy their own window from inside its own dispatch.
// - DestroyWindow (on the owner thread only; another thread gets ERROR_ACCESS_DENIED) sends WM_DESTROY to the
//   window, destroys its child and owned windows the same way, sends WM_NCDESTROY, and only then does the
//   handle die. Messages posted to a window that no longer exists are dropped (purged from the queue, or
//   skipped when met), and a handle is never reused. A procedure that throws still leaves the window and its
//   children destroyed; the exception goes on to the caller.
// - When a thread ends, its windows die without destruction messages (their procedures' objects may already
//   be gone, as at process exit) and its queue goes away; later posts to those windows fail with 1400, to the
//   thread with 1444, and a SendMessageA waiting for it returns 0.
// - Window extra bytes: each 4 bytes of cbWndExtra (rounded up) become one pointer-sized slot, addressed with
//   the original byte offset (index 0, 4, 8 ...: slot index/4), and Get/SetWindowLongA move a LONG_PTR (64 bits
//   here; 32 on the original platform). So "4 extra bytes that hold an object reference" hold one pointer, and
//   code written for 64-bit slots at 0, 8 ... with twice the bytes works as well. Other indexes give
//   ERROR_INVALID_INDEX (1413). Extra bytes may be read and written from any thread.
// - Invalid window handles give ERROR_INVALID_WINDOW_HANDLE (1400); a null required pointer gives
//   ERROR_NOACCESS (998) or, where the original platform says so, ERROR_INVALID_PARAMETER (87).
#pragma once

#include "win32/types.h"

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // GetTickCount() when the message was posted
  POINT pt;    // always 0,0: there is no pointer position at this layer
};

using ATOM = WORD;
// A class atom in place of a class name, as on the original platform.
inline LPCSTR MAKEINTATOM(ATOM atom) { return reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(atom)); }

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;  // accepted and ignored

constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;

// Negative indexes of Get/SetWindowLongA. GWL_HINSTANCE and GWL_HWNDPARENT can be read, not written (1413).
constexpr int GWL_WNDPROC = -4;  // set only by the owner thread (ERROR_ACCESS_DENIED otherwise)
constexpr int GWL_HINSTANCE = -6;
constexpr int GWL_HWNDPARENT = -8;
constexpr int GWL_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWL_USERDATA = -21;

// The PeekMessageA/GetMessageA window filter that selects only the thread's own messages (hwnd 0).
inline HWND const HWND_THREAD_MESSAGES = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

extern "C" {

// Window classes are per process, keyed by name (compared without case) or by the atom RegisterClassA
// returns. Registering an existing name fails with ERROR_CLASS_ALREADY_EXISTS; a null record, name or
// procedure, or negative extra sizes, with ERROR_INVALID_PARAMETER. The instance handle is kept, not compared.
ATOM RegisterClassA(const WNDCLASSA* wc);
// Fills the record (lpszClassName is the caller's pointer); ERROR_CLASS_DOES_NOT_EXIST when unknown.
BOOL GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* wc);
// ERROR_CLASS_DOES_NOT_EXIST when unknown, ERROR_CLASS_HAS_WINDOWS while windows of the class exist.
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);

// The window belongs to the calling thread. lpParam reaches WM_NCCREATE/WM_CREATE as on the original platform
// (lParam points to a CREATESTRUCTA whose first member is lpCreateParams). A procedure that returns FALSE to
// WM_NCCREATE (it gets WM_NCDESTROY then) or -1 to WM_CREATE (it gets WM_DESTROY and WM_NCDESTROY) makes the
// creation fail with 0. Errors: ERROR_CANNOT_FIND_WND_CLASS (1407) unknown class; 1400 a parent that does not
// exist or belongs to another thread; 1816 too many windows. The parent (or owner) is destroyed with its
// children; GetParent gives it back.
struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);  // any thread; TRUE until the handle dies (also during WM_DESTROY/WM_NCDESTROY)
HWND GetParent(HWND hwnd);
DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId);
LONG_PTR SetWindowLongA(HWND hwnd, int index, LONG_PTR value);  // returns the previous value
LONG_PTR GetWindowLongA(HWND hwnd, int index);

// hwnd 0 posts to the calling thread, as PostThreadMessageA(GetCurrentThreadId(), ...) does. Errors: 1400 a
// window that does not exist (or whose thread has ended); 1816 the queue is full.
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// PostMessageA to a window for a notification that only says that something is ready: while the same message
// (window, number and both parameters) still waits in the queue, nothing is added and the result is TRUE.
BOOL PostMessageOnceA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// ERROR_INVALID_THREAD_ID (1444) for a thread that has no queue (or has ended).
BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Window filter: 0 every message of the calling thread (its windows' and its thread messages), a window its
// messages and its descendants' (a window of another thread: nothing), HWND_THREAD_MESSAGES only thread
// messages. Range filter: filterMin..filterMax inclusive; 0, 0 (or max < min) every message. PM_REMOVE
// removes exactly the message returned. Errors: 998 null msg, 1400 a filter window that does not exist.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);  // > 0 message, 0 WM_QUIT, -1 error
// Keyboard translation belongs to the GUI toolkit, whose input layer already delivers characters: this
// returns TRUE for key messages (WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP) as the original platform does,
// FALSE for every other message, and posts nothing.
BOOL TranslateMessage(const MSG* msg);
// Calls the procedure of msg->hwnd on the calling thread and returns its result; a thread message (hwnd 0)
// gives 0. Errors: 998 null msg, 1400 a window that does not exist, ERROR_ACCESS_DENIED a window of another
// thread.
LRESULT DispatchMessageA(const MSG* msg);
// On the owner thread the procedure is called directly. From another thread the call waits, as on the
// original platform, until the owner thread handles it (in its PeekMessageA/GetMessageA, or while it itself
// waits in a SendMessageA, so two threads sending to each other do not deadlock); a wait longer than 5 s is
// reported once on standard error, naming both threads, and goes on waiting. If the window dies or its thread
// ends first, the result is 0 with error 1400.
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// WM_NCCREATE gives TRUE, WM_CLOSE destroys the window (DestroyWindow), every other message gives 0.
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Extension: the calling thread's queue descriptor (an eventfd), readable while the queue holds messages.
// The GUI toolkit watches it from Qt's event loop and then dispatches with PeekMessageA/DispatchMessageA
// until PeekMessageA returns FALSE, after which the descriptor is no longer readable. Never read or write it.
// -1 if the thread could not get a queue (no descriptors left).
int QueueEventFd();

}  // extern "C"

// Message boxes.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_DEFMASK = 0x00000F00;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

extern "C" {

// Shows a modal box through the presenter and returns the button chosen. Errors: 0 with
// ERROR_INVALID_PARAMETER for a type outside MB_OK..MB_RETRYCANCEL, 0 with 1400 for an owner that is not a
// window. A null caption reads "Error", a null text "".
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// Extension: who shows message boxes. Until the GUI toolkit installs its presenter, and whenever
// TARVO_UNATTENDED=1, caption and text go to standard error as one line
//   MessageBox [caption]: text -> OK
// (line breaks in the text written as spaces) and the default button is the answer: the first button of
// the type, or the second or third with MB_DEFBUTTON2/MB_DEFBUTTON3 (MB_OK, MB_OKCANCEL: IDOK; MB_YESNO,
// MB_YESNOCANCEL: IDYES). The presenter runs on the calling thread with no lock held; nullptr removes it.
using MessageBoxPresenter = int (*)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

}  // extern "C"
