// The built-in test-pattern driver: a moving picture (scrolling colour bands, a bouncing square) rendered on
// time, each frame stamped with its sequence number and capture time (vfw/stamp.h).
#include <algorithm>
#include <cstring>
#include <vector>

#include "driver.h"
#include "frame_convert.h"
#include "vfw/stamp.h"

namespace {

class TPatternDriver final : public TCaptureDriver {
 public:
  explicit TPatternDriver(const TVideoFormat& format) : FFormat(format) {}

  std::string Location() const override { return "pattern"; }
  std::string Description() const override { return "Test pattern (built in)"; }
  std::vector<std::string> Inputs() const override { return {"Moving test pattern"}; }
  int Input() const override { return 0; }
  bool SetInput(int index, std::string& why) override {
    if (index == 0) return true;
    why = "the test pattern has one input";
    return false;
  }
  bool SetFormat(const TVideoFormat& format, std::string&) override {
    FFormat = format;
    return true;
  }
  TVideoFormat Format() const override { return FFormat; }

  TWaitResult WaitFrame(uint8_t* frame, uint32_t intervalUs, int wakeFd, std::string&) override {
    int64_t due = FClock.NextDue(intervalUs);
    if (!SleepUntil(due, wakeFd)) return TWaitResult::Woken;
    int64_t now = MonotonicNs();
    FClock.Taken(now, intervalUs);
    auto ms = static_cast<uint32_t>(static_cast<uint64_t>(now / 1000000));
    ++FSequence;
    const TVideoFormat& f = FFormat;
    if (f.BitCount == 24 && !f.TopDown) {
      RenderPattern(frame, f.Width, f.Height, FSequence, ms);
    } else {
      TVideoFormat plain{f.Width, f.Height, 24, false};
      FPicture.resize(plain.ImageSize());
      RenderPattern(FPicture.data(), f.Width, f.Height, FSequence, ms);
      const uint8_t* top = FPicture.data() + plain.Stride() * static_cast<size_t>(f.Height - 1);
      FConverter.Convert(top, f.Width, f.Height, -static_cast<ptrdiff_t>(plain.Stride()), frame, f);
    }
    return TWaitResult::Frame;
  }

  void Restart() override { FClock.Restart(); }

 private:
  TVideoFormat FFormat;
  TFrameClock FClock;
  uint32_t FSequence = 0;
  std::vector<uint8_t> FPicture;
  TFrameConverter FConverter;
};

// Position on a back-and-forth path of length span.
int Bounce(int64_t t, int span) {
  if (span <= 0) return 0;
  int64_t p = t % (2 * static_cast<int64_t>(span));
  return static_cast<int>(p < span ? p : 2 * span - p);
}

}  // namespace

void RenderPattern(uint8_t* bgr, int w, int h, uint32_t seq, uint32_t ms) {
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
  // Colour bands that scroll to the left by 2 pixels a frame, shaded darker towards the bottom, with soft
  // borders as a camera would see them (hard colour edges are lost to any 4:2:0 codec).
  static const uint8_t bands[8][3] = {{235, 235, 235}, {16, 235, 235}, {235, 235, 16}, {16, 235, 16},
                                      {235, 16, 235},  {16, 16, 235},  {235, 16, 16},  {40, 40, 40}};
  constexpr int kSoft = 4;
  const int bandWidth = std::max(2 * kSoft, w / 8);
  const int shift = static_cast<int>((seq * 2u) % static_cast<uint32_t>(bandWidth * 8));
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bgr + static_cast<size_t>(h - 1 - y) * stride;
    const int shade = 160 + 96 * (h - y) / h;  // 256 at the top .. 160 at the bottom
    for (int x = 0; x < w; ++x) {
      const int at = x + shift;
      const int band = (at / bandWidth) % 8;
      const int inBand = at % bandWidth;
      // Within kSoft pixels of a border the colour ramps to the neighbour's.
      int other = band, weight = 0;  // of 2 * kSoft
      if (inBand < kSoft) other = (band + 7) % 8, weight = kSoft - inBand;
      else if (inBand >= bandWidth - kSoft) other = (band + 1) % 8, weight = inBand - (bandWidth - kSoft) + 1;
      for (int c = 0; c < 3; ++c) {
        int v = (bands[band][c] * (2 * kSoft - weight) + bands[other][c] * weight) / (2 * kSoft);
        row[x * 3 + c] = static_cast<uint8_t>(v * shade >> 8);
      }
    }
  }
  // A square that bounces across the picture, with a dark frame around it.
  const int side = std::max(8, std::min(w, h) / 6);
  const int sx = Bounce(static_cast<int64_t>(seq) * 5, w - side);
  const int sy = 24 + Bounce(static_cast<int64_t>(seq) * 3, std::max(0, h - side - 24));
  for (int y = sy; y < std::min(h, sy + side); ++y) {
    uint8_t* row = bgr + static_cast<size_t>(h - 1 - y) * stride;
    for (int x = sx; x < std::min(w, sx + side); ++x) {
      bool edge = y < sy + 3 || y >= sy + side - 3 || x < sx + 3 || x >= sx + side - 3;
      uint8_t v = edge ? 20 : 250;
      row[x * 3 + 0] = v;
      row[x * 3 + 1] = edge ? 20 : 200;
      row[x * 3 + 2] = v;
    }
  }
  StampFrame(bgr, w, h, seq, ms);
}

std::unique_ptr<TCaptureDriver> OpenPatternDriver(const TVideoFormat& format) {
  return std::make_unique<TPatternDriver>(format);
}
