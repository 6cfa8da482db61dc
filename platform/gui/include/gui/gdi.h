// Device contexts and DIB drawing, as the programs and the capture layer call them. Every platform/win32 window
// that lives inside a form (the form's Handle and child windows created on it, such as a capture window) has a
// surface; GetDC gives a device context for it. SetDIBitsToDevice may be called from any thread: it copies the
// bits into the surface at once and asks the GUI thread for a repaint without waiting for it.
// With TARVO_PAINT_LOG=FILE every SetDIBitsToDevice appends a line to FILE (monotonic ms, surface, stamp).
#pragma once

#include "win32/bitmap.h"
#include "win32/types.h"

// A child window with a surface of its own, for layers below the toolkit's forms (the capture window): a
// platform/win32 window of the given (already registered) class, child of parent (a form's Handle or another
// such child), placed at x, y with size width x height in the parent's client coordinates and shown when style
// has WS_VISIBLE. Its messages go to its class's procedure as for any window; DestroyWindow removes the surface.
// A new surface, and one after ClearSurface, shows nothing: what lies beneath it shows through.
// Must be called on the GUI thread. 0 with last error 1400 for a parent that is not a form's window.
HWND CreateSurfaceWindow(LPCSTR className, DWORD style, int x, int y, int width, int height, HWND parent,
                         LPVOID param);
void ClearSurface(HWND hwnd);  // any thread

HDC GetDC(HWND hwnd);                // 0 (error 1400) for a window without a surface
int ReleaseDC(HWND hwnd, HDC dc);    // 1 when released
// 24-bit BI_RGB DIBs, bottom-up (biHeight > 0) or top-down; clipped to the surface. Returns the number of scan
// lines set, 0 on failure.
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT colorUse);
