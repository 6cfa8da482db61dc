// Bad input: null pointers, invalid handles and bad indexes give the platform's errors, never a crash.
#include <gtest/gtest.h>

#include <thread>

#include "testutil.h"
#include "win32/win32.h"

namespace {
const HWND kBogus = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0xDEAD0));
const HWND kOdd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x12345));

template <class F>
DWORD ErrorOf(F f) {
  SetLastError(0);
  f();
  return GetLastError();
}
}  // namespace

TEST(BadInput, NullMessagePointers) {
  EXPECT_EQ(ErrorOf([] { EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE)); }), ERROR_NOACCESS);
  EXPECT_EQ(ErrorOf([] { EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1); }), ERROR_NOACCESS);
  EXPECT_EQ(ErrorOf([] { EXPECT_EQ(DispatchMessageA(nullptr), 0); }), ERROR_NOACCESS);
  EXPECT_FALSE(TranslateMessage(nullptr));
}

TEST(BadInput, InvalidWindowHandles) {
  for (HWND h : {kBogus, kOdd, reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))}) {
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(PostMessageA(h, WM_USER, 0, 0)); }), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 0); }), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(DestroyWindow(h)); }), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetWindowLongA(h, 0), 0); }), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(SetWindowLongA(h, 0, 1), 0); }), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetParent(h), nullptr); }), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetWindowThreadProcessId(h, nullptr), 0u); }), ERROR_INVALID_WINDOW_HANDLE);
    MSG m{};
    m.hwnd = h;
    m.message = WM_USER;
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(DispatchMessageA(&m), 0); }), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(MessageBoxA(h, "t", "c", MB_OK), 0); }), ERROR_INVALID_WINDOW_HANDLE);
  }
  // A window filter that names no window.
  MSG m;
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(PeekMessageA(&m, kBogus, 0, 0, PM_REMOVE)); }), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetMessageA(&m, kBogus, 0, 0), -1); }), ERROR_INVALID_WINDOW_HANDLE);
}

TEST(BadInput, BadIndexes) {
  w32test::Recorder r;
  HWND h = w32test::MakeWindow(&r);
  for (int index : {4, 8, 1, 3, -2, -5, -1000, 1 << 30}) {
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetWindowLongA(h, index), 0); }), ERROR_INVALID_INDEX) << index;
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(SetWindowLongA(h, index, 1), 0); }), ERROR_INVALID_INDEX) << index;
  }
  EXPECT_EQ(ErrorOf([&] { SetWindowLongA(h, GWL_HWNDPARENT, 1); }), ERROR_INVALID_INDEX);
  EXPECT_EQ(ErrorOf([&] { SetWindowLongA(h, GWL_WNDPROC, 0); }), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetWindowLongA(h, 0), reinterpret_cast<LONG_PTR>(&r)) << "the slot is untouched";
  DestroyWindow(h);
}

TEST(BadInput, ClassesAndCreation) {
  EXPECT_EQ(ErrorOf([] { EXPECT_EQ(RegisterClassA(nullptr), 0); }), ERROR_INVALID_PARAMETER);
  WNDCLASSA wc{};
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(RegisterClassA(&wc), 0); }), ERROR_INVALID_PARAMETER) << "no name";
  wc.lpszClassName = "W32BadClass";
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(RegisterClassA(&wc), 0); }), ERROR_INVALID_PARAMETER) << "no procedure";
  wc.lpfnWndProc = DefWindowProcA;
  wc.cbWndExtra = -4;
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(RegisterClassA(&wc), 0); }), ERROR_INVALID_PARAMETER) << "negative extra";
  WNDCLASSA got;
  EXPECT_EQ(ErrorOf([] { EXPECT_FALSE(GetClassInfoA(nullptr, "W32TestRecorder", nullptr)); }), ERROR_NOACCESS);
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(GetClassInfoA(nullptr, nullptr, &got)); }), ERROR_CLASS_DOES_NOT_EXIST);
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(GetClassInfoA(nullptr, "W32NoSuchClass", &got)); }),
            ERROR_CLASS_DOES_NOT_EXIST);
  EXPECT_EQ(ErrorOf([] { EXPECT_FALSE(UnregisterClassA("W32NoSuchClass", nullptr)); }), ERROR_CLASS_DOES_NOT_EXIST);
  EXPECT_EQ(ErrorOf([] { EXPECT_FALSE(UnregisterClassA(nullptr, nullptr)); }), ERROR_CLASS_DOES_NOT_EXIST);
  auto create = [](LPCSTR cls, HWND parent) {
    return CreateWindowExA(0, cls, nullptr, 0, 0, 0, 0, 0, parent, nullptr, nullptr, nullptr);
  };
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(create("W32NoSuchClass", nullptr), nullptr); }), ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(create(nullptr, nullptr), nullptr); }), ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(create(MAKEINTATOM(0x1234), nullptr), nullptr); }), ERROR_CANNOT_FIND_WND_CLASS);
  const char* cls = w32test::RecorderClass();
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(create(cls, kBogus), nullptr); }), ERROR_INVALID_WINDOW_HANDLE);
  // A parent of another thread.
  w32test::Recorder r;
  HWND mine = w32test::MakeWindow(&r);
  std::thread([&] {
    w32test::Recorder rr;
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(w32test::MakeWindow(&rr, mine, WS_CHILD), nullptr); }),
              ERROR_INVALID_WINDOW_HANDLE);
    // Destroying another thread's window is refused, as on the original platform.
    EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(DestroyWindow(mine)); }), ERROR_ACCESS_DENIED);
    MSG m{};
    m.hwnd = mine;
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(DispatchMessageA(&m), 0); }), ERROR_ACCESS_DENIED);
  }).join();
  EXPECT_TRUE(IsWindow(mine));
  DestroyWindow(mine);
}

TEST(BadInput, ThreadsAndModules) {
  EXPECT_EQ(ErrorOf([] { EXPECT_FALSE(PostThreadMessageA(0, WM_USER, 0, 0)); }), ERROR_INVALID_THREAD_ID);
  EXPECT_EQ(ErrorOf([] { EXPECT_FALSE(PostThreadMessageA(0xFFFFFFF0u, WM_USER, 0, 0)); }), ERROR_INVALID_THREAD_ID);
  EXPECT_EQ(ErrorOf([] { EXPECT_EQ(LoadLibraryA(nullptr), nullptr); }), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ErrorOf([] { EXPECT_EQ(LoadLibraryA(""), nullptr); }), ERROR_INVALID_PARAMETER);
  HMODULE bogus = reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0xBAD0));
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(FreeLibrary(bogus)); }), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(FreeLibrary(nullptr)); }), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetProcAddress(bogus, "x"), nullptr); }), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr); }), ERROR_INVALID_HANDLE);
  HMODULE program = GetModuleHandleA(nullptr);
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetProcAddress(program, nullptr), nullptr); }), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(GetProcAddress(program, ""), nullptr); }), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(ErrorOf([] { EXPECT_EQ(GetModuleHandleA(""), nullptr); }), ERROR_MOD_NOT_FOUND);
  SetModulePath(nullptr, "x");  // ignored
  SetModulePath("", nullptr);   // ignored
}

TEST(BadInput, MessageBoxTypes) {
  EXPECT_EQ(ErrorOf([] { EXPECT_EQ(MessageBoxA(nullptr, "t", "c", 0x0F), 0); }), ERROR_INVALID_PARAMETER);
}

TEST(BadInput, SuccessLeavesTheLastError) {
  w32test::Recorder r;
  HWND h = w32test::MakeWindow(&r);
  SetLastError(777);
  EXPECT_TRUE(PostMessageA(h, WM_USER, 0, 0));
  MSG m;
  EXPECT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  DispatchMessageA(&m);
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(GetWindowLongA(h, 0), reinterpret_cast<LONG_PTR>(&r));
  EXPECT_EQ(GetLastError(), 777u);
  DestroyWindow(h);
}
