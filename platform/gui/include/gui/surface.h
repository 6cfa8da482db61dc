// Reading back what a surface holds, for tests of the layers that paint with SetDIBitsToDevice (gdi.h): a
// device context's pixel as the platform's colour value. Any thread.
#pragma once

#include "win32/types.h"

using COLORREF = DWORD;  // 0x00BBGGRR
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}

// The pixel at x, y of the device context's surface (origin: the DC's origin); CLR_INVALID outside the surface
// or where nothing has been painted since it was made or cleared.
COLORREF GetPixel(HDC dc, int x, int y);
