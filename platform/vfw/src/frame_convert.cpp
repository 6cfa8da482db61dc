// Crop, scale, depth and row order of captured pictures (frame_convert.h), through libswscale.
#include "frame_convert.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstring>

void CropToAspect(int w, int h, int tw, int th, int& x, int& y, int& cw, int& ch) {
  // Compare w/h with tw/th without rounding: w * th against h * tw.
  const int64_t a = static_cast<int64_t>(w) * th;
  const int64_t b = static_cast<int64_t>(h) * tw;
  cw = w;
  ch = h;
  if (a > b) cw = static_cast<int>((b + th / 2) / th);  // too wide: keep the middle columns
  else if (a < b) ch = static_cast<int>((a + tw / 2) / tw);  // too tall: keep the middle rows
  if (cw < 1) cw = 1;
  if (ch < 1) ch = 1;
  x = (w - cw) / 2;
  y = (h - ch) / 2;
}

TFrameConverter::~TFrameConverter() { sws_freeContext(FScaler); }

bool TFrameConverter::Convert(const uint8_t* src, int w, int h, ptrdiff_t srcStride, uint8_t* dst,
                              const TVideoFormat& format) {
  if (!src || !dst || w <= 0 || h <= 0) return false;
  int x, y, cw, ch;
  CropToAspect(w, h, format.Width, format.Height, x, y, cw, ch);
  const uint8_t* from = src + y * srcStride + static_cast<ptrdiff_t>(x) * 3;

  const ptrdiff_t dstStride = static_cast<ptrdiff_t>(format.Stride());
  uint8_t* to = dst;
  ptrdiff_t toStride = dstStride;
  if (!format.TopDown) {  // bottom-up: the top row is the last in memory
    to = dst + dstStride * (format.Height - 1);
    toStride = -dstStride;
  }
  // Row padding must not carry stale bytes.
  const size_t rowBytes = static_cast<size_t>(format.Width) * static_cast<size_t>(format.BitCount / 8);
  if (rowBytes != format.Stride())
    for (int r = 0; r < format.Height; ++r) std::memset(dst + r * dstStride + rowBytes, 0, format.Stride() - rowBytes);

  if (cw == format.Width && ch == format.Height && format.BitCount == 24) {
    for (int r = 0; r < ch; ++r) std::memcpy(to + r * toStride, from + r * srcStride, rowBytes);
    return true;
  }
  const AVPixelFormat outFormat = format.BitCount == 32 ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_BGR24;
  FScaler = sws_getCachedContext(FScaler, cw, ch, AV_PIX_FMT_BGR24, format.Width, format.Height, outFormat,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!FScaler) return false;
  const uint8_t* srcPlanes[4] = {from, nullptr, nullptr, nullptr};
  const int srcStrides[4] = {static_cast<int>(srcStride), 0, 0, 0};
  uint8_t* dstPlanes[4] = {to, nullptr, nullptr, nullptr};
  const int dstStrides[4] = {static_cast<int>(toStride), 0, 0, 0};
  sws_scale(FScaler, srcPlanes, srcStrides, 0, ch, dstPlanes, dstStrides);
  return true;
}
