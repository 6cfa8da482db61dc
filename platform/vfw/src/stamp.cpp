// The frame stamp (vfw/stamp.h): 80 bits (sequence number, milliseconds, CRC-16 of both) as 8 x 8 cells,
// left to right and top to bottom from the picture's top left corner. Cells sit on the 8-pixel grid the codec
// transforms on, so that each is one flat block and survives coarse quantisation.
#include "vfw/stamp.h"

#include "paint_stamp.h"

namespace {

constexpr int kCell = 8;
constexpr int kBits = 80;
constexpr int kMinWidth = 160;
constexpr int kMinHeight = 64;

uint16_t Crc16(uint64_t payload) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < 8; ++i) {
    crc ^= static_cast<uint16_t>(static_cast<uint8_t>(payload >> (8 * i)) << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : crc << 1;
  }
  return crc;
}

ptrdiff_t Stride(int w) { return static_cast<ptrdiff_t>((static_cast<size_t>(w) * 3 + 3) & ~static_cast<size_t>(3)); }

bool Fits(int w, int h) { return w >= kMinWidth && h >= kMinHeight; }

// Cell i: its x and the row of its top pixels, counted from the picture's top.
void CellOrigin(int w, int i, int& x, int& top) {
  int perRow = w / kCell;
  x = (i % perRow) * kCell;
  top = (i / perRow) * kCell;
}

}  // namespace

void StampFrame(BYTE* bgrBottomUp, int w, int h, uint32_t seq, uint32_t ms) {
  if (!bgrBottomUp || !Fits(w, h)) return;
  uint64_t payload = static_cast<uint64_t>(seq) | (static_cast<uint64_t>(ms) << 32);
  uint16_t crc = Crc16(payload);
  uint8_t bits[10];
  for (int i = 0; i < 8; ++i) bits[i] = static_cast<uint8_t>(payload >> (8 * i));
  bits[8] = static_cast<uint8_t>(crc);
  bits[9] = static_cast<uint8_t>(crc >> 8);
  const ptrdiff_t stride = Stride(w);
  BYTE* topRow = bgrBottomUp + stride * (h - 1);
  for (int i = 0; i < kBits; ++i) {
    int x, top;
    CellOrigin(w, i, x, top);
    uint8_t v = ((bits[i / 8] >> (i % 8)) & 1) ? 255 : 0;
    for (int r = 0; r < kCell; ++r) {
      BYTE* row = topRow - (top + r) * stride + x * 3;
      for (int c = 0; c < kCell * 3; ++c) row[c] = v;
    }
  }
}

bool DecodeStampRows(const BYTE* topRow, ptrdiff_t rowStep, int w, int h, uint32_t& seq, uint32_t& ms) {
  if (!topRow || !Fits(w, h)) return false;
  uint8_t bits[10] = {};
  for (int i = 0; i < kBits; ++i) {
    int x, top;
    CellOrigin(w, i, x, top);
    // The cell's inner 4 x 4 pixels: its edges blur first under compression.
    unsigned sum = 0;
    for (int r = 2; r < 6; ++r) {
      const BYTE* row = topRow + (top + r) * rowStep + x * 3;
      for (int c = 2; c < 6; ++c) {
        const BYTE* p = row + c * 3;
        sum += p[0] + 2u * p[1] + p[2];
      }
    }
    unsigned luma = sum / (16 * 4);
    if (luma > 80 && luma < 176) return false;  // neither black nor white: no stamp here
    if (luma >= 176) bits[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  uint64_t payload = 0;
  for (int i = 0; i < 8; ++i) payload |= static_cast<uint64_t>(bits[i]) << (8 * i);
  uint16_t crc = static_cast<uint16_t>(bits[8] | (bits[9] << 8));
  if (crc != Crc16(payload)) return false;
  seq = static_cast<uint32_t>(payload);
  ms = static_cast<uint32_t>(payload >> 32);
  return true;
}

bool DecodeStamp(const BYTE* bgrBottomUp, int w, int h, uint32_t& seq, uint32_t& ms) {
  if (!bgrBottomUp || !Fits(w, h)) return false;
  const ptrdiff_t stride = Stride(w);
  return DecodeStampRows(bgrBottomUp + stride * (h - 1), -stride, w, h, seq, ms);
}
