// The library as the socket component reaches it: loaded by the name "wsock32.dll" and bound routine by
// routine with GetProcAddress. This program does not link libwsock32.so, so it calls nothing of the
// header's forwarders; everything goes through the bound addresses.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "win32/win32.h"
#include "wsock32/winsock.h"

namespace {

// Checks done() every 5 ms until it holds, for a minute at most: generous, for a loaded machine and a sanitizer
// build (this program has no test helpers of the layer's header: it binds the library by hand).
bool WaitUntil(const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > 60000) return false;
    Sleep(5);
  }
  return true;
}

const char* const Names[] = {
    "WSAStartup",
    "WSACleanup",
    "WSASetLastError",
    "WSAGetLastError",
    "WSACancelAsyncRequest",
    "WSAAsyncGetHostByName",
    "WSAAsyncGetHostByAddr",
    "WSAAsyncSelect",
    "getservbyname",
    "getprotobyname",
    "gethostbyname",
    "socket",
    "shutdown",
    "setsockopt",
    "sendto",
    "send",
    "recv",
    "recvfrom",
    "ntohs",
    "listen",
    "ioctlsocket",
    "inet_ntoa",
    "inet_addr",
    "htons",
    "getsockname",
    "getpeername",
    "connect",
    "closesocket",
    "bind",
    "accept",
    "gethostname",
};

using TModuleProc = FARPROC (*)(const char*);

// The threads of this process, from /proc.
int ThreadCount() {
  DIR* d = opendir("/proc/self/task");
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

// A joined thread may still be listed for a moment after the join returns.
int ThreadCountSettlingAt(int expected) {
  int n = ThreadCount();
  WaitUntil([&] { return (n = ThreadCount()) == expected; });
  return n;
}

class Loaded : public ::testing::Test {
 protected:
  void SetUp() override {
    Module = LoadLibraryA("wsock32.dll");
    ASSERT_NE(Module, nullptr) << "LoadLibraryA: " << GetLastError();
    // The library's own binding table is a plain export.
    Table = reinterpret_cast<TModuleProc>(GetProcAddress(Module, "TarvoModuleProc"));
    ASSERT_NE(Table, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (Module) {
      EXPECT_TRUE(FreeLibrary(Module));
    }
  }
  template <class F>
  F Bind(const char* name) {
    FARPROC p = GetProcAddress(Module, name);
    if (!p) p = Table(name);  // see BindsEveryRoutineByName for the loader's own answer
    return reinterpret_cast<F>(p);
  }
  HMODULE Module = nullptr;
  TModuleProc Table = nullptr;
};

TEST_F(Loaded, BindsEveryRoutineByName) {
  if (!GetProcAddress(Module, "WSAStartup"))
    GTEST_SKIP() << "the module loader of platform/win32 does not ask TarvoModuleProc yet";
  for (const char* name : Names) {
    SCOPED_TRACE(name);
    FARPROC fromTable = Table(name);
    EXPECT_NE(fromTable, nullptr);
    FARPROC fromLoader = GetProcAddress(Module, name);
    if (!fromLoader) {
      // The module loader must ask TarvoModuleProc; a plain symbol search finds only the C library's.
      ADD_FAILURE() << "GetProcAddress does not find " << name << " (error " << GetLastError() << ")";
      continue;
    }
    EXPECT_EQ(fromLoader, fromTable);
  }
  EXPECT_EQ(Table("Socket"), nullptr);  // names match exactly
  EXPECT_EQ(Table("WSAFDIsSet"), nullptr);
  EXPECT_EQ(Table(nullptr), nullptr);
}

TEST_F(Loaded, WorksThroughTheBoundAddresses) {
  auto startup = Bind<int (*)(WORD, LPWSADATA)>("WSAStartup");
  auto cleanup = Bind<int (*)()>("WSACleanup");
  auto lastError = Bind<int (*)()>("WSAGetLastError");
  auto open = Bind<SOCKET (*)(int, int, int)>("socket");
  auto bindTo = Bind<int (*)(SOCKET, const sockaddr*, int)>("bind");
  auto name = Bind<int (*)(SOCKET, sockaddr*, int*)>("getsockname");
  auto sendTo = Bind<int (*)(SOCKET, const char*, int, int, const sockaddr*, int)>("sendto");
  auto receive = Bind<int (*)(SOCKET, char*, int, int)>("recv");
  auto close = Bind<int (*)(SOCKET)>("closesocket");
  auto addr = Bind<ULONG (*)(const char*)>("inet_addr");
  ASSERT_TRUE(startup && cleanup && lastError && open && bindTo && name && sendTo && receive && close && addr);

  EXPECT_EQ(open(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
  EXPECT_EQ(lastError(), WSANOTINITIALISED);
  WSADATA d;
  ASSERT_EQ(startup(MAKEWORD(1, 1), &d), 0);
  SOCKET s = open(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = addr("127.0.0.1");
  ASSERT_EQ(bindTo(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  int len = sizeof a;
  ASSERT_EQ(name(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
  ASSERT_EQ(sendTo(s, "loop", 4, 0, reinterpret_cast<sockaddr*>(&a), sizeof a), 4);
  char buf[8];
  EXPECT_EQ(receive(s, buf, sizeof buf, 0), 4);
  EXPECT_EQ(std::string(buf, 4), "loop");
  EXPECT_EQ(close(s), 0);
  EXPECT_EQ(cleanup(), 0);
}

TEST_F(Loaded, NotificationsReachTheProgramsWindows) {
  auto startup = Bind<int (*)(WORD, LPWSADATA)>("WSAStartup");
  auto cleanup = Bind<int (*)()>("WSACleanup");
  auto open = Bind<SOCKET (*)(int, int, int)>("socket");
  auto select = Bind<int (*)(SOCKET, HWND, u_int, LONG)>("WSAAsyncSelect");
  auto close = Bind<int (*)(SOCKET)>("closesocket");
  ASSERT_TRUE(startup && cleanup && open && select && close);

  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "WsockLoadedTest";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, "WsockLoadedTest", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  WSADATA d;
  ASSERT_EQ(startup(MAKEWORD(1, 1), &d), 0);
  SOCKET s = open(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(select(s, w, WM_USER + 1, FD_WRITE), 0);
  MSG m{};
  bool got = false;
  WaitUntil([&] { return got = PeekMessageA(&m, w, WM_USER + 1, WM_USER + 1, PM_REMOVE); });
  ASSERT_TRUE(got);
  EXPECT_EQ(m.wParam, s);
  EXPECT_EQ(WSAGETSELECTEVENT(m.lParam), FD_WRITE);
  EXPECT_EQ(close(s), 0);
  EXPECT_EQ(cleanup(), 0);
  DestroyWindow(w);
}

TEST_F(Loaded, TheLastCleanupStopsEveryThreadOfTheLayer) {
  auto startup = Bind<int (*)(WORD, LPWSADATA)>("WSAStartup");
  auto cleanup = Bind<int (*)()>("WSACleanup");
  auto open = Bind<SOCKET (*)(int, int, int)>("socket");
  auto select = Bind<int (*)(SOCKET, HWND, u_int, LONG)>("WSAAsyncSelect");
  auto lookup = Bind<HANDLE (*)(HWND, u_int, const char*, char*, int)>("WSAAsyncGetHostByName");
  ASSERT_TRUE(startup && cleanup && open && select && lookup);

  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "WsockLoadedThreads";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, "WsockLoadedThreads", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  std::thread([] {}).join();  // a sanitizer's runtime starts its own helper thread with the first thread
  const int before = ThreadCount();
  WSADATA d;
  ASSERT_EQ(startup(MAKEWORD(1, 1), &d), 0);
  ASSERT_EQ(startup(MAKEWORD(1, 1), &d), 0);  // a second user, as the own-address helper is
  SOCKET s = open(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(select(s, w, WM_USER + 1, FD_READ | FD_WRITE), 0);
  alignas(8) char buf[MAXGETHOSTSTRUCT];
  ASSERT_NE(lookup(w, WM_USER + 2, "localhost", buf, sizeof buf), nullptr);
  MSG m{};
  bool replied = false;
  WaitUntil([&] { return replied = PeekMessageA(&m, w, WM_USER + 2, WM_USER + 2, PM_REMOVE); });
  EXPECT_TRUE(replied);
  EXPECT_GT(ThreadCount(), before) << "the notifier and a lookup worker run";

  EXPECT_EQ(cleanup(), 0);
  EXPECT_GT(ThreadCount(), before) << "not the last clean-up: the layer goes on";
  EXPECT_EQ(cleanup(), 0);
  EXPECT_EQ(ThreadCountSettlingAt(before), before) << "a thread of the layer outlived the last clean-up";
  DestroyWindow(w);
}

}  // namespace
