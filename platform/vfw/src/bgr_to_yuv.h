// The DIVX compressor's colour conversion: a 24-bit BGR picture to the 4:2:0 planes the encoder takes, with
// studio-range BT.601 (luma 16-235, chroma 16-240) and each chroma sample the average of its 2 x 2 pixels, which
// is what the decompressor's replicating conversion restores best. 16-bit fixed point, within rounding of the
// exact values; the vector path and the plain one give the same bytes. Internal to platform/vfw (divx.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

struct TYuvPlanes {
  uint8_t* Y;
  uint8_t* U;
  uint8_t* V;
  ptrdiff_t YStride, UStride, VStride;
};

// Converts width x height pixels (both even, width > 0) of rows srcStride bytes apart (negative: the picture
// goes up in memory) starting at src, the picture's top row. Writes width x height luma bytes and
// width/2 x height/2 bytes of each chroma plane, nothing else.
void BgrToYuv420(const uint8_t* src, ptrdiff_t srcStride, int width, int height, const TYuvPlanes& out);

// The same with the plain path only, whatever the processor offers (for tests and benchmarks).
void BgrToYuv420Plain(const uint8_t* src, ptrdiff_t srcStride, int width, int height, const TYuvPlanes& out);
