// What the fuzz targets share: a DIVX decompressor begun for the programs' format (352 x 288, 24-bit bottom-up)
// that decodes from a buffer of the programs' size, and the check that ends every input: whatever came before,
// correct key frames decode again, to the picture that a fresh decompressor gives. The targets use one decoder
// for all inputs, as the programs do for all frames; since every input ends with the same key frames, each
// starts from the state that they leave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "divx.h"

namespace fuzz {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr size_t kImage = static_cast<size_t>(kWidth) * kHeight * 3;  // 304,128
constexpr size_t kBuffer = kImage + 64;                               // the programs' frame buffers

class TDecoder {
 public:
  TDecoder();
  TDecoder(const TDecoder&) = delete;
  TDecoder& operator=(const TDecoder&) = delete;
  // Decodes size bytes placed at the start of the input buffer, the buffer's other bytes kept from before (as
  // in the programs), at most the buffer's size. The codec's result.
  LRESULT Decode(const uint8_t* data, size_t size);
  const std::vector<uint8_t>& Picture() const { return FPicture; }

 private:
  TDivxDecoder FDecoder;
  BITMAPINFOHEADER FIn{}, FOut{};
  std::vector<uint8_t> FInput, FPicture;
};

// The targets' decoder, as the last input left it (the first input finds it after the closing key frames).
TDecoder& SharedDecoder();

// Aborts (the fuzzer's finding) unless two correct key frames, given to decoder now, decode, the second to the
// picture a fresh decompressor makes of it.
void RequireKeyFramesDecode(TDecoder& decoder);

}  // namespace fuzz
