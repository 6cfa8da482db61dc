// The benchmarks' pictures (bench_frames.h).
#include "bench_frames.h"

#include <random>

#include "driver.h"

namespace vfwbench {

const std::vector<std::vector<uint8_t>>& Pictures() {
  static const std::vector<std::vector<uint8_t>> pictures = [] {
    std::vector<std::vector<uint8_t>> p(kFrames, std::vector<uint8_t>(kBuffer));
    std::mt19937 random(5);
    for (int n = 0; n < kFrames; ++n) {
      RenderPattern(p[n].data(), kWidth, kHeight, static_cast<uint32_t>(n + 1), static_cast<uint32_t>(n * 40));
      for (size_t i = 0; i < kImage; ++i) {
        int v = p[n][i] + static_cast<int>(random() % 9) - 4;
        p[n][i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
    return p;
  }();
  return pictures;
}

BITMAPINFO Record(DWORD compression) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = 40;
  bi.bmiHeader.biWidth = kWidth;
  bi.bmiHeader.biHeight = kHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = compression;
  bi.bmiHeader.biSizeImage = static_cast<DWORD>(kImage);
  return bi;
}

}  // namespace vfwbench
