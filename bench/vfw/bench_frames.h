// Frames the vfw benchmarks share: camera-like pictures (the moving test pattern with sensor noise) in the
// programs' 352 x 288 24-bit bottom-up format, and the records that describe them.
#pragma once

#include <cstdint>
#include <vector>

#include "vfw/compman.h"

namespace vfwbench {

constexpr int KWidth = 352;
constexpr int KHeight = 288;
constexpr size_t KImage = static_cast<size_t>(KWidth) * KHeight * 3;
constexpr size_t KBuffer = KImage + 64;
constexpr int KFrames = 125;  // one key frame and the frames up to the next, as the programs send them

const std::vector<std::vector<uint8_t>>& Pictures();
BITMAPINFO Record(DWORD compression);

}  // namespace vfwbench
