// Fitting a captured picture to the format the program set: crop to the format's aspect ratio (centred),
// scale to its size, and write its depth and row order. Used by the V4L2 driver (camera pictures come as
// top-down BGR24 of the camera's size) and by the test pattern for formats other than 24-bit bottom-up.
// Internal to platform/vfw.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver.h"

struct SwsContext;

// The centred part of a w x h picture that has the aspect ratio of tw x th.
void CropToAspect(int w, int h, int tw, int th, int& x, int& y, int& cw, int& ch);

class TFrameConverter {
 public:
  TFrameConverter() = default;
  ~TFrameConverter();
  TFrameConverter(const TFrameConverter&) = delete;
  TFrameConverter& operator=(const TFrameConverter&) = delete;

  // src: the picture's top row, BGR24, srcStride bytes from one row down to the next (negative for a
  // bottom-up buffer). Writes exactly format.ImageSize() bytes to dst.
  bool Convert(const uint8_t* src, int w, int h, ptrdiff_t srcStride, uint8_t* dst, const TVideoFormat& format);

 private:
  SwsContext* FScaler = nullptr;
};
