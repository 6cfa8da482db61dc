// The recording file of tarvorec: its layout and the little-endian fields it is made of. The recorder's capture
// callback writes it and the player thread reads it (Unit1.h, PlayThread.h); nothing else uses it.
//
//   offset 0   4 bytes   frame count: frames the driver delivered while recording (rewritten at the stop)
//   offset 4   FrameRecord x n, back to back, up to the end of the file
//
//   FrameRecord: S (4 bytes), S bytes of one compressed frame, FrameDelay (2 bytes)
//
// Every integer is unsigned and little-endian. There is no magic number, no version and no end marker: the
// frames are 352 x 288 DIVX by convention. The count may exceed the records: a frame that fails to compress is
// counted but leaves no record.
#pragma once

#include <cstdint>

#include "gui/streams.h"

namespace CaptureFile {
constexpr std::int64_t CountOffset = 0;
constexpr std::int32_t CountSize = 4;
constexpr std::int64_t FirstRecord = CountOffset + CountSize;
}  // namespace CaptureFile

namespace FrameRecord {
constexpr std::int32_t SizeSize = 4;
constexpr std::int32_t DelaySize = 2;
// No record holds more compressed bytes than the recorder's frame buffers (352 x 288 x 3 + 64).
constexpr std::uint32_t MaxData = 352u * 288u * 3u + 64u;
}  // namespace FrameRecord

// Milliseconds between a record and the one before it (or the start of the recording), modulo 65536.
using FrameDelay = std::uint16_t;
constexpr FrameDelay FrameDelayBetween(std::uint32_t nowTick, std::uint32_t lastTick) {
  return static_cast<FrameDelay>((nowTick - lastTick) & 0xFFFFu);
}

// Field writes and reads at the stream's position. A write returns the bytes written; a read is true only when
// the whole field was there, and leaves value untouched otherwise.
std::int32_t WriteLE32(TStream& stream, std::uint32_t value);
std::int32_t WriteLE16(TStream& stream, std::uint16_t value);
bool ReadLE32(TStream& stream, std::uint32_t& value);
bool ReadLE16(TStream& stream, std::uint16_t& value);

// One record read at the stream's position, as the player reads it: the size field into size, then (when it is
// at most FrameRecord::MaxData) that many bytes into buffer and the delay field into delay. A field that is not
// there leaves its variable as it was.
enum class TRecordRead {
  Whole,    // the record's bytes are all in buffer (there is at least one)
  Short,    // no bytes, or the file ends inside them: nothing in buffer to decode
  End,      // the file ends before the size field
  Damaged,  // a size no writer produces: the bytes are not read, and nothing after them can be trusted
};
TRecordRead ReadFrameRecord(TStream& stream, void* buffer, std::uint32_t& size, std::uint16_t& delay);
