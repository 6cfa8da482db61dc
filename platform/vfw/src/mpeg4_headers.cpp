// Reading the stream headers in front of an MPEG-4 Part 2 picture (see mpeg4_headers.h). Only the fields that
// decide how a decoder sets itself up are read; a header is judged by what the DIVX encoder writes: the simple
// profile (profile and level 1 to 8), a video object of the simple object type, version 1 tools, 4:2:0,
// rectangular, progressive, no sprites, 8-bit samples, H.263 quantisation, and the caller's size.
#include "mpeg4_headers.h"

namespace {

// Start codes, the byte after 00 00 01.
constexpr uint8_t kVideoObjectLast = 0x1F;  // 00..1F: video object (no payload)
constexpr uint8_t kLayerFirst = 0x20;       // 20..2F: video object layer
constexpr uint8_t kLayerLast = 0x2F;
constexpr uint8_t kSequence = 0xB0;  // visual object sequence: profile and level
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kGroup = 0xB3;         // group of pictures: a time code
constexpr uint8_t kVisualObject = 0xB5;  // visual object: its type

constexpr int kSimpleProfileFirst = 0x01;
constexpr int kSimpleProfileLast = 0x08;
constexpr unsigned kVideoType = 1;          // visual object type: video
constexpr unsigned kSimpleObject = 1;       // video object type indication
constexpr unsigned kVersion1 = 1;           // object layer verid
constexpr unsigned kChroma420 = 1;
constexpr unsigned kRectangular = 0;
constexpr unsigned kExtendedAspect = 15;    // followed by its own width and height

// Reads bits most significant first; past the end it reads zeros and says so in Short().
class TBits {
 public:
  TBits(const uint8_t* data, size_t size) : FData(data), FBits(size * 8) {}
  unsigned Read(int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i, ++FAt)
      v = v << 1 | (FAt < FBits ? (FData[FAt / 8] >> (7 - FAt % 8)) & 1u : 0u);
    return v;
  }
  void Skip(int n) { FAt += static_cast<size_t>(n); }
  bool Short() const { return FAt > FBits; }

 private:
  const uint8_t* FData;
  size_t FBits;
  size_t FAt = 0;
};

bool VisualObjectOk(TBits bits) {
  if (bits.Read(1)) {  // is_visual_object_identifier
    if (bits.Read(4) != kVersion1) return false;
    bits.Skip(3);  // priority
  }
  return bits.Read(4) == kVideoType && !bits.Short();
}

bool LayerOk(TBits bits, int width, int height) {
  bits.Skip(1);  // random_accessible_vol
  if (bits.Read(8) != kSimpleObject) return false;
  if (bits.Read(1)) {  // is_object_layer_identifier
    if (bits.Read(4) != kVersion1) return false;
    bits.Skip(3);  // priority
  }
  if (bits.Read(4) == kExtendedAspect) bits.Skip(16);
  if (bits.Read(1)) {  // vol_control_parameters
    if (bits.Read(2) != kChroma420) return false;
    bits.Skip(1);                   // low_delay
    if (bits.Read(1)) bits.Skip(79);  // vbv_parameters: bit rate, buffer size, occupancy and their markers
  }
  if (bits.Read(2) != kRectangular) return false;
  bits.Skip(1);
  const unsigned resolution = bits.Read(16);  // vop_time_increment_resolution
  if (resolution == 0) return false;
  bits.Skip(1);
  if (bits.Read(1)) {  // fixed_vop_rate: an increment of as many bits as the resolution needs
    int n = 1;
    while ((1u << n) < resolution) ++n;
    bits.Skip(n);
  }
  bits.Skip(1);
  const unsigned w = bits.Read(13);
  bits.Skip(1);
  const unsigned h = bits.Read(13);
  bits.Skip(1);
  if (w != static_cast<unsigned>(width) || h != static_cast<unsigned>(height)) return false;
  const unsigned interlaced = bits.Read(1);
  bits.Skip(1);  // obmc_disable
  const unsigned sprite = bits.Read(1);
  const unsigned not8Bit = bits.Read(1);
  const unsigned mpegQuant = bits.Read(1);
  return !interlaced && !sprite && !not8Bit && !mpegQuant && !bits.Short();
}

// The start code at or after from, below end; end when there is none.
size_t StartCodeAt(const uint8_t* data, size_t from, size_t end) {
  for (size_t i = from; i + 3 <= end; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
  return end;
}

}  // namespace

TMpeg4StreamHeaders ReadMpeg4StreamHeaders(const uint8_t* data, size_t picture, int width, int height) {
  TMpeg4StreamHeaders headers;
  const size_t first = StartCodeAt(data, 0, picture);
  for (size_t at = first; at < picture;) {
    if (at + 4 > picture) return headers;  // a start code whose kind is the next one's start
    const size_t next = StartCodeAt(data, at + 4, picture);
    const uint8_t code = data[at + 3];
    const uint8_t* payload = data + at + 4;
    const size_t size = next - at - 4;
    bool ok = true;
    if (code >= kLayerFirst && code <= kLayerLast) {
      ok = LayerOk(TBits(payload, size), width, height);
      headers.HasLayer = true;
    } else if (code == kSequence) {
      ok = size >= 1 && payload[0] >= kSimpleProfileFirst && payload[0] <= kSimpleProfileLast;
    } else if (code == kVisualObject) {
      ok = VisualObjectOk(TBits(payload, size));
    } else if (code > kVideoObjectLast && code != kUserData && code != kGroup) {
      ok = false;  // a kind of unit the encoder never writes
    }
    if (!ok) return headers;
    if (code != kGroup) headers.State.insert(headers.State.end(), data + at, data + next);
    at = next;
  }
  // Every unit in front of a picture belongs to a stream's start, which names its layer: units without one would
  // change a decoder (its profile, its time base, what its user data says of the encoder) without a restart.
  headers.Acceptable = first == picture || headers.HasLayer;
  return headers;
}
