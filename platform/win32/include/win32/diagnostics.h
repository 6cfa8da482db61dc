// The platform's one policy for runs without a person at the screen and its one channel for diagnostics.
// Every layer (win32's message boxes, the GUI toolkit's file dialogs, the capture and codec dialogs, the socket
// library's error translation) decides and reports through these two functions, so that scripts and
// end-to-end tests see one rule and one line format. Thread-safe; C linkage and exported by every program, like
// the rest of platform/win32, so that shared objects (libwsock32.so) reach the program's copy.
#pragma once

#include "win32/types.h"

extern "C" {

// Extension: TRUE when TARVO_UNATTENDED is exactly "1". Then no modal box or dialog of any layer appears: each
// writes its line through WriteDiagnosticLine and answers with its default. Read at every call, so a test may
// change it between boxes.
BOOL Unattended();

// Extension: writes one line to standard error in a single write, so that lines of several threads never
// interleave. The line break that ends it is added unless `line` ends with one already; nullptr writes nothing.
void WriteDiagnosticLine(LPCSTR line);

}  // extern "C"
