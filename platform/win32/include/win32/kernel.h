// Kernel subset: module loading, the per-thread last error, tick counts and sleeps.
// Used by the socket component (run-time binding of "wsock32.dll"), the programs' pacing, and every layer
// that reports errors the platform's way. Thread-safe throughout.
//
// The functions have C linkage, as on the original platform. They live in the static library tarvo_win32,
// which is linked into executables only; shared objects (libwsock32.so) leave them undefined and bind to the
// program's copy, which tarvo_win32 makes every executable export (see platform/win32/CMakeLists.txt).
// A successful call leaves the last error as it was unless its description says otherwise.
#pragma once

#include "win32/types.h"

// Last-error numbers that these functions and the window functions report.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_NOACCESS = 998;  // a required pointer argument is null
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

constexpr DWORD INFINITE = 0xFFFFFFFF;

extern "C" {

DWORD GetLastError();
void SetLastError(DWORD code);

// Loads a module by its platform name ("wsock32.dll"). Names compare without case. The module name table
// maps "wsock32.dll" to libwsock32.so; any other "NAME.dll" (or a bare NAME) to libNAME.so; a name that
// contains a '/' or ends in ".so" is taken as the shared object's own name. The shared object is looked for
//   1. at the path registered with SetModulePath, or else in the environment variable
//      TARVO_MODULE_PATH_<name> (the lower-case name with every character other than a letter or digit
//      written '_': TARVO_MODULE_PATH_wsock32_dll); a registered path is used alone;
//   2. among the objects already loaded (linked into the program, say), by its file name;
//   3. next to the running program (the folder of /proc/self/exe);
//   4. through the dynamic linker's search path.
// A module that is already loaded is the same copy: loading never creates a second instance of a library
// in the process. Reference counted; the handle is the dlopen handle. Errors: 126 not found (also when a
// library it needs is missing), 193 not a loadable shared object, 87 a null or empty name.
HMODULE LoadLibraryA(LPCSTR name);
// Errors: 6 a handle that no LoadLibraryA/GetModuleHandleA gave (or that has been freed completely).
BOOL FreeLibrary(HMODULE module);
// Finds an entry point of the module itself (never one of the libraries it uses: libc's socket is not
// wsock32's). A module that defines the C function `FARPROC TarvoModuleProc(const char* name)` (its binding
// table; libwsock32.so does, and exports its routines under prefixed names only) is asked first; otherwise,
// or when it answers nullptr, the module's own exported symbol of that name. Errors: 127 when there is none
// (ordinals, names below 0x10000, are not supported: 127), 6 a bad handle. For the program's handle
// (GetModuleHandleA(nullptr)) only the program's own exported symbols count.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// nullptr gives the running program's handle; a name gives the handle of a loaded module or 0 (error 126).
// The reference count is not changed, as on the original platform.
HMODULE GetModuleHandleA(LPCSTR name);

// Extension for tests and packaging: point a platform module name at a shared object path (nullptr or ""
// forgets the entry). A path that does not exist makes LoadLibraryA fail with 126, as a missing DLL does.
void SetModulePath(LPCSTR name, LPCSTR path);

DWORD GetTickCount();  // milliseconds of a monotonic clock (CLOCK_MONOTONIC); wraps at 2^32
std::uint64_t GetTickCount64();  // the same clock without the wrap
void Sleep(DWORD milliseconds);  // 0 yields the processor; INFINITE never returns
DWORD GetCurrentThreadId();      // the kernel's thread id (gettid)
DWORD GetCurrentProcessId();

}  // extern "C"
