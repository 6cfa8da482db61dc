// Fuzz target: one frame, as the receiver gathers it from the network, through the DIVX decompressor of the
// programs' format; then correct key frames must decode again (fuzz_support.h). Seeds: corpus/divx_decoder.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TDecoder& decoder = fuzz::SharedDecoder();
  decoder.Decode(data, size);
  // The receiver decodes a frame again for every datagram that lands behind it.
  decoder.Decode(data, size);
  fuzz::RequireKeyFramesDecode(decoder);
  return 0;
}
