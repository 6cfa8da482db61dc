// Kernel subset: module loading, the per-thread last error, tick counts and sleeps.
// Used by the socket component (run-time binding of "wsock32.dll"), the programs' pacing, and every layer
// that reports errors the platform's way. Thread-safe throughout.
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
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

DWORD GetLastError();
void SetLastError(DWORD code);

// Loads a module by its platform name ("wsock32.dll"). The module name table maps such names to shared
// objects: first the path registered with SetModulePath, then the file next to the running program, then the
// dynamic linker's search path. A module that is already loaded (linked into the program, say) is the same
// copy: loading never creates a second instance of a library in the process. Reference counted.
HMODULE LoadLibraryA(LPCSTR name);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// nullptr gives the running program's handle; a name gives the handle of a loaded module or 0 (error 126).
HMODULE GetModuleHandleA(LPCSTR name);

// Extension for tests and packaging: point a platform module name at a shared object path (nullptr or ""
// forgets the entry). A path that does not exist makes LoadLibraryA fail with 126, as a missing DLL does.
void SetModulePath(LPCSTR name, LPCSTR path);

DWORD GetTickCount();  // milliseconds of a monotonic clock; wraps at 2^32
void Sleep(DWORD milliseconds);
DWORD GetCurrentThreadId();
