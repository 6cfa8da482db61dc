// The stamp decoder that the paint log (gui/paintlog.h) uses to name the frame a picture shows. The capture
// and codec entry points install it, so every program of the suite that paints has it. Internal to
// platform/vfw.
#pragma once

#include <cstddef>
#include <cstdint>

#include "win32/types.h"

// As DecodeStamp, for a 24-bit picture given by its top row and the step from one row down to the next.
bool DecodeStampRows(const BYTE* topRow, ptrdiff_t rowStep, int w, int h, uint32_t& seq, uint32_t& ms);

// Installs the decoder once; the paint log then writes stamps as "<seq>:<ms>".
void InstallPaintStampDecoder();
