// LoadLibraryA, GetProcAddress, FreeLibrary and GetModuleHandleA over dlopen, and the module name table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "testutil.h"
#include "win32/win32.h"

extern "C" int W32LinkedCounter();

namespace {

struct ModulePathGuard {
  const char* name;
  ~ModulePathGuard() { SetModulePath(name, nullptr); }
};

}  // namespace

TEST(Modules, MissingModuleGives126) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("tarvo_no_such_module.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Modules, RegisteredPathThatDoesNotExistGives126) {
  ModulePathGuard g{"wsock32.dll"};
  SetModulePath("wsock32.dll", "/nonexistent/folder/libwsock32.so");
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("wsock32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("WSOCK32.DLL"), nullptr) << "names compare without case";
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Modules, EnvironmentVariablePointsAModuleElsewhere) {
  ASSERT_EQ(setenv("TARVO_MODULE_PATH_wsock32_dll", "/nonexistent/libwsock32.so", 1), 0);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("wsock32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  unsetenv("TARVO_MODULE_PATH_wsock32_dll");
}

TEST(Modules, LibraryWithoutTheEntryPointGives127) {
  ModulePathGuard g{"wsock32.dll"};
  SetModulePath("wsock32.dll", W32_NOENTRY_PATH);
  HMODULE m = LoadLibraryA("wsock32.dll");
  ASSERT_NE(m, nullptr) << GetLastError();
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(m, "WSAStartup"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  // libc defines "socket"; the module itself does not, so the platform finds nothing.
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(m, "socket"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(m, reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(3))), nullptr) << "ordinal";
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  auto present = reinterpret_cast<int (*)()>(GetProcAddress(m, "W32NoEntryPresent"));
  ASSERT_NE(present, nullptr);
  EXPECT_EQ(present(), 42);
  EXPECT_TRUE(FreeLibrary(m));
}

TEST(Modules, AModuleWithABindingTableAnswersThroughIt) {
  ModulePathGuard g{"wsock32.dll"};
  SetModulePath("wsock32.dll", W32_TABLE_PATH);
  HMODULE m = LoadLibraryA("wsock32.dll");
  ASSERT_NE(m, nullptr) << GetLastError();
  auto sock = reinterpret_cast<int (*)()>(GetProcAddress(m, "socket"));
  ASSERT_NE(sock, nullptr);
  EXPECT_EQ(sock(), 1001) << "the table's routine, not libc's socket";
  auto plain = reinterpret_cast<int (*)()>(GetProcAddress(m, "W32TablePlain"));
  ASSERT_NE(plain, nullptr) << "the module's own export, when the table does not know the name";
  EXPECT_EQ(plain(), 1002);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(m, "bind"), nullptr) << "neither in the table nor exported by the module";
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(m));
}

TEST(Modules, TheProgramsOwnExports) {
  HMODULE program = GetModuleHandleA(nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(program, "PostMessageA")), reinterpret_cast<void*>(&PostMessageA));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(program, "socket"), nullptr) << "libc's, not the program's";
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

// Shared objects bind to the program's copy of the platform; exports.dynlist must name every function.
TEST(Modules, TheProgramExportsEveryPlatformFunction) {
  const char* names[] = {"GetLastError", "SetLastError", "LoadLibraryA", "FreeLibrary", "GetProcAddress",
                         "GetModuleHandleA", "SetModulePath", "GetTickCount", "GetTickCount64", "Sleep",
                         "GetCurrentThreadId", "GetCurrentProcessId", "RegisterClassA", "GetClassInfoA",
                         "UnregisterClassA", "CreateWindowExA", "DestroyWindow", "IsWindow", "GetParent",
                         "GetWindowThreadProcessId", "SetWindowLongA", "GetWindowLongA", "PostMessageA",
                         "PostMessageOnceA", "PostThreadMessageA", "PostQuitMessage", "PeekMessageA", "GetMessageA",
                         "TranslateMessage", "DispatchMessageA", "SendMessageA", "DefWindowProcA", "QueueEventFd",
                         "MessageBoxA", "SetMessageBoxPresenter", "Unattended", "WriteDiagnosticLine"};
  HMODULE program = GetModuleHandleA(nullptr);
  for (const char* name : names) EXPECT_NE(GetProcAddress(program, name), nullptr) << name;
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(program, "main"), nullptr) << "nothing else of the program is exported";
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST(Modules, LastErrorOfModulesIsPerThread) {
  SetLastError(5);
  std::thread([] { EXPECT_EQ(LoadLibraryA("tarvo_no_such_module.dll"), nullptr); }).join();
  EXPECT_EQ(GetLastError(), 5u);
}

TEST(Modules, NotASharedObjectGives193) {
  ModulePathGuard g{"broken.dll"};
  SetModulePath("broken.dll", W32_NOT_ELF_PATH);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("broken.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
}

TEST(Modules, ModuleNextToTheProgramIsFoundWithoutCase) {
  HMODULE a = LoadLibraryA("W32Beside.DLL");
  ASSERT_NE(a, nullptr) << GetLastError();
  HMODULE b = LoadLibraryA("w32beside");
  EXPECT_EQ(a, b) << "one copy";
  auto f = reinterpret_cast<int (*)()>(GetProcAddress(a, "W32BesideValue"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f(), 7);
  EXPECT_EQ(GetModuleHandleA("w32beside.dll"), a);
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_TRUE(FreeLibrary(a));
}

TEST(Modules, ALinkedLibraryIsTheSameCopy) {
  HMODULE m = LoadLibraryA("w32linked.dll");
  ASSERT_NE(m, nullptr) << GetLastError();
  auto f = reinterpret_cast<int (*)()>(GetProcAddress(m, "W32LinkedCounter"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(f), reinterpret_cast<void*>(&W32LinkedCounter));
  int before = W32LinkedCounter();
  EXPECT_EQ(f(), before + 1) << "one set of statics";
  EXPECT_EQ(GetModuleHandleA("W32LINKED.dll"), m);
  EXPECT_TRUE(FreeLibrary(m));
  EXPECT_NE(GetModuleHandleA("w32linked.dll"), nullptr) << "still linked";
}

TEST(Modules, ProgramHandleAndUnknownModules) {
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
  EXPECT_EQ(GetModuleHandleA(nullptr), GetModuleHandleA(nullptr));
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("tarvo_not_loaded.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(GetModuleHandleA(nullptr))) << "the program is never unloaded";
}

TEST(Modules, ReferenceCounted) {
  HMODULE a = LoadLibraryA("w32beside.dll");
  HMODULE b = LoadLibraryA("w32beside.dll");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a, b);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_NE(GetProcAddress(b, "W32BesideValue"), nullptr) << "one reference left";
  EXPECT_TRUE(FreeLibrary(b));
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(b)) << "no reference left";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// The way libwsock32.so reaches the program's windows: it calls PostMessageA without linking tarvo_win32.
TEST(Modules, LoadedModuleBindsToTheProgramsWindows) {
  w32test::Recorder r;
  HWND h = w32test::MakeWindow(&r);
  ASSERT_NE(h, nullptr);
  HMODULE m = LoadLibraryA(W32_POSTER_PATH);
  ASSERT_NE(m, nullptr) << GetLastError() << " " << dlerror();
  auto post = reinterpret_cast<BOOL (*)(HWND, UINT, WPARAM, LPARAM)>(GetProcAddress(m, "W32PosterPost"));
  auto isWindow = reinterpret_cast<BOOL (*)(HWND)>(GetProcAddress(m, "W32PosterIsWindow"));
  ASSERT_NE(post, nullptr);
  ASSERT_NE(isWindow, nullptr);
  EXPECT_TRUE(isWindow(h));
  std::thread([&] { EXPECT_TRUE(post(h, WM_USER + 1, 11, 22)); }).join();
  w32test::Pump();
  ASSERT_EQ(r.Count(WM_USER + 1), 1u);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_FALSE(isWindow(h));
  EXPECT_TRUE(FreeLibrary(m));
}
