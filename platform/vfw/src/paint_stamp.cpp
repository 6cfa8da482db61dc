// The paint log's stamp decoder (paint_stamp.h): whole 24-bit pictures only, as the programs paint them.
#include "paint_stamp.h"

#include <mutex>
#include <string>

#include "gui/paintlog.h"

namespace {

std::string StampText(const BITMAPINFO* info, const void* bits, UINT startScan, UINT lines) {
  if (!info || !bits) return {};
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biBitCount != 24 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0) return {};
  const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  if (startScan != 0 || lines < static_cast<UINT>(height)) return {};
  const ptrdiff_t stride = static_cast<ptrdiff_t>((static_cast<size_t>(h.biWidth) * 3 + 3) & ~size_t{3});
  const auto* data = static_cast<const BYTE*>(bits);
  const BYTE* top = h.biHeight > 0 ? data + stride * (height - 1) : data;
  uint32_t seq = 0, ms = 0;
  if (!DecodeStampRows(top, h.biHeight > 0 ? -stride : stride, h.biWidth, height, seq, ms)) return {};
  return std::to_string(seq) + ":" + std::to_string(ms);
}

}  // namespace

void InstallPaintStampDecoder() {
  static std::once_flag once;
  std::call_once(once, [] { SetPaintStampDecoder(&StampText); });
}
