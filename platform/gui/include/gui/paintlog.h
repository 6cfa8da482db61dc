// The paint log: with TARVO_PAINT_LOG=FILE every SetDIBitsToDevice (gdi.h) appends one line to FILE,
//   <ms> <surface> <stamp>
// where <ms> is the monotonic clock in milliseconds (the clock of GetTickCount64), <surface> names what was
// painted (the form's Name for a form, Form.Control for a paint box, Form.ClassName for a child window made with
// CreateSurfaceWindow), and <stamp> is the test-pattern stamp the picture carries, or "-". Lines are written
// whole, also by several threads and processes at once. Nothing is done when the variable is unset.
//
// The stamp decoder lives above this layer (the capture layer knows the stamp); it installs itself here.
#pragma once

#include <string>

#include "win32/bitmap.h"

// Returns the stamp as one word (no blanks), or "" when the picture carries none. Called on the painting thread
// with the arguments SetDIBitsToDevice got.
using TPaintStampDecoder = std::string (*)(const BITMAPINFO* info, const void* bits, UINT startScan, UINT lines);
void SetPaintStampDecoder(TPaintStampDecoder decoder);  // nullptr removes it; any thread
