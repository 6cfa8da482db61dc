// What the DIVX codec's colour conversion costs the picture: a 352 x 288 sequence compressed with ICCompress
// (a key frame every 125) and decompressed with ICDecompress, each decoded picture against its source. Two
// sequences: the camera-like one of the rate benchmarks (the moving pattern with sensor noise) and the test
// pattern as its driver delivers it; each at the default quality and at the finest. Counters:
//   psnr_mean_db, psnr_min_db  PSNR of the decoded BGR bytes against the source, over the frames and the worst
//   stamps_decoded_pct         frames whose stamp decodes to the frame's own number and time
//   bytes_per_frame            the compressed size
// Not a timing: one pass, the figures are the counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

#include "bench_frames.h"
#include "divx.h"
#include "driver.h"
#include "vfw/stamp.h"

using namespace vfwbench;

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

double Psnr(const uint8_t* a, const uint8_t* b) {
  double sum = 0;
  for (size_t i = 0; i < kImage; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(kImage)));
}

const std::vector<std::vector<uint8_t>>& CleanPictures() {
  static const std::vector<std::vector<uint8_t>> pictures = [] {
    std::vector<std::vector<uint8_t>> p(kFrames, std::vector<uint8_t>(kBuffer));
    for (int n = 0; n < kFrames; ++n)
      RenderPattern(p[n].data(), kWidth, kHeight, static_cast<uint32_t>(n + 1), static_cast<uint32_t>(n * 40));
    return p;
  }();
  return pictures;
}

void RoundTrip(benchmark::State& state, const std::vector<std::vector<uint8_t>>& pictures) {
  const TDivxSettings saved = TDivxSettings::Current();
  TDivxSettings settings = saved;
  settings.Quality = static_cast<int>(state.range(0));
  TDivxSettings::SetCurrent(settings);
  HIC encoder = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  HIC decoder = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  BITMAPINFO rgb = Record(BI_RGB), divx = Record(kDivx);
  if (ICCompressBegin(encoder, &rgb, &divx) != ICERR_OK || ICDecompressBegin(decoder, &divx, &rgb) != ICERR_OK) {
    state.SkipWithError("the codec did not begin");
    return;
  }
  std::vector<uint8_t> compressed(kBuffer), decoded(kBuffer);
  double sum = 0, worst = 99;
  size_t bytes = 0;
  int stamped = 0;
  for (auto _ : state) {
    for (int n = 0; n < kFrames; ++n) {
      const uint32_t seq = static_cast<uint32_t>(n + 1);
      if (ICCompress(encoder, n % 125 == 0 ? ICCOMPRESS_KEYFRAME : 0, &divx.bmiHeader, compressed.data(),
                     &rgb.bmiHeader, const_cast<uint8_t*>(pictures[n].data()), nullptr, nullptr,
                     static_cast<LONG>(seq), 0, 0, nullptr, nullptr) != ICERR_OK ||
          ICDecompress(decoder, 0, &divx.bmiHeader, compressed.data(), &rgb.bmiHeader, decoded.data()) != ICERR_OK) {
        state.SkipWithError("a frame did not go through the codec");
        break;
      }
      bytes += divx.bmiHeader.biSizeImage;
      divx.bmiHeader.biSizeImage = static_cast<DWORD>(kImage);  // as the receiver's record stays
      const double psnr = Psnr(pictures[n].data(), decoded.data());
      sum += psnr;
      worst = std::min(worst, psnr);
      uint32_t stampSeq = 0, stampMs = 0;
      if (DecodeStamp(decoded.data(), kWidth, kHeight, stampSeq, stampMs) && stampSeq == seq &&
          stampMs == static_cast<uint32_t>(n * 40))
        ++stamped;
    }
  }
  ICClose(decoder);
  ICClose(encoder);
  TDivxSettings::SetCurrent(saved);
  state.counters["psnr_mean_db"] = sum / kFrames;
  state.counters["psnr_min_db"] = worst;
  state.counters["stamps_decoded_pct"] = 100.0 * stamped / kFrames;
  state.counters["bytes_per_frame"] = static_cast<double>(bytes) / kFrames;
}

void BM_QualityCameraLike(benchmark::State& state) { RoundTrip(state, Pictures()); }
void BM_QualityTestPattern(benchmark::State& state) { RoundTrip(state, CleanPictures()); }

}  // namespace

BENCHMARK(BM_QualityCameraLike)->ArgName("quality")->Arg(85)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QualityTestPattern)->ArgName("quality")->Arg(85)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);
