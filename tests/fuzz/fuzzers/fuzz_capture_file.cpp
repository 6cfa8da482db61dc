// Fuzz target: a recording file read record by record as the player reads it (ReadFrameRecord), each whole
// record decoded by the DIVX decompressor; then correct key frames must decode again (fuzz_support.h). Seeds:
// corpus/capture_file.
#include <algorithm>
#include <cstring>

#include "CaptureFile.h"
#include "fuzz_support.h"

namespace {

// The file's bytes as the player's stream.
class TBytesStream : public TStream {
 public:
  TBytesStream(const uint8_t* data, size_t size) : FData(data), FSize(static_cast<std::int64_t>(size)) {}
  std::int32_t Read(void* buffer, std::int32_t count) override {
    const std::int64_t n = std::clamp<std::int64_t>(FSize - FAt, 0, std::max(count, 0));
    std::memcpy(buffer, FData + FAt, static_cast<size_t>(n));
    FAt += n;
    return static_cast<std::int32_t>(n);
  }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t to = offset + (origin == soBeginning ? 0 : origin == soCurrent ? FAt : FSize);
    if (to < 0) return -1;
    FAt = to;
    return FAt;
  }
  void SetSize(std::int64_t) override {}

 private:
  const uint8_t* FData;
  std::int64_t FSize;
  std::int64_t FAt = 0;
};

// Enough positions for every kind of sequence; the player's own loop also stops at the count.
constexpr std::uint32_t kMaxPositions = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBytesStream stream(data, size);
  std::uint32_t count = 0;
  if (!ReadLE32(stream, count)) return 0;
  fuzz::TDecoder& decoder = fuzz::SharedDecoder();
  static std::vector<uint8_t> buffer(FrameRecord::MaxData);
  std::uint32_t S = 0;
  std::uint16_t delay = 0;
  for (std::uint32_t i = 1; i <= std::min(count, kMaxPositions); ++i) {
    const TRecordRead read = ReadFrameRecord(stream, buffer.data(), S, delay);
    if (read == TRecordRead::Damaged || read == TRecordRead::End) break;
    if (read == TRecordRead::Whole) decoder.Decode(buffer.data(), S);
  }
  fuzz::RequireKeyFramesDecode(decoder);
  return 0;
}
