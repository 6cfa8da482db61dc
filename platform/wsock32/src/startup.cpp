// Start-up and clean-up, the per-thread last error, the binding to the program's window functions, and the
// table through which GetProcAddress finds the routines by their Winsock names.
#include <cstring>
#include <mutex>

#include "state.h"
#include "win32/user.h"

// The program's single copy of platform/win32; weak, so a process without it can still load the library.
extern "C" BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) __attribute__((weak));
extern "C" BOOL IsWindow(HWND hwnd) __attribute__((weak));
extern "C" BOOL PostMessageOnceA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) __attribute__((weak));

namespace wsock32 {

std::atomic<int> StartCount{0};

namespace {
thread_local int LastError = 0;
std::mutex StartupLock;
}  // namespace

void SetError(int code) { LastError = code; }

bool HaveWindowFunctions() { return PostMessageA != nullptr && IsWindow != nullptr; }
BOOL PostTo(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return PostMessageA ? PostMessageA(wnd, msg, wParam, lParam) : FALSE;
}
BOOL PostOnceTo(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (PostMessageOnceA) return PostMessageOnceA(wnd, msg, wParam, lParam);
  return PostTo(wnd, msg, wParam, lParam);
}
BOOL WindowExists(HWND wnd) { return IsWindow ? IsWindow(wnd) : FALSE; }

}  // namespace wsock32

using namespace wsock32;

extern "C" {

int wsock32_WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  // WSAStartup reports through its result: the last error is not usable before start-up.
  BYTE major = LOBYTE(wVersionRequested);
  BYTE minor = HIBYTE(wVersionRequested);
  if (major < 1) return WSAVERNOTSUPPORTED;
  if (!lpWSAData) return WSAEFAULT;
  std::lock_guard lock(StartupLock);
  std::memset(lpWSAData, 0, sizeof *lpWSAData);
  lpWSAData->wVersion = (major == 1 && minor == 0) ? MAKEWORD(1, 0) : MAKEWORD(1, 1);
  lpWSAData->wHighVersion = MAKEWORD(1, 1);
  std::strcpy(lpWSAData->szDescription, "WinSock 1.1 over POSIX sockets");
  std::strcpy(lpWSAData->szSystemStatus, "Running");
  lpWSAData->iMaxSockets = 32767;
  lpWSAData->iMaxUdpDg = 65507;  // the largest IPv4 UDP payload
  lpWSAData->lpVendorInfo = nullptr;
  StartCount.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

int wsock32_WSACleanup() {
  std::lock_guard lock(StartupLock);
  int count = StartCount.load(std::memory_order_acquire);
  if (count <= 0) {
    SetError(WSANOTINITIALISED);
    return SOCKET_ERROR;
  }
  if (count > 1) {
    StartCount.store(count - 1, std::memory_order_release);
    return 0;
  }
  // The last clean-up: refuse new calls first, then close what is open and stop every thread of the layer,
  // so that unloading the library afterwards can never pull code from under one of them.
  StartCount.store(0, std::memory_order_release);
  CloseAllSockets();
  StopLookups();
  StopNotifier();
  return 0;
}

void wsock32_WSASetLastError(int iError) { SetError(iError); }
int wsock32_WSAGetLastError() { return LastError; }

FARPROC TarvoModuleProc(const char* name) {
  struct TEntry {
    const char* Name;
    FARPROC Proc;
  };
#define WSOCK32_ENTRY(n) \
  { #n, reinterpret_cast < FARPROC>(&wsock32_##n) }
  static const TEntry Entries[] = {
      WSOCK32_ENTRY(WSAStartup),
      WSOCK32_ENTRY(WSACleanup),
      WSOCK32_ENTRY(WSASetLastError),
      WSOCK32_ENTRY(WSAGetLastError),
      WSOCK32_ENTRY(WSACancelAsyncRequest),
      WSOCK32_ENTRY(WSAAsyncGetHostByName),
      WSOCK32_ENTRY(WSAAsyncGetHostByAddr),
      WSOCK32_ENTRY(WSAAsyncSelect),
      WSOCK32_ENTRY(getservbyname),
      WSOCK32_ENTRY(getprotobyname),
      WSOCK32_ENTRY(gethostbyname),
      WSOCK32_ENTRY(gethostname),
      WSOCK32_ENTRY(socket),
      WSOCK32_ENTRY(shutdown),
      WSOCK32_ENTRY(setsockopt),
      WSOCK32_ENTRY(sendto),
      WSOCK32_ENTRY(send),
      WSOCK32_ENTRY(recv),
      WSOCK32_ENTRY(recvfrom),
      WSOCK32_ENTRY(ntohs),
      WSOCK32_ENTRY(listen),
      WSOCK32_ENTRY(ioctlsocket),
      WSOCK32_ENTRY(inet_ntoa),
      WSOCK32_ENTRY(inet_addr),
      WSOCK32_ENTRY(htons),
      WSOCK32_ENTRY(getsockname),
      WSOCK32_ENTRY(getpeername),
      WSOCK32_ENTRY(connect),
      WSOCK32_ENTRY(closesocket),
      WSOCK32_ENTRY(bind),
      WSOCK32_ENTRY(accept),
  };
#undef WSOCK32_ENTRY
  if (!name) return nullptr;
  for (const TEntry& e : Entries)
    if (std::strcmp(e.Name, name) == 0) return e.Proc;
  return nullptr;
}

}  // extern "C"
