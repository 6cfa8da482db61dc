// Frames the vfw benchmarks share: camera-like pictures (the moving test pattern with sensor noise) in the
// programs' 352 x 288 24-bit bottom-up format, and the records that describe them.
#pragma once

#include <cstdint>
#include <vector>

#include "vfw/compman.h"

namespace vfwbench {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr size_t kImage = static_cast<size_t>(kWidth) * kHeight * 3;
constexpr size_t kBuffer = kImage + 64;
constexpr int kFrames = 125;  // one key frame and the frames up to the next, as the programs send them

const std::vector<std::vector<uint8_t>>& Pictures();
BITMAPINFO Record(DWORD compression);

}  // namespace vfwbench
