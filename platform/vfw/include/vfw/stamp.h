// The test pattern's frame stamp: a frame's sequence number and capture time (milliseconds of CLOCK_MONOTONIC,
// modulo 2^32) written into the top rows of a picture as a coarse code of black and white 8 x 8 blocks, coarse
// enough to survive compression. Used by the test-pattern driver, the paint log and tests, to tell which frame
// a window shows and how late.
//
// Pictures are 24-bit BGR with bottom-up rows (the DIB layout, rows padded to 4 bytes). The code takes
// the top 16 rows of a picture 352 pixels wide (more rows when narrower; at least 160 x 64 pixels); it carries a
// check sum and must be clearly black and white, so a picture without a stamp decodes as none.
#pragma once

#include <cstdint>

#include "win32/types.h"

// Writes the stamp; does nothing to a picture too small to carry one.
void StampFrame(BYTE* bgrBottomUp, int w, int h, uint32_t seq, uint32_t ms);
// True when the picture carries a stamp; then seq and ms hold it.
bool DecodeStamp(const BYTE* bgrBottomUp, int w, int h, uint32_t& seq, uint32_t& ms);
