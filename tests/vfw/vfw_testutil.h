// Helpers of the capture and codec tests: the programs' format records, pattern pictures, PSNR, and a codec
// session that compresses a run of frames.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "divx.h"
#include "driver.h"
#include "vfw/compman.h"

namespace vfwtest {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr size_t kImage = static_cast<size_t>(kWidth) * kHeight * 3;  // 304,128
constexpr size_t kBuffer = kImage + 64;                               // the programs' frame buffers
constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

inline BITMAPINFO Record(DWORD compression, int w = kWidth, int h = kHeight) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = 40;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = compression;
  bi.bmiHeader.biSizeImage = static_cast<DWORD>(w * (h < 0 ? -h : h) * 3);
  return bi;
}

inline std::vector<uint8_t> Pattern(uint32_t seq, uint32_t ms = 0, int w = kWidth, int h = kHeight) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3 + 64);
  RenderPattern(p.data(), w, h, seq, ms);
  return p;
}

inline double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(n)));
}

struct TFrame {
  std::vector<uint8_t> Bytes;
  bool Key = false;
};

// Compresses pattern frames 1..count on an open handle, key frames where keyAt(n) says.
template <class TKeyRule>
std::vector<TFrame> CompressPattern(HIC hic, uint32_t count, TKeyRule keyAt, uint32_t firstSeq = 1) {
  BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
  EXPECT_EQ(ICCompressBegin(hic, &in, &out), ICERR_OK);
  std::vector<uint8_t> buffer(kBuffer);
  std::vector<TFrame> frames;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t n = firstSeq + i;  // wraps as the programs' counts do
    std::vector<uint8_t> picture = Pattern(n, n * 40);
    DWORD flags = 0;
    DWORD result = ICCompress(hic, keyAt(n) ? ICCOMPRESS_KEYFRAME : 0, &out.bmiHeader, buffer.data(),
                              &in.bmiHeader, picture.data(), nullptr, &flags, static_cast<LONG>(n), 0, 0, nullptr,
                              nullptr);
    EXPECT_EQ(result, static_cast<DWORD>(ICERR_OK)) << "frame " << n;
    EXPECT_LE(out.bmiHeader.biSizeImage, kImage);
    frames.push_back({std::vector<uint8_t>(buffer.begin(), buffer.begin() + out.bmiHeader.biSizeImage),
                      (flags & AVIIF_KEYFRAME) != 0});
  }
  return frames;
}

inline bool KeyEvery125(uint32_t n) { return n % 125 == 1; }

// Decompresses one frame that lies at the start of buffer (304,128 bytes readable, as in the programs).
inline DWORD Decode(HIC hic, const uint8_t* buffer, uint8_t* picture) {
  BITMAPINFO in = Record(kDivx), out = Record(BI_RGB);
  return ICDecompress(hic, 0, &in.bmiHeader, const_cast<uint8_t*>(buffer), &out.bmiHeader, picture);
}

inline HIC OpenDivx() { return ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS); }

inline HIC OpenDecoder() {
  HIC hic = OpenDivx();
  BITMAPINFO in = Record(kDivx), out = Record(BI_RGB);
  EXPECT_EQ(ICDecompressBegin(hic, &in, &out), ICERR_OK);
  return hic;
}

// A frame placed at the start of a program-sized buffer, the rest zero.
inline std::vector<uint8_t> InBuffer(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> b(kBuffer, 0);
  std::memcpy(b.data(), frame.data(), frame.size());
  return b;
}

// Restores the process-wide codec settings that a test changes.
class TSettingsGuard {
 public:
  TSettingsGuard() : FSaved(TDivxSettings::Current()) {}
  ~TSettingsGuard() { TDivxSettings::SetCurrent(FSaved); }

 private:
  TDivxSettings FSaved;
};

class TEnv {
 public:
  TEnv(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old, FHad = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~TEnv() {
    if (FHad) setenv(FName.c_str(), FOld.c_str(), 1);
    else unsetenv(FName.c_str());
  }

 private:
  std::string FName, FOld;
  bool FHad = false;
};

}  // namespace vfwtest
