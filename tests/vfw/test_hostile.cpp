// Frames that anyone on the network can send to the DIVX decompressor: stream headers of another size or of a
// stream kind the encoder never writes are refused before they change anything, and whatever a frame did, the
// next correct key frame paints the picture that a fresh decompressor gives. The hostile bytes in data/ were
// found by fuzzing the receiver and the decompressor.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "vfw/stamp.h"
#include "vfw_testutil.h"

using namespace vfwtest;

namespace {

std::vector<uint8_t> Data(const std::string& name) {
  std::ifstream in(std::string(TARVO_HOSTILE_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The data datagram of a stored header-and-data pair (each a 32-bit little-endian length and its bytes).
std::vector<uint8_t> DataDatagram(const std::vector<uint8_t>& pair) {
  const size_t first = pair.at(0) | pair.at(1) << 8 | pair.at(2) << 16 | static_cast<size_t>(pair.at(3)) << 24;
  const size_t at = 4 + first + 4;
  return {pair.begin() + static_cast<long>(at), pair.end()};
}

// Offset of the first start code of this kind.
size_t StartCode(const std::vector<uint8_t>& frame, uint8_t code) {
  for (size_t i = 0; i + 3 < frame.size(); ++i)
    if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == code) return i;
  ADD_FAILURE() << "no start code " << int{code};
  return 0;
}

// Where the unit that starts at the start code of this kind ends: at the next start code.
size_t UnitEnd(const std::vector<uint8_t>& frame, uint8_t code) {
  size_t end = StartCode(frame, code) + 4;
  while (end + 2 < frame.size() && !(frame[end] == 0 && frame[end + 1] == 0 && frame[end + 2] == 1)) ++end;
  return end;
}

// The frame with that unit replaced by `unit`.
std::vector<uint8_t> ReplaceUnit(std::vector<uint8_t> frame, uint8_t code, const std::vector<uint8_t>& unit) {
  const size_t at = StartCode(frame, code), end = UnitEnd(frame, code);
  frame.erase(frame.begin() + static_cast<long>(at), frame.begin() + static_cast<long>(end));
  frame.insert(frame.begin() + static_cast<long>(at), unit.begin(), unit.end());
  return frame;
}

// The layer header's object type (8 bits after its first payload bit) set to type.
std::vector<uint8_t> WithObjectType(std::vector<uint8_t> frame, uint8_t type) {
  const size_t p = StartCode(frame, 0x20) + 4;
  frame[p] = static_cast<uint8_t>((frame[p] & 0x80) | type >> 1);
  frame[p + 1] = static_cast<uint8_t>((frame[p + 1] & 0x7F) | (type & 1) << 7);
  return frame;
}

uint32_t Stamp(const std::vector<uint8_t>& picture) {
  uint32_t seq = 0, ms = 0;
  return DecodeStamp(picture.data(), kWidth, kHeight, seq, ms) ? seq : 0;
}

bool KeyEvery10(uint32_t n) { return n % 10 == 1; }

// Frames laid into one buffer the way the receiver gathers them: each over what the one before left there.
class TReceiverBuffer {
 public:
  explicit TReceiverBuffer(HIC decoder) : FDecoder(decoder), FBuffer(kBuffer, 0) {}
  DWORD Decode(const std::vector<uint8_t>& frame) {
    std::copy(frame.begin(), frame.end(), FBuffer.begin());
    return vfwtest::Decode(FDecoder, FBuffer.data(), Picture.data());
  }
  std::vector<uint8_t> Picture = std::vector<uint8_t>(kBuffer, 0x33);

 private:
  HIC FDecoder;
  std::vector<uint8_t> FBuffer;
};

class HostileFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    FEncoder = OpenDivx();
    FFrames = CompressPattern(FEncoder, 30, KeyEvery10);  // key frames 1, 11, 21
    FDecoder = OpenDecoder();
  }
  void TearDown() override {
    ICClose(FDecoder);
    ICClose(FEncoder);
  }
  const std::vector<uint8_t>& Frame(uint32_t n) const { return FFrames.at(n - 1).Bytes; }

  // What a decoder begun afresh makes of frame n.
  std::vector<uint8_t> FreshPicture(uint32_t n) const {
    HIC fresh = OpenDecoder();
    std::vector<uint8_t> picture(kBuffer, 0x33);
    EXPECT_EQ(vfwtest::Decode(fresh, InBuffer(Frame(n)).data(), picture.data()), static_cast<DWORD>(ICERR_OK));
    ICClose(fresh);
    return picture;
  }

  HIC FEncoder = nullptr;
  HIC FDecoder = nullptr;
  std::vector<TFrame> FFrames;
};

}  // namespace

TEST_F(HostileFrames, TheReproducersAreRefusedAndChangeNothing) {
  const std::vector<uint8_t> studio = DataDatagram(Data("studio-profile.dgrams"));
  const std::vector<uint8_t> huge = Data("header-8191x8191.bin");
  ASSERT_EQ(studio.size(), 12u);
  ASSERT_EQ(huge.size(), 427u);

  TReceiverBuffer receiver(FDecoder);
  for (uint32_t n = 1; n <= 5; ++n) ASSERT_EQ(receiver.Decode(Frame(n)), static_cast<DWORD>(ICERR_OK));
  const std::vector<uint8_t> shown = receiver.Picture;
  for (const auto* hostile : {&studio, &huge, &studio}) {
    EXPECT_EQ(receiver.Decode(*hostile), static_cast<DWORD>(ICERR_BADFORMAT));
    EXPECT_EQ(receiver.Picture, shown);
  }
  // Not even the picture that the next frame predicts from has changed.
  for (uint32_t n = 6; n <= 30; ++n) {
    ASSERT_EQ(receiver.Decode(Frame(n)), static_cast<DWORD>(ICERR_OK)) << "frame " << n;
    EXPECT_EQ(Stamp(receiver.Picture), n);
  }
}

TEST_F(HostileFrames, StreamHeadersOfAnotherKindOrSizeAreRefused) {
  HIC small = OpenDivx();
  BITMAPINFO in = Record(BI_RGB, 176, 144), out = Record(kDivx, 176, 144);
  ASSERT_EQ(ICCompressBegin(small, &in, &out), ICERR_OK);
  std::vector<uint8_t> smallFrame(kBuffer);
  const std::vector<uint8_t> picture = Pattern(1, 0, 176, 144);
  ASSERT_EQ(ICCompress(small, ICCOMPRESS_KEYFRAME, &out.bmiHeader, smallFrame.data(), &in.bmiHeader,
                       const_cast<uint8_t*>(picture.data()), nullptr, nullptr, 1, 0, 0, nullptr, nullptr),
            static_cast<DWORD>(ICERR_OK));
  smallFrame.resize(out.bmiHeader.biSizeImage);
  ICClose(small);

  const std::vector<uint8_t>& key = Frame(11);
  const std::vector<uint8_t> picture11 = std::vector<uint8_t>(key.begin() + static_cast<long>(StartCode(key, 0xB6)),
                                                              key.end());
  std::vector<uint8_t> profileAlone{0, 0, 1, 0xB0, 0x01};
  profileAlone.insert(profileAlone.end(), picture11.begin(), picture11.end());
  const size_t layer = StartCode(key, 0x20);
  const std::vector<uint8_t> layerStart(key.begin() + static_cast<long>(layer), key.begin() + static_cast<long>(layer) + 8);
  ASSERT_GT(UnitEnd(key, 0x20) - layer, layerStart.size());
  struct TCase {
    const char* What;
    std::vector<uint8_t> Bytes;
  };
  const std::vector<TCase> cases = {
      {"a picture of 176 x 144", smallFrame},
      {"the studio profile", ReplaceUnit(key, 0xB0, {0, 0, 1, 0xB0, 0xE4})},
      {"the advanced simple profile", ReplaceUnit(key, 0xB0, {0, 0, 1, 0xB0, 0xF5})},
      {"another object type", WithObjectType(key, 0x11)},
      {"a sequence header without its layer", profileAlone},
      {"a unit the encoder never writes", ReplaceUnit(key, 0xB2, {0, 0, 1, 0xB4, 0x12, 0x34})},
      {"a layer header cut short", ReplaceUnit(key, 0x20, layerStart)},
  };
  TReceiverBuffer receiver(FDecoder);
  for (uint32_t n = 1; n <= 3; ++n) ASSERT_EQ(receiver.Decode(Frame(n)), static_cast<DWORD>(ICERR_OK));
  const std::vector<uint8_t> shown = receiver.Picture;
  for (const TCase& c : cases) {
    EXPECT_EQ(receiver.Decode(c.Bytes), static_cast<DWORD>(ICERR_BADFORMAT)) << c.What;
    EXPECT_EQ(receiver.Picture, shown) << c.What;
  }
  ASSERT_EQ(receiver.Decode(Frame(4)), static_cast<DWORD>(ICERR_OK));
  EXPECT_EQ(Stamp(receiver.Picture), 4u);
}

TEST_F(HostileFrames, AKeyFrameAfterOtherHeadersOrAFailureGetsAFreshDecoder) {
  const std::vector<uint8_t> fresh21 = FreshPicture(21);
  const std::vector<uint8_t>& key = Frame(11);
  const std::vector<uint8_t> xvid = ReplaceUnit(key, 0xB2, {0, 0, 1, 0xB2, 'X', 'v', 'i', 'D', '0', '0', '5', '0'});
  const std::vector<uint8_t> damaged = [&] {
    std::vector<uint8_t> b = key;
    for (size_t i = b.size() / 2; i < b.size() / 2 + 64; ++i) b[i] ^= 0x5A;
    return b;
  }();

  // Another encoder's user data switches libavcodec to that encoder's transform for the rest of its life.
  const std::pair<const char*, const std::vector<uint8_t>*> cases[] = {{"user data of another encoder", &xvid},
                                                                       {"damage", &damaged}};
  for (const auto& [what, odd] : cases) {
    HIC decoder = OpenDecoder();
    TReceiverBuffer receiver(decoder);
    ASSERT_EQ(receiver.Decode(Frame(1)), static_cast<DWORD>(ICERR_OK));
    receiver.Decode(*odd);
    for (uint32_t n = 12; n <= 15; ++n) receiver.Decode(Frame(n));
    ASSERT_EQ(receiver.Decode(Frame(21)), static_cast<DWORD>(ICERR_OK)) << what;
    EXPECT_EQ(receiver.Picture, fresh21) << what;
    ICClose(decoder);
  }
}

TEST(HostileFramesEncoder, EveryStreamTheEncoderWritesIsDecoded) {
  TSettingsGuard guard;
  for (const auto& size : {std::pair{176, 144}, std::pair{360, 290}, std::pair{640, 480}}) {
    for (const TDivxSettings settings : {TDivxSettings{0, 1}, TDivxSettings{4000, 100}}) {
      TDivxSettings::SetCurrent(settings);
      const auto [w, h] = size;
      HIC encoder = OpenDivx(), decoder = OpenDivx();
      BITMAPINFO raw = Record(BI_RGB, w, h), compressed = Record(kDivx, w, h);
      ASSERT_EQ(ICCompressBegin(encoder, &raw, &compressed), ICERR_OK);
      ASSERT_EQ(ICDecompressBegin(decoder, &compressed, &raw), ICERR_OK);
      std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 3), decoded(frame.size());
      for (uint32_t n = 1; n <= 3; ++n) {
        const std::vector<uint8_t> picture = Pattern(n, 0, w, h);
        ASSERT_EQ(ICCompress(encoder, n == 1 ? ICCOMPRESS_KEYFRAME : 0, &compressed.bmiHeader, frame.data(),
                             &raw.bmiHeader, const_cast<uint8_t*>(picture.data()), nullptr, nullptr,
                             static_cast<LONG>(n), 0, 0, nullptr, nullptr),
                  static_cast<DWORD>(ICERR_OK));
        BITMAPINFO in = compressed;
        in.bmiHeader.biSizeImage = static_cast<DWORD>(frame.size());
        EXPECT_EQ(ICDecompress(decoder, 0, &in.bmiHeader, frame.data(), &raw.bmiHeader, decoded.data()),
                  static_cast<DWORD>(ICERR_OK))
            << w << " x " << h << ", quality " << settings.Quality << ", frame " << n;
      }
      ICClose(encoder);
      ICClose(decoder);
    }
  }
}
