// Rows of 24-bit BGR pixels into opaque 32-bit pixels. A frame is some hundred thousand pixels, converted once
// per paint: on x86 processors with SSSE3 sixteen pixels go per step with byte shuffles, elsewhere four pixels
// come out of three 32-bit words with shifts alone.
#include "pixels_p.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TARVO_PIXELS_X86 1
#endif

namespace tarvo_gui {

namespace {

void BgrRowToRgb32Plain(const unsigned char* in, std::uint32_t* out, std::int64_t count) {
  std::int64_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // A 32-bit pixel is B, G, R, A in memory.
    for (; i + 4 <= count; i += 4, in += 12) {
      std::uint32_t w[3];
      std::memcpy(w, in, sizeof w);
      out[i] = 0xFF000000u | w[0];
      out[i + 1] = 0xFF000000u | (w[0] >> 24) | (w[1] << 8);
      out[i + 2] = 0xFF000000u | (w[1] >> 16) | (w[2] << 16);
      out[i + 3] = 0xFF000000u | (w[2] >> 8);
    }
  }
  for (; i < count; ++i, in += 3)
    out[i] = 0xFF000000u | (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[1]) << 8) | in[0];
}

#if defined(TARVO_PIXELS_X86)

// Sixteen pixels (48 bytes in, 64 out) per step. Every load stays inside the 48 bytes of its step: the fourth
// group of four pixels is taken from a load that starts 4 bytes early.
__attribute__((target("ssse3"))) void BgrRowToRgb32Ssse3(const unsigned char* in, std::uint32_t* out,
                                                          std::int64_t count) {
  const __m128i first = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i last = _mm_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  std::int64_t i = 0;
  for (; i + 16 <= count; i += 16, in += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 24));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_or_si128(_mm_shuffle_epi8(a, first), alpha));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), _mm_or_si128(_mm_shuffle_epi8(b, first), alpha));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_or_si128(_mm_shuffle_epi8(c, first), alpha));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 12), _mm_or_si128(_mm_shuffle_epi8(d, last), alpha));
  }
  BgrRowToRgb32Plain(in, out + i, count - i);
}

bool HaveSsse3() {
  static const bool have = __builtin_cpu_supports("ssse3");
  return have;
}

#endif

}  // namespace

void BgrRowToRgb32(const unsigned char* in, std::uint32_t* out, std::int64_t count) {
#if defined(TARVO_PIXELS_X86)
  if (HaveSsse3()) return BgrRowToRgb32Ssse3(in, out, count);
#endif
  BgrRowToRgb32Plain(in, out, count);
}

}  // namespace tarvo_gui
