// The picture a capture window's preview shows when its driver fails: the reason, drawn in white on black, in
// place of the live picture. Internal to platform/vfw (capture_window.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A 24-bit bottom-up DIB of width x height (rows padded to 4 bytes) with text centred and wrapped. False, and
// nothing drawn, without a GUI application to draw text with.
bool DrawFailurePicture(const std::string& text, int width, int height, std::vector<uint8_t>& dib);
