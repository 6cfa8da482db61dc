// Basic types, handles and calling conventions of the Windows-style platform the suite is written against.
// Used by every platform layer and by the programs. No Qt, no Linux types leak through here.
//
// 64-bit: handles, WPARAM, LPARAM, LRESULT and the pointer-holding window slots are pointer-sized here,
// where the original platform had 32 bits. Fixed-width types (BYTE, WORD, DWORD, LONG, UINT) keep their
// original widths, so every wire and file format keeps its byte layout.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using CHAR = char;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Opaque handle types: distinct pointer types, as on the original platform.
#define TARVO_DECLARE_HANDLE(name) \
  struct name##__;                 \
  using name = name##__*
TARVO_DECLARE_HANDLE(HWND);
TARVO_DECLARE_HANDLE(HINSTANCE);
TARVO_DECLARE_HANDLE(HICON);
TARVO_DECLARE_HANDLE(HBRUSH);
TARVO_DECLARE_HANDLE(HMENU);
TARVO_DECLARE_HANDLE(HDC);
#undef TARVO_DECLARE_HANDLE
using HMODULE = HINSTANCE;
using HCURSOR = HICON;
using HANDLE = void*;

// An entry point of unknown type, cast by the caller to the real one. void(*)() rather than the original's
// INT_PTR(*)(), because it is the one function pointer type that GCC's -Wcast-function-type (in -Wextra)
// lets a caller cast to any other.
using FARPROC = void (*)();

struct POINT {
  LONG x;
  LONG y;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

constexpr WORD LOWORD(DWORD_PTR v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(DWORD_PTR v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr DWORD MAKELONG(WORD lo, WORD hi) { return static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16); }
constexpr WORD MAKEWORD(BYTE lo, BYTE hi) { return static_cast<WORD>(lo | (hi << 8)); }
constexpr BYTE LOBYTE(WORD v) { return static_cast<BYTE>(v & 0xFF); }
constexpr BYTE HIBYTE(WORD v) { return static_cast<BYTE>(v >> 8); }
