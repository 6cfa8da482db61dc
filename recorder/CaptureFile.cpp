// The recording file's fields (CaptureFile.h): explicit byte order, whatever the machine's.
#include "CaptureFile.h"

std::int32_t WriteLE32(TStream& stream, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return stream.Write(bytes, sizeof bytes);
}

std::int32_t WriteLE16(TStream& stream, std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
  return stream.Write(bytes, sizeof bytes);
}

bool ReadLE32(TStream& stream, std::uint32_t& value) {
  std::uint8_t bytes[4];
  if (stream.Read(bytes, sizeof bytes) != sizeof bytes) return false;
  value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
          static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return true;
}

bool ReadLE16(TStream& stream, std::uint16_t& value) {
  std::uint8_t bytes[2];
  if (stream.Read(bytes, sizeof bytes) != sizeof bytes) return false;
  value = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
  return true;
}

TRecordRead ReadFrameRecord(TStream& stream, void* buffer, std::uint32_t& size, std::uint16_t& delay) {
  if (!ReadLE32(stream, size)) return TRecordRead::End;
  if (size > FrameRecord::MaxData) return TRecordRead::Damaged;
  const bool whole = size > 0 && stream.Read(buffer, static_cast<std::int32_t>(size)) == static_cast<std::int32_t>(size);
  ReadLE16(stream, delay);
  return whole ? TRecordRead::Whole : TRecordRead::Short;
}
