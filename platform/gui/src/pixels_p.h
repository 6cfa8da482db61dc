// Inside the toolkit: the pixel conversion behind SetDIBitsToDevice. No Qt.
#pragma once

#include <cstdint>

namespace tarvo_gui {

// Converts count 24-bit pixels (blue, green, red in memory) into opaque 32-bit pixels 0xAARRGGBB with alpha
// 0xFF. Reads exactly 3 * count bytes and writes exactly count pixels.
void BgrRowToRgb32(const unsigned char* in, std::uint32_t* out, std::int64_t count);

}  // namespace tarvo_gui
