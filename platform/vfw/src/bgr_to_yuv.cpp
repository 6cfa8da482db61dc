// BGR to 4:2:0 planes for the DIVX compressor. Two rows at a time: four luma samples and one pair of chroma
// samples from each 2 x 2 block. On x86 processors with SSSE3 sixteen pixels of both rows go at once; the rest
// of a row, and every row elsewhere, take the plain path. Both use the same 16-bit fixed-point arithmetic, so
// they give the same bytes: each term is a rounded high multiply (the processor's own rounding, x * c + 2^14
// shifted right by 15) of the pixel value scaled up with a coefficient in 1/32768 (luma) or 1/65536 (chroma),
// which keeps 7 (luma) and 8 (chroma) fractional bits before the final rounding:
//   Y = round(Σ c * value) + 16 from the pixel's own R, G, B
//   U, V = round(Σ c * sum / 4) + 128 from the sums of the block's four pixels.
#include "bgr_to_yuv.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define TARVO_BGR_SSSE3 1
#endif

#include <array>

namespace {

// 219/255 (luma) and 224/255 (chroma) times the BT.601 weights of R, G and B; each chroma row sums to zero,
// so grey stays grey.
constexpr int KYR = 8414, KYG = 16519, KYB = 3208;
constexpr int KUR = -9714, KUG = -19070, KUB = 28784;
constexpr int KVR = 28784, KVG = -24103, KVB = -4681;
constexpr int kLumaShift = 7, kChromaShift = 5;  // the pixel value (0-255) and the block sum (0-1020) scaled up

inline int MulHrs(int x, int c) { return (x * c + (1 << 14)) >> 15; }

inline uint8_t Luma(int b, int g, int r) {
  const int t = MulHrs(r << kLumaShift, KYR) + MulHrs(g << kLumaShift, KYG) + MulHrs(b << kLumaShift, KYB);
  return static_cast<uint8_t>(((t + 64) >> 7) + 16);
}

inline uint8_t Chroma(int cr, int cg, int cb, int r, int g, int b) {
  const int t = MulHrs(r << kChromaShift, cr) + MulHrs(g << kChromaShift, cg) + MulHrs(b << kChromaShift, cb);
  return static_cast<uint8_t>(((t + 128) >> 8) + 128);
}

// Pixels [x, width) of the row pair starting at s0 and s1 (x even).
void PlainPair(const uint8_t* s0, const uint8_t* s1, int x, int width, uint8_t* y0, uint8_t* y1, uint8_t* u,
               uint8_t* v) {
  for (; x < width; x += 2) {
    const uint8_t* a = s0 + 3 * x;
    const uint8_t* c = s1 + 3 * x;
    y0[x] = Luma(a[0], a[1], a[2]);
    y0[x + 1] = Luma(a[3], a[4], a[5]);
    y1[x] = Luma(c[0], c[1], c[2]);
    y1[x + 1] = Luma(c[3], c[4], c[5]);
    const int b = a[0] + a[3] + c[0] + c[3];
    const int g = a[1] + a[4] + c[1] + c[4];
    const int r = a[2] + a[5] + c[2] + c[5];
    u[x / 2] = Chroma(KUR, KUG, KUB, r, g, b);
    v[x / 2] = Chroma(KVR, KVG, KVB, r, g, b);
  }
}

#ifdef TARVO_BGR_SSSE3

// Shuffle masks that gather channel k of sixteen BGR pixels out of the part-th 16 bytes of their 48.
constexpr std::array<uint8_t, 16> GatherMask(int k, int part) {
  std::array<uint8_t, 16> m{};
  for (int i = 0; i < 16; ++i) {
    const int byte = 3 * i + k;
    m[i] = byte / 16 == part ? static_cast<uint8_t>(byte % 16) : 0x80;
  }
  return m;
}

alignas(16) constexpr std::array<std::array<std::array<uint8_t, 16>, 3>, 3> kGather = {{
    {GatherMask(0, 0), GatherMask(0, 1), GatherMask(0, 2)},
    {GatherMask(1, 0), GatherMask(1, 1), GatherMask(1, 2)},
    {GatherMask(2, 0), GatherMask(2, 1), GatherMask(2, 2)},
}};

struct TChannels {
  __m128i B, G, R;
};

__attribute__((target("ssse3"))) inline __m128i Gather(const __m128i part[3], int k) {
  __m128i out = _mm_setzero_si128();
  for (int p = 0; p < 3; ++p)
    out = _mm_or_si128(
        out, _mm_shuffle_epi8(part[p], _mm_load_si128(reinterpret_cast<const __m128i*>(kGather[k][p].data()))));
  return out;
}

__attribute__((target("ssse3"))) inline TChannels Load16(const uint8_t* s) {
  const __m128i part[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32))};
  return {Gather(part, 0), Gather(part, 1), Gather(part, 2)};
}

// Eight 16-bit sums of rounded high multiplies, c0 * r + c1 * g + c2 * b, of samples already scaled up.
__attribute__((target("ssse3"))) inline __m128i Weigh(__m128i r, __m128i g, __m128i b, int c0, int c1, int c2) {
  return _mm_add_epi16(_mm_add_epi16(_mm_mulhrs_epi16(r, _mm_set1_epi16(static_cast<short>(c0))),
                                     _mm_mulhrs_epi16(g, _mm_set1_epi16(static_cast<short>(c1)))),
                       _mm_mulhrs_epi16(b, _mm_set1_epi16(static_cast<short>(c2))));
}

// Eight luma samples from eight pixels' channels, widened to 16 bits.
__attribute__((target("ssse3"))) inline __m128i Luma8(__m128i r, __m128i g, __m128i b) {
  const __m128i t = Weigh(_mm_slli_epi16(r, kLumaShift), _mm_slli_epi16(g, kLumaShift), _mm_slli_epi16(b, kLumaShift),
                          KYR, KYG, KYB);
  return _mm_add_epi16(_mm_srai_epi16(_mm_add_epi16(t, _mm_set1_epi16(64)), 7), _mm_set1_epi16(16));
}

__attribute__((target("ssse3"))) inline void Luma16(const TChannels& c, uint8_t* y) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = Luma8(_mm_unpacklo_epi8(c.R, zero), _mm_unpacklo_epi8(c.G, zero), _mm_unpacklo_epi8(c.B, zero));
  const __m128i hi = Luma8(_mm_unpackhi_epi8(c.R, zero), _mm_unpackhi_epi8(c.G, zero), _mm_unpackhi_epi8(c.B, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y), _mm_packus_epi16(lo, hi));
}

// The sum of each 2 x 2 block of one channel, scaled up, as eight 16-bit samples.
__attribute__((target("ssse3"))) inline __m128i BlockSum(__m128i row0, __m128i row1) {
  const __m128i ones = _mm_set1_epi8(1);
  return _mm_slli_epi16(_mm_add_epi16(_mm_maddubs_epi16(row0, ones), _mm_maddubs_epi16(row1, ones)), kChromaShift);
}

__attribute__((target("ssse3"))) inline __m128i ChromaOf(__m128i r, __m128i g, __m128i b, int c0, int c1, int c2) {
  return _mm_add_epi16(_mm_srai_epi16(_mm_add_epi16(Weigh(r, g, b, c0, c1, c2), _mm_set1_epi16(128)), 8),
                       _mm_set1_epi16(128));
}

__attribute__((target("ssse3"))) void Ssse3Pair(const uint8_t* s0, const uint8_t* s1, int width, uint8_t* y0,
                                                 uint8_t* y1, uint8_t* u, uint8_t* v) {
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const TChannels a = Load16(s0 + 3 * x);
    const TChannels c = Load16(s1 + 3 * x);
    Luma16(a, y0 + x);
    Luma16(c, y1 + x);
    const __m128i b = BlockSum(a.B, c.B);
    const __m128i g = BlockSum(a.G, c.G);
    const __m128i r = BlockSum(a.R, c.R);
    const __m128i uv = _mm_packus_epi16(ChromaOf(r, g, b, KUR, KUG, KUB), ChromaOf(r, g, b, KVR, KVG, KVB));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x / 2), uv);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x / 2), _mm_srli_si128(uv, 8));
  }
  PlainPair(s0, s1, x, width, y0, y1, u, v);
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

#endif

using TPairRoutine = void (*)(const uint8_t*, const uint8_t*, int, uint8_t*, uint8_t*, uint8_t*, uint8_t*);

void PlainPairFromStart(const uint8_t* s0, const uint8_t* s1, int width, uint8_t* y0, uint8_t* y1, uint8_t* u,
                        uint8_t* v) {
  PlainPair(s0, s1, 0, width, y0, y1, u, v);
}

void Convert(TPairRoutine pair, const uint8_t* src, ptrdiff_t srcStride, int width, int height,
             const TYuvPlanes& out) {
  for (int row = 0; row + 1 < height; row += 2) {
    const uint8_t* s0 = src + srcStride * row;
    pair(s0, s0 + srcStride, width, out.Y + out.YStride * row, out.Y + out.YStride * (row + 1),
         out.U + out.UStride * (row / 2), out.V + out.VStride * (row / 2));
  }
}

}  // namespace

void BgrToYuv420(const uint8_t* src, ptrdiff_t srcStride, int width, int height, const TYuvPlanes& out) {
#ifdef TARVO_BGR_SSSE3
  if (HasSsse3()) return Convert(Ssse3Pair, src, srcStride, width, height, out);
#endif
  Convert(PlainPairFromStart, src, srcStride, width, height, out);
}

void BgrToYuv420Plain(const uint8_t* src, ptrdiff_t srcStride, int width, int height, const TYuvPlanes& out) {
  Convert(PlainPairFromStart, src, srcStride, width, height, out);
}
