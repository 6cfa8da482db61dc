// The paint log: with TARVO_PAINT_LOG=FILE every SetDIBitsToDevice (gdi.h) appends one line to FILE,
//   <ms> <surface> <stamp>
// where <ms> is the monotonic clock in milliseconds (the clock of GetTickCount64), <surface> names what was
// painted (the form's Name for a form, Form.Control for a paint box, Form.ClassName for a child window made with
// CreateSurfaceWindow), and <stamp> is the test-pattern stamp the picture carries, or "-". Lines are written
// whole, also by several threads and processes at once. Nothing is done when the variable is unset.
//
// The stamp is a matter of the layer above, which makes the test pattern: the toolkit knows no stamp and reads
// none itself. That layer registers its decoder here (platform/vfw does when a program first opens the codec or
// makes a capture window, before it can paint a frame of its own); until then, and without one, <stamp> is "-".
#pragma once

#include <string>

#include "win32/bitmap.h"

// Returns the stamp as one word (no blanks), or "" when the picture carries none. Called on the painting thread,
// only while the log is on, with the arguments SetDIBitsToDevice got; it must not paint.
using TPaintStampDecoder = std::string (*)(const BITMAPINFO* info, const void* bits, UINT startScan, UINT lines);
// Registers the decoder: one at a time, a later registration replaces the earlier one, nullptr removes it. Any
// thread, also while others paint: each paint uses the decoder registered when it is logged.
void SetPaintStampDecoder(TPaintStampDecoder decoder);
