// The compression manager and the DIVX codec, through the calls the programs make.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "bgr_to_yuv.h"
#include "divx.h"
#include "vfw/stamp.h"
#include "vfw_testutil.h"

using namespace vfwtest;

// The numbers the programs send and test.
static_assert(ICM_COMPRESS_BEGIN == 0x4007 && ICM_COMPRESS == 0x4008 && ICM_COMPRESS_END == 0x4009 &&
              ICM_DECOMPRESS_BEGIN == 0x400C && ICM_DECOMPRESS == 0x400D && ICM_DECOMPRESS_END == 0x400E &&
              ICM_CONFIGURE == 0x500A && ICMF_CONFIGURE_QUERY == 1);
static_assert(ICERR_OK == 0 && ICERR_UNSUPPORTED == -1 && ICERR_BADFORMAT == -2 && ICERR_BADHANDLE == -8 &&
              ICERR_ERROR == -100);
static_assert(ICTYPE_VIDEO == 0x63646976 && mmioFOURCC('D', 'I', 'V', 'X') == 0x58564944 &&
              ICMODE_FASTCOMPRESS == 5 && ICCOMPRESS_KEYFRAME == 1 && AVIIF_KEYFRAME == 0x10);

TEST(CompressionManager, UnknownHandlerAndNullHandleFailHarmlessly) {
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, mmioFOURCC('X', 'V', 'I', 'D'), ICMODE_FASTCOMPRESS), nullptr);
  EXPECT_EQ(ICOpen(mmioFOURCC('a', 'u', 'd', 'c'), kDivx, ICMODE_FASTCOMPRESS), nullptr);
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, kDivx, 0), nullptr);

  HIC closed = OpenDivx();
  ASSERT_NE(closed, nullptr);
  EXPECT_EQ(ICClose(closed), ICERR_OK);
  EXPECT_EQ(ICClose(closed), ICERR_BADHANDLE);

  for (HIC hic : {static_cast<HIC>(nullptr), closed, reinterpret_cast<HIC>(uintptr_t{0xDEAD0000})}) {
    BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
    std::vector<uint8_t> picture = Pattern(1), buffer(kBuffer, 0xAB);
    EXPECT_FALSE(ICQueryConfigure(hic));
    EXPECT_NE(ICConfigure(hic, nullptr), ICERR_OK);
    EXPECT_NE(ICCompressBegin(hic, &in, &out), ICERR_OK);
    EXPECT_NE(ICDecompressBegin(hic, &out, &in), ICERR_OK);
    EXPECT_NE(ICCompressEnd(hic), ICERR_OK);
    EXPECT_NE(ICDecompressEnd(hic), ICERR_OK);
    EXPECT_NE(ICCompress(hic, ICCOMPRESS_KEYFRAME, &out.bmiHeader, buffer.data(), &in.bmiHeader, picture.data(),
                         nullptr, nullptr, 1, 0, 0, nullptr, nullptr),
              static_cast<DWORD>(ICERR_OK));
    EXPECT_EQ(out.bmiHeader.biSizeImage, 0u);  // the size the sender would send
    EXPECT_NE(Decode(hic, picture.data(), buffer.data()), static_cast<DWORD>(ICERR_OK));
    EXPECT_EQ(buffer, std::vector<uint8_t>(kBuffer, 0xAB));
    EXPECT_EQ(ICSendMessage(hic, ICM_COMPRESS_BEGIN, 0, 0), ICERR_BADHANDLE);
  }
}

TEST(CompressionManager, EndWithoutBeginRepeatedBeginAndNoBegin) {
  HIC hic = OpenDivx();
  EXPECT_EQ(ICCompressEnd(hic), ICERR_OK);
  EXPECT_EQ(ICDecompressEnd(hic), ICERR_OK);

  BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
  std::vector<uint8_t> picture = Pattern(1), buffer(kBuffer);
  // Compressing before any begin fails, and says so in the size.
  EXPECT_NE(ICCompress(hic, 0, &out.bmiHeader, buffer.data(), &in.bmiHeader, picture.data(), nullptr, nullptr, 1,
                       0, 0, nullptr, nullptr),
            static_cast<DWORD>(ICERR_OK));
  EXPECT_EQ(out.bmiHeader.biSizeImage, 0u);

  // A repeated begin starts a new stream: its first frame is a key frame that a fresh decoder reads.
  EXPECT_EQ(ICCompressBegin(hic, &in, &out), ICERR_OK);
  EXPECT_EQ(ICCompressBegin(hic, &in, &out), ICERR_OK);
  DWORD flags = 0;
  EXPECT_EQ(ICCompress(hic, 0, &out.bmiHeader, buffer.data(), &in.bmiHeader, picture.data(), nullptr, &flags, 7, 0,
                       0, nullptr, nullptr),
            static_cast<DWORD>(ICERR_OK));
  EXPECT_EQ(flags, AVIIF_KEYFRAME);
  HIC decoder = OpenDecoder();
  std::vector<uint8_t> decoded(kBuffer);
  EXPECT_EQ(Decode(decoder, buffer.data(), decoded.data()), static_cast<DWORD>(ICERR_OK));
  ICClose(decoder);
  ICClose(hic);
}

TEST(CompressionManager, BeginRefusesFormatsItCannotHandle) {
  HIC hic = OpenDivx();
  BITMAPINFO rgb = Record(BI_RGB), divx = Record(kDivx);
  EXPECT_EQ(ICCompressBegin(hic, &rgb, &divx), ICERR_OK);
  EXPECT_EQ(ICDecompressBegin(hic, &divx, &rgb), ICERR_OK);

  struct TCase {
    const char* What;
    BITMAPINFO In, Out;
  };
  auto with = [](BITMAPINFO bi, auto change) {
    change(bi.bmiHeader);
    return bi;
  };
  std::vector<TCase> compress = {
      {"16-bit input", with(rgb, [](auto& h) { h.biBitCount = 16; }), divx},
      {"compressed input", divx, divx},
      {"uncompressed output", rgb, rgb},
      {"other output code", rgb, with(divx, [](auto& h) { h.biCompression = mmioFOURCC('M', 'J', 'P', 'G'); })},
      {"sizes differ", rgb, with(divx, [](auto& h) { h.biWidth = 320; })},
      {"odd width", with(rgb, [](auto& h) { h.biWidth = 351; }), with(divx, [](auto& h) { h.biWidth = 351; })},
      {"no height", with(rgb, [](auto& h) { h.biHeight = 0; }), with(divx, [](auto& h) { h.biHeight = 0; })},
      {"two planes", with(rgb, [](auto& h) { h.biPlanes = 2; }), divx},
      {"short record", with(rgb, [](auto& h) { h.biSize = 12; }), divx},
  };
  for (auto& c : compress) EXPECT_EQ(ICCompressBegin(hic, &c.In, &c.Out), ICERR_BADFORMAT) << c.What;
  EXPECT_EQ(ICCompressBegin(hic, &rgb, static_cast<BITMAPINFO*>(nullptr)), ICERR_BADFORMAT);

  std::vector<TCase> decompress = {
      {"uncompressed input", rgb, rgb},
      {"compressed output", divx, divx},
      {"32-bit output", divx, with(rgb, [](auto& h) { h.biBitCount = 32; })},
      {"sizes differ", divx, with(rgb, [](auto& h) { h.biHeight = 240; })},
  };
  for (auto& c : decompress) EXPECT_EQ(ICDecompressBegin(hic, &c.In, &c.Out), ICERR_BADFORMAT) << c.What;

  // A handle opened only to decompress does not compress.
  HIC decoder = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_DECOMPRESS);
  EXPECT_EQ(ICCompressBegin(decoder, &rgb, &divx), ICERR_UNSUPPORTED);
  EXPECT_EQ(ICDecompressBegin(decoder, &divx, &rgb), ICERR_OK);
  ICClose(decoder);
  ICClose(hic);
}

TEST(DivxCodec, RoundTripKeepsPictureAndStamp) {
  HIC hic = OpenDivx();
  std::vector<TFrame> frames = CompressPattern(hic, 60, KeyEvery125);
  HIC decoder = OpenDecoder();
  std::vector<uint8_t> decoded(kBuffer);
  double worst = 99;
  for (uint32_t n = 1; n <= frames.size(); ++n) {
    ASSERT_EQ(Decode(decoder, InBuffer(frames[n - 1].Bytes).data(), decoded.data()), static_cast<DWORD>(ICERR_OK));
    std::vector<uint8_t> original = Pattern(n, n * 40);
    worst = std::min(worst, Psnr(original.data(), decoded.data(), kImage));
    uint32_t seq = 0, ms = 0;
    ASSERT_TRUE(DecodeStamp(decoded.data(), kWidth, kHeight, seq, ms)) << "frame " << n;
    EXPECT_EQ(seq, n);
    EXPECT_EQ(ms, n * 40);
  }
  EXPECT_GE(worst, 30.0);
  ICClose(decoder);
  ICClose(hic);
}

// The conversion takes libswscale's fast routines where they write exactly the picture: a round trip keeps
// the quality it had with accurate conversion (35.5 dB on the pattern at the default quality), and no width
// gets a byte written past its picture.
TEST(DivxCodec, FastConversionKeepsTheQualityAndWritesOnlyThePicture) {
  for (int width : {kWidth, 344, 8}) {
    const int height = width == 8 ? 8 : kHeight;
    const size_t image = static_cast<size_t>(width) * height * 3;
    HIC encoder = OpenDivx(), decoder = OpenDivx();
    BITMAPINFO rgb = Record(BI_RGB, width, height), divx = Record(kDivx, width, height);
    ASSERT_EQ(ICCompressBegin(encoder, &rgb, &divx), ICERR_OK);
    ASSERT_EQ(ICDecompressBegin(decoder, &divx, &rgb), ICERR_OK);
    std::vector<uint8_t> compressed(image + 64);
    double sum = 0;
    const uint32_t count = 25;
    for (uint32_t n = 1; n <= count; ++n) {
      std::vector<uint8_t> picture = Pattern(n, n * 40, width, height);
      ASSERT_EQ(ICCompress(encoder, n == 1 ? ICCOMPRESS_KEYFRAME : 0, &divx.bmiHeader, compressed.data(),
                           &rgb.bmiHeader, picture.data(), nullptr, nullptr, static_cast<LONG>(n), 0, 0, nullptr,
                           nullptr),
                static_cast<DWORD>(ICERR_OK));
      std::vector<uint8_t> decoded(image);  // ends at the picture: ASan sees any byte written past it
      ASSERT_EQ(ICDecompress(decoder, 0, &divx.bmiHeader, compressed.data(), &rgb.bmiHeader, decoded.data()),
                static_cast<DWORD>(ICERR_OK))
          << width << " frame " << n;
      divx.bmiHeader.biSizeImage = static_cast<DWORD>(image);
      sum += Psnr(picture.data(), decoded.data(), image);
      uint32_t seq = 0, ms = 0;
      if (width != 8) {
        ASSERT_TRUE(DecodeStamp(decoded.data(), width, height, seq, ms)) << width << " frame " << n;
        EXPECT_EQ(seq, n);
      }
    }
    if (width != 8) {
      EXPECT_GE(sum / count, 35.0) << width;
    }
    ICClose(decoder);
    ICClose(encoder);
  }
}

// The compressor's colour conversion: studio-range BT.601 within one step of the exact value, chroma the
// average of its 2 x 2 block, the vector path byte for byte the plain one at every width (the tail of a row
// that is no whole group of sixteen included), either row order, and nothing written beside the planes.
TEST(DivxCodec, ColourConversionIsBt601AndBothPathsGiveTheSameBytes) {
  std::mt19937 random(7);
  for (int width : {2, 14, 16, 30, 48, 352}) {
    const int height = 6;
    const size_t row = static_cast<size_t>(width) * 3, luma = static_cast<size_t>(width) * height;
    std::vector<uint8_t> bgr(row * height);  // ends at the picture: ASan sees a read past it
    for (auto& c : bgr) c = static_cast<uint8_t>(random());
    bgr[0] = bgr[1] = bgr[2] = 255;  // a white pixel and a black one
    bgr[3] = bgr[4] = bgr[5] = 0;
    for (ptrdiff_t stride : {static_cast<ptrdiff_t>(row), -static_cast<ptrdiff_t>(row)}) {
      const uint8_t* top = stride > 0 ? bgr.data() : bgr.data() + row * (height - 1);
      std::vector<uint8_t> fast(luma * 3 / 2 + 2, 0xAA), plain(fast.size(), 0xAA);
      auto planes = [&](std::vector<uint8_t>& b) {
        return TYuvPlanes{b.data(), b.data() + luma, b.data() + luma + luma / 4, width, width / 2, width / 2};
      };
      BgrToYuv420(top, stride, width, height, planes(fast));
      BgrToYuv420Plain(top, stride, width, height, planes(plain));
      ASSERT_EQ(fast, plain) << width;
      EXPECT_EQ(fast[luma * 3 / 2], 0xAA) << "written past the planes";
      const TYuvPlanes out = planes(fast);
      auto pixel = [&](int x, int y) { return top + stride * y + 3 * x; };
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const uint8_t* p = pixel(x, y);
          const double exact = 16 + 219.0 / 255 * (0.299 * p[2] + 0.587 * p[1] + 0.114 * p[0]);
          EXPECT_NEAR(out.Y[y * width + x], exact, 1.0) << width << " " << x << "," << y;
        }
      for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
          double b = 0, g = 0, r = 0;
          for (int k = 0; k < 4; ++k) {
            const uint8_t* p = pixel(2 * x + k % 2, 2 * y + k / 2);
            b += p[0] / 4.0, g += p[1] / 4.0, r += p[2] / 4.0;
          }
          const double u = 128 + 224.0 / 255 * (-0.168736 * r - 0.331264 * g + 0.5 * b);
          const double v = 128 + 224.0 / 255 * (0.5 * r - 0.418688 * g - 0.081312 * b);
          EXPECT_NEAR(out.U[y * width / 2 + x], u, 1.0) << width << " " << x << "," << y;
          EXPECT_NEAR(out.V[y * width / 2 + x], v, 1.0) << width << " " << x << "," << y;
        }
      if (stride > 0) {
        EXPECT_EQ(out.Y[0], 235);
        EXPECT_EQ(out.Y[1], 16);
      }
    }
  }
  // Grey stays grey: no tint from rounding.
  std::vector<uint8_t> grey(16 * 3 * 2, 77), yuv(16 * 2 * 3 / 2);
  BgrToYuv420(grey.data(), 48, 16, 2, TYuvPlanes{yuv.data(), yuv.data() + 32, yuv.data() + 40, 16, 8, 8});
  for (size_t i = 32; i < yuv.size(); ++i) EXPECT_EQ(yuv[i], 128);
}

// A frame ends at the next start code or at a run of zero bytes that no picture holds, so a frame at the
// start of a zero-filled buffer is found without reading the zeros to the end.
TEST(DivxCodec, AFrameEndsAtTheNextStartCodeOrAtZeroBytes) {
  HIC hic = OpenDivx();
  std::vector<TFrame> frames = CompressPattern(hic, 2, KeyEvery125);
  for (const TFrame& f : frames) {
    std::vector<uint8_t> buffer = InBuffer(f.Bytes);
    size_t picture = 0;
    EXPECT_EQ(DivxFrameLength(buffer.data(), buffer.size(), &picture), f.Bytes.size());
    EXPECT_LT(picture, f.Bytes.size());
  }
  std::vector<uint8_t> both = frames[0].Bytes;
  both.insert(both.end(), frames[1].Bytes.begin(), frames[1].Bytes.end());
  EXPECT_EQ(DivxFrameLength(both.data(), both.size()), frames[0].Bytes.size());
  // Zero stuffing in front of the next start code ends the frame where the zeros begin.
  std::vector<uint8_t> stuffed = frames[0].Bytes;
  stuffed.insert(stuffed.end(), {0, 0, 0, 0});
  stuffed.insert(stuffed.end(), frames[1].Bytes.begin(), frames[1].Bytes.end());
  EXPECT_EQ(DivxFrameLength(stuffed.data(), stuffed.size()), frames[0].Bytes.size());
  ICClose(hic);
}

TEST(DivxCodec, KeyFramesExactlyWhereAskedAndEachCarriesTheHeaders) {
  HIC hic = OpenDivx();
  // The frame numbers wrap past 2^32 - 1, as the programs' counts do: they are not time stamps.
  std::vector<TFrame> frames = CompressPattern(hic, 260, KeyEvery125, 0xFFFFFF00u);
  for (size_t i = 0; i < frames.size(); ++i) {
    uint32_t n = 0xFFFFFF00u + static_cast<uint32_t>(i);
    bool asked = i == 0 || KeyEvery125(n);
    EXPECT_EQ(frames[i].Key, asked) << "frame " << i;
    // A key frame opens with the sequence header (0x1B0), a frame between them with its picture (0x1B6).
    ASSERT_GE(frames[i].Bytes.size(), 4u);
    EXPECT_EQ(frames[i].Bytes[3], asked ? 0xB0 : 0xB6) << "frame " << i;
  }
  // Each key frame alone starts a decoder.
  for (size_t i = 0; i < frames.size(); ++i) {
    if (!frames[i].Key) continue;
    HIC decoder = OpenDecoder();
    std::vector<uint8_t> decoded(kBuffer);
    EXPECT_EQ(Decode(decoder, InBuffer(frames[i].Bytes).data(), decoded.data()), static_cast<DWORD>(ICERR_OK))
        << "key frame " << i;
    ICClose(decoder);
  }
  ICClose(hic);
}

TEST(DivxCodec, DecoderBegunMidStreamShowsPicturesFromTheNextKeyFrame) {
  HIC hic = OpenDivx();
  std::vector<TFrame> frames = CompressPattern(hic, 140, KeyEvery125);
  HIC decoder = OpenDecoder();
  std::vector<uint8_t> decoded(kBuffer, 0x55);
  for (uint32_t n = 10; n <= 140; ++n) {
    DWORD result = Decode(decoder, InBuffer(frames[n - 1].Bytes).data(), decoded.data());
    if (n < 126) {
      EXPECT_NE(result, static_cast<DWORD>(ICERR_OK)) << "frame " << n;
      EXPECT_EQ(decoded, std::vector<uint8_t>(kBuffer, 0x55)) << "frame " << n;
    } else {
      ASSERT_EQ(result, static_cast<DWORD>(ICERR_OK)) << "frame " << n;
      uint32_t seq = 0, ms = 0;
      ASSERT_TRUE(DecodeStamp(decoded.data(), kWidth, kHeight, seq, ms));
      EXPECT_EQ(seq, n);
    }
  }
  ICClose(decoder);
  ICClose(hic);
}

TEST(DivxCodec, ADecoderBegunOnceFollowsASenderThatRestarts) {
  // The receiver begins once; the sender stops and starts again, and its count starts again from 1.
  HIC sender = OpenDivx();
  std::vector<TFrame> first = CompressPattern(sender, 30, KeyEvery125, 500);
  ICCompressEnd(sender);
  std::vector<TFrame> second = CompressPattern(sender, 30, KeyEvery125);
  HIC decoder = OpenDecoder();
  std::vector<uint8_t> decoded(kBuffer);
  for (auto& f : first) ASSERT_EQ(Decode(decoder, InBuffer(f.Bytes).data(), decoded.data()), static_cast<DWORD>(ICERR_OK));
  for (uint32_t n = 1; n <= second.size(); ++n) {
    ASSERT_EQ(Decode(decoder, InBuffer(second[n - 1].Bytes).data(), decoded.data()), static_cast<DWORD>(ICERR_OK))
        << "frame " << n;
    uint32_t seq = 0, ms = 0;
    ASSERT_TRUE(DecodeStamp(decoded.data(), kWidth, kHeight, seq, ms)) << "frame " << n;
    EXPECT_EQ(seq, n);
    EXPECT_GE(Psnr(Pattern(n, n * 40).data(), decoded.data(), kImage), 30.0) << "frame " << n;
  }
  ICClose(decoder);
  ICClose(sender);
}

TEST(DivxCodec, StaleBytesBehindTheFrameGiveTheSamePicture) {
  HIC hic = OpenDivx();
  std::vector<TFrame> frames = CompressPattern(hic, 130, KeyEvery125);
  HIC clean = OpenDecoder(), stale = OpenDecoder();
  // The receiver's buffer: each frame is written over the start of what older frames left there.
  std::vector<uint8_t> shared(kBuffer);
  std::mt19937 random(7);
  for (auto& b : shared) b = static_cast<uint8_t>(random());
  std::vector<uint8_t> a(kBuffer), b(kBuffer);
  for (size_t i = 0; i < frames.size(); ++i) {
    std::memcpy(shared.data(), frames[i].Bytes.data(), frames[i].Bytes.size());
    ASSERT_EQ(Decode(clean, InBuffer(frames[i].Bytes).data(), a.data()), static_cast<DWORD>(ICERR_OK));
    ASSERT_EQ(Decode(stale, shared.data(), b.data()), static_cast<DWORD>(ICERR_OK)) << "frame " << i;
    ASSERT_EQ(a, b) << "frame " << i;
  }
  // Two frames one after the other: the first picture is decoded, and nothing past biSizeImage is read.
  HIC two = OpenDecoder();
  std::vector<uint8_t> both = frames[0].Bytes;
  both.insert(both.end(), frames[1].Bytes.begin(), frames[1].Bytes.end());
  std::vector<uint8_t> exact(both.begin(), both.end());  // the allocation ends at the data: ASan checks reads
  BITMAPINFO in = Record(kDivx), out = Record(BI_RGB);
  in.bmiHeader.biSizeImage = static_cast<DWORD>(exact.size());
  HIC first = OpenDecoder();
  ASSERT_EQ(Decode(first, InBuffer(frames[0].Bytes).data(), a.data()), static_cast<DWORD>(ICERR_OK));
  ASSERT_EQ(ICDecompress(two, 0, &in.bmiHeader, exact.data(), &out.bmiHeader, b.data()),
            static_cast<DWORD>(ICERR_OK));
  EXPECT_EQ(a, b);
  ICClose(first);
  ICClose(two);
  ICClose(clean);
  ICClose(stale);
  ICClose(hic);
}

// The receiver decodes a complete frame again as more datagrams land behind it, and the player redraws its
// last record while the file's count runs on: the picture must stay what the frame gave the first time, and
// the frames after it must decode as if the repeats had not been.
TEST(DivxCodec, AFrameGivenAgainGivesTheSamePicture) {
  HIC hic = OpenDivx();
  std::vector<TFrame> frames = CompressPattern(hic, 8, KeyEvery125);
  HIC once = OpenDecoder(), again = OpenDecoder();
  std::vector<uint8_t> expected(kBuffer), picture(kBuffer);
  std::mt19937 random(5);
  for (size_t i = 0; i < frames.size(); ++i) {
    std::vector<uint8_t> buffer = InBuffer(frames[i].Bytes);
    ASSERT_EQ(Decode(once, buffer.data(), expected.data()), static_cast<DWORD>(ICERR_OK));
    ASSERT_EQ(Decode(again, buffer.data(), picture.data()), static_cast<DWORD>(ICERR_OK));
    for (int repeat = 0; repeat < 4; ++repeat) {
      // As it was, then with datagrams of the next frame written behind it.
      if (repeat > 0)
        for (size_t k = frames[i].Bytes.size() + 1000 * (repeat - 1); k < frames[i].Bytes.size() + 1000 * repeat; ++k)
          buffer[k] = static_cast<uint8_t>(random());
      std::fill(picture.begin(), picture.begin() + kImage, 0x77);
      ASSERT_EQ(Decode(again, buffer.data(), picture.data()), static_cast<DWORD>(ICERR_OK))
          << "frame " << i << ", repeat " << repeat;
      ASSERT_EQ(picture, expected) << "frame " << i << ", repeat " << repeat;
    }
  }
  ICClose(again);
  ICClose(once);
  ICClose(hic);
}

TEST(DivxCodec, DamagedAndTruncatedFramesDecodeToAnErrorAndLeaveTheOutput) {
  HIC hic = OpenDivx();
  std::vector<TFrame> frames = CompressPattern(hic, 12, KeyEvery125);
  std::vector<TFrame> older = CompressPattern(hic, 1, KeyEvery125, 400);
  struct TCase {
    const char* What;
    size_t Frame;
    std::vector<uint8_t> Bytes;
  };
  auto damaged = [&](size_t i, size_t at, size_t n) {
    std::vector<uint8_t> b = frames[i].Bytes;
    for (size_t k = at; k < at + n && k < b.size(); ++k) b[k] ^= 0x5A;
    return b;
  };
  auto truncated = [&](size_t i, size_t keep, const std::vector<uint8_t>* behind) {
    std::vector<uint8_t> b(frames[i].Bytes.begin(), frames[i].Bytes.begin() + keep);
    if (behind && behind->size() > keep) b.insert(b.end(), behind->begin() + keep, behind->end());
    return b;
  };
  std::vector<TCase> cases = {
      {"key frame damaged inside", 0, damaged(0, frames[0].Bytes.size() / 2, 32)},
      {"frame damaged inside", 5, damaged(5, frames[5].Bytes.size() / 3, 32)},
      {"frame cut in half", 5, truncated(5, frames[5].Bytes.size() / 2, nullptr)},
      {"key frame cut in half, an older frame behind", 0,
       truncated(0, frames[0].Bytes.size() / 2, &older[0].Bytes)},
      {"frame start damaged", 5, damaged(5, 0, 3)},
      {"headers only", 0, truncated(0, 24, nullptr)},
  };
  for (auto& c : cases) {
    HIC decoder = OpenDecoder();
    std::vector<uint8_t> picture(kBuffer, 0x33);
    for (size_t i = 0; i < c.Frame; ++i)
      ASSERT_EQ(Decode(decoder, InBuffer(frames[i].Bytes).data(), picture.data()), static_cast<DWORD>(ICERR_OK));
    std::vector<uint8_t> before = picture;
    EXPECT_NE(Decode(decoder, InBuffer(c.Bytes).data(), picture.data()), static_cast<DWORD>(ICERR_OK)) << c.What;
    EXPECT_EQ(picture, before) << c.What;
    ICClose(decoder);
  }

  // Garbage of every kind, read from an allocation that ends where biSizeImage says.
  HIC decoder = OpenDecoder();
  std::mt19937 random(11);
  std::vector<uint8_t> picture(kBuffer);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> junk(1 + random() % 4000);
    for (auto& b : junk) b = static_cast<uint8_t>(random());
    if (round % 2 == 0) std::memcpy(junk.data(), frames[round % 12].Bytes.data(), std::min<size_t>(junk.size(), 40));
    BITMAPINFO in = Record(kDivx), out = Record(BI_RGB);
    in.bmiHeader.biSizeImage = static_cast<DWORD>(junk.size());
    ICDecompress(decoder, 0, &in.bmiHeader, junk.data(), &out.bmiHeader, picture.data());
  }
  // A record without a size cannot tell how much may be read.
  BITMAPINFO in = Record(kDivx), out = Record(BI_RGB);
  in.bmiHeader.biSizeImage = 0;
  EXPECT_EQ(ICDecompress(decoder, 0, &in.bmiHeader, frames[0].Bytes.data(), &out.bmiHeader, picture.data()),
            static_cast<DWORD>(ICERR_BADSIZE));
  ICClose(decoder);
  ICClose(hic);
}

TEST(DivxCodec, ConcatenatedFramesAreOrdinaryMpeg4ForAnIndependentDecoder) {
  if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe is not installed";
  HIC hic = OpenDivx();
  std::vector<TFrame> frames = CompressPattern(hic, 150, KeyEvery125);
  ICClose(hic);
  char path[] = "/tmp/vfw_stream_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  for (auto& f : frames) ASSERT_EQ(write(fd, f.Bytes.data(), f.Bytes.size()), static_cast<ssize_t>(f.Bytes.size()));
  close(fd);
  std::string command = std::string("ffprobe -v error -f m4v -count_frames -select_streams v:0 -show_entries "
                                    "stream=nb_read_frames,codec_name,width,height -of default=nw=1 ") +
                        path;
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output;
  char line[256];
  while (fgets(line, sizeof line, p)) output += line;
  EXPECT_EQ(pclose(p), 0) << output;
  unlink(path);
  EXPECT_NE(output.find("codec_name=mpeg4"), std::string::npos) << output;
  EXPECT_NE(output.find("width=352"), std::string::npos) << output;
  EXPECT_NE(output.find("height=288"), std::string::npos) << output;
  EXPECT_NE(output.find("nb_read_frames=150"), std::string::npos) << output;
}

TEST(DivxCodec, DecompressionAfterEndStillWorks) {
  HIC hic = OpenDivx();
  std::vector<TFrame> frames = CompressPattern(hic, 20, KeyEvery125);
  ICCompressEnd(hic);
  BITMAPINFO in = Record(kDivx), out = Record(BI_RGB);
  ASSERT_EQ(ICDecompressBegin(hic, &in, &out), ICERR_OK);
  std::vector<uint8_t> first(kBuffer), second(kBuffer);
  for (auto& f : frames) ASSERT_EQ(Decode(hic, InBuffer(f.Bytes).data(), first.data()), static_cast<DWORD>(ICERR_OK));
  ICDecompressEnd(hic);
  // The second playback decodes without a new begin.
  for (auto& f : frames) ASSERT_EQ(Decode(hic, InBuffer(f.Bytes).data(), second.data()), static_cast<DWORD>(ICERR_OK));
  EXPECT_EQ(first, second);
  ICClose(hic);
}

TEST(DivxCodec, QualityAndBitRateCeilingShapeTheSize) {
  TSettingsGuard guard;
  // A busy picture: the pattern with fresh noise in every frame, as a dim camera gives.
  auto averageSize = [](auto setup) {
    HIC hic = OpenDivx();
    setup();
    BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
    EXPECT_EQ(ICCompressBegin(hic, &in, &out), ICERR_OK);
    std::vector<uint8_t> buffer(kBuffer);
    std::mt19937 random(3);
    size_t total = 0;
    for (uint32_t n = 1; n <= 40; ++n) {
      std::vector<uint8_t> picture = Pattern(n);
      for (size_t i = 0; i < kImage; ++i) picture[i] = static_cast<uint8_t>(picture[i] / 2 + random() % 64);
      EXPECT_EQ(ICCompress(hic, n == 1 ? ICCOMPRESS_KEYFRAME : 0, &out.bmiHeader, buffer.data(), &in.bmiHeader,
                           picture.data(), nullptr, nullptr, static_cast<LONG>(n), 0, 0, nullptr, nullptr),
                static_cast<DWORD>(ICERR_OK));
      if (n > 10) total += out.bmiHeader.biSizeImage;
    }
    ICClose(hic);
    return total / 30;
  };
  size_t fine = averageSize([] { TDivxSettings::SetCurrent({0, 100}); });
  size_t coarse = averageSize([] { TDivxSettings::SetCurrent({0, 10}); });
  size_t capped = averageSize([] { TDivxSettings::SetCurrent({1000, 100}); });
  EXPECT_LT(coarse, fine / 2);
  EXPECT_LT(capped, fine / 2);
  // 1000 kbit/s at 25 frames per second is 5000 bytes a frame; the ceiling keeps close to it.
  EXPECT_LT(capped, 7000u);

  // The per-frame quality argument overrides the configured one.
  TDivxSettings::SetCurrent({0, 50});
  HIC hic = OpenDivx();
  BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
  ICCompressBegin(hic, &in, &out);
  std::vector<uint8_t> picture = Pattern(3), buffer(kBuffer);
  ICCompress(hic, ICCOMPRESS_KEYFRAME, &out.bmiHeader, buffer.data(), &in.bmiHeader, picture.data(), nullptr,
             nullptr, 1, 0, 10000, nullptr, nullptr);
  DWORD best = out.bmiHeader.biSizeImage;
  ICCompress(hic, ICCOMPRESS_KEYFRAME, &out.bmiHeader, buffer.data(), &in.bmiHeader, picture.data(), nullptr,
             nullptr, 2, 0, 100, nullptr, nullptr);
  EXPECT_LT(out.bmiHeader.biSizeImage * 2, best);
  ICClose(hic);
}

TEST(DivxCodec, NewSettingsTakeEffectBetweenFramesWithAKeyFrame) {
  TSettingsGuard guard;
  HIC hic = OpenDivx(), decoder = OpenDecoder();
  BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
  ASSERT_EQ(ICCompressBegin(hic, &in, &out), ICERR_OK);
  std::vector<uint8_t> buffer(kBuffer), decoded(kBuffer);
  for (uint32_t n = 1; n <= 10; ++n) {
    if (n == 6) TDivxSettings::SetCurrent({1000, 40});
    std::vector<uint8_t> picture = Pattern(n);
    DWORD flags = 0;
    ASSERT_EQ(ICCompress(hic, n == 1 ? ICCOMPRESS_KEYFRAME : 0, &out.bmiHeader, buffer.data(), &in.bmiHeader,
                         picture.data(), nullptr, &flags, static_cast<LONG>(n), 0, 0, nullptr, nullptr),
              static_cast<DWORD>(ICERR_OK));
    EXPECT_EQ(flags == AVIIF_KEYFRAME, n == 1 || n == 6) << "frame " << n;
    ASSERT_EQ(Decode(decoder, InBuffer(std::vector<uint8_t>(buffer.begin(), buffer.begin() + out.bmiHeader.biSizeImage))
                                  .data(),
                     decoded.data()),
              static_cast<DWORD>(ICERR_OK))
        << "frame " << n;
  }
  ICClose(decoder);
  ICClose(hic);
}

TEST(DivxCodec, ConfigureDialogWithoutApplicationSaysWhy) {
  TEnv attended("TARVO_UNATTENDED", nullptr);
  HIC hic = OpenDivx();
  EXPECT_TRUE(ICQueryConfigure(hic));
  testing::internal::CaptureStderr();
  EXPECT_NE(ICConfigure(hic, nullptr), ICERR_OK);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("no GUI application"), std::string::npos) << err;
  ICClose(hic);
}

TEST(DivxCodec, AFrameLargerThanTheUncompressedPictureIsRefused) {
  // Noise at the finest quality in an 8 x 8 picture codes, with the stream headers, to more than its 192 bytes.
  TSettingsGuard guard;
  TDivxSettings::SetCurrent({0, 100});
  HIC hic = OpenDivx(), decoder = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_DECOMPRESS);
  BITMAPINFO in = Record(BI_RGB, 8, 8), out = Record(kDivx, 8, 8);
  ASSERT_EQ(ICCompressBegin(hic, &in, &out), ICERR_OK);
  ASSERT_EQ(ICDecompressBegin(decoder, &out, &in), ICERR_OK);
  std::mt19937 random(1);
  std::vector<uint8_t> noise(192), flat(192, 128);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  std::vector<uint8_t> output(192, 0xCC);  // exactly width x height x 3: ASan sees any byte past it
  DWORD flags = 0;
  EXPECT_EQ(ICCompress(hic, ICCOMPRESS_KEYFRAME, &out.bmiHeader, output.data(), &in.bmiHeader, noise.data(),
                       nullptr, &flags, 1, 0, 0, nullptr, nullptr),
            static_cast<DWORD>(ICERR_BADSIZE));
  EXPECT_EQ(out.bmiHeader.biSizeImage, 0u);
  EXPECT_EQ(output, std::vector<uint8_t>(192, 0xCC));
  // The refused picture was never sent, so the next frame must not refer to it: a key frame, unasked.
  ASSERT_EQ(ICCompress(hic, 0, &out.bmiHeader, output.data(), &in.bmiHeader, flat.data(), nullptr, &flags, 2, 0,
                       0, nullptr, nullptr),
            static_cast<DWORD>(ICERR_OK));
  EXPECT_EQ(flags, AVIIF_KEYFRAME);
  std::vector<uint8_t> picture(192);
  BITMAPINFO compressed = out;
  EXPECT_EQ(ICDecompress(decoder, 0, &compressed.bmiHeader, output.data(), &in.bmiHeader, picture.data()),
            static_cast<DWORD>(ICERR_OK));

  // Records that differ from the ones begun are refused the same way.
  BITMAPINFO other = Record(BI_RGB, 16, 8);
  EXPECT_EQ(ICCompress(hic, 0, &out.bmiHeader, output.data(), &other.bmiHeader, flat.data(), nullptr, &flags, 3, 0,
                       0, nullptr, nullptr),
            static_cast<DWORD>(ICERR_BADFORMAT));
  EXPECT_EQ(out.bmiHeader.biSizeImage, 0u);
  ICClose(decoder);
  ICClose(hic);
}
