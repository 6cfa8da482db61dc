// The fuzz targets' decoder and their closing check (fuzz_support.h).
#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

BITMAPINFOHEADER Record(DWORD compression) {
  BITMAPINFOHEADER bi{};
  bi.biSize = sizeof bi;
  bi.biWidth = kWidth;
  bi.biHeight = kHeight;
  bi.biPlanes = 1;
  bi.biBitCount = 24;
  bi.biCompression = compression;
  bi.biSizeImage = static_cast<DWORD>(kImage);
  return bi;
}

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

// A picture that differs with seed everywhere, so that a stale picture never passes for it.
std::vector<uint8_t> Picture(int seed) {
  std::vector<uint8_t> p(kBuffer);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c)
        p[(static_cast<size_t>(y) * kWidth + x) * 3 + c] = static_cast<uint8_t>(x * (c + 1) + y * seed + 40 * seed);
  return p;
}

std::vector<uint8_t> KeyFrame(int seed) {
  TDivxEncoder encoder;
  BITMAPINFOHEADER in = Record(BI_RGB), out = Record(kDivx);
  std::vector<uint8_t> picture = Picture(seed), frame(kBuffer);
  ICCOMPRESS ic{};
  ic.dwFlags = ICCOMPRESS_KEYFRAME;
  ic.lpbiOutput = &out;
  ic.lpOutput = frame.data();
  ic.lpbiInput = &in;
  ic.lpInput = picture.data();
  if (encoder.Begin(&in, &out) != ICERR_OK || encoder.Compress(ic) != ICERR_OK) {
    std::fprintf(stderr, "fuzz: the encoder makes no key frame\n");
    std::abort();
  }
  frame.resize(out.biSizeImage);
  return frame;
}

struct TKeyFrames {
  std::vector<uint8_t> First, Second, SecondPicture;
};

const TKeyFrames& KeyFrames() {
  static const TKeyFrames frames = [] {
    TKeyFrames k{KeyFrame(1), KeyFrame(2), {}};
    TDecoder fresh;
    if (fresh.Decode(k.Second.data(), k.Second.size()) != ICERR_OK) {
      std::fprintf(stderr, "fuzz: a fresh decoder refuses a key frame\n");
      std::abort();
    }
    k.SecondPicture = fresh.Picture();
    return k;
  }();
  return frames;
}

}  // namespace

TDecoder::TDecoder() : FIn(Record(kDivx)), FOut(Record(BI_RGB)), FInput(kBuffer), FPicture(kBuffer) {
  if (FDecoder.Begin(&FIn, &FOut) != ICERR_OK) {
    std::fprintf(stderr, "fuzz: the decoder does not begin\n");
    std::abort();
  }
}

LRESULT TDecoder::Decode(const uint8_t* data, size_t size) {
  std::copy(data, data + std::min(size, FInput.size()), FInput.begin());
  ICDECOMPRESS ic{};
  ic.lpbiInput = &FIn;
  ic.lpInput = FInput.data();
  ic.lpbiOutput = &FOut;
  ic.lpOutput = FPicture.data();
  return FDecoder.Decompress(ic);
}

TDecoder& SharedDecoder() {
  static TDecoder* decoder = [] {
    auto* d = new TDecoder;
    RequireKeyFramesDecode(*d);
    return d;
  }();
  return *decoder;
}

void RequireKeyFramesDecode(TDecoder& decoder) {
  const TKeyFrames& k = KeyFrames();
  // Two of them: the first may be taken for a repetition of the input's last frame, the second never is.
  decoder.Decode(k.First.data(), k.First.size());
  const LRESULT result = decoder.Decode(k.Second.data(), k.Second.size());
  if (result != ICERR_OK || !std::equal(k.SecondPicture.begin(), k.SecondPicture.begin() + kImage,
                                        decoder.Picture().begin())) {
    std::fprintf(stderr, "fuzz: after this input a correct key frame %s\n",
                 result != ICERR_OK ? "is refused" : "decodes to another picture");
    std::abort();
  }
}

}  // namespace fuzz
