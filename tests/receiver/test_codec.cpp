// The receiver with real compressed frames: what it paints is the decoded frame at the top left, it joins a
// stream in the middle at the next key frame, and after lost datagrams it is right again by the next key frame.
#include <set>

#include "receiver_fixture.h"

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;

class TCodecTest : public TReceiverTest {
 protected:
  void SetUp() override {
    TReceiverTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Answer();
  }

  // Sends frame seq (1-based) of FFrames as the sender would, leaving out the datagrams named in drop (0 is the
  // header). Returns the number of paints it caused.
  int SendFrame(std::uint32_t seq, std::set<std::size_t> drop = {}) {
    std::vector<std::string> datagrams = FrameDatagrams(FFrames.at(seq - 1));
    std::vector<std::string> sent;
    for (std::size_t i = 0; i < datagrams.size(); ++i)
      if (!drop.count(i)) sent.push_back(datagrams[i]);
    const int before = Paints();
    Deliver(sent);
    return Paints() - before;
  }

  // The stamp the window shows; 0 when it shows none.
  std::uint32_t ShownStamp() {
    std::vector<BYTE> picture;
    std::uint32_t seq = 0;
    if (!SurfacePicture(picture) || !PictureStamp(picture, seq)) return 0;
    return seq;
  }

  std::vector<std::string> FFrames;
};

}  // namespace

TEST_F(TCodecTest, PaintsTheDecodedFrameAtTheTopLeft) {
  FFrames = EncodeStream(3, 125);
  ASSERT_EQ(FFrames.size(), 3u);

  // The same frames decoded here, as the picture to expect.
  HIC codec = ICOpen(ICTYPE_VIDEO, mmioFOURCC('D', 'I', 'V', 'X'), ICMODE_FASTCOMPRESS);
  ASSERT_NE(codec, nullptr);
  BITMAPINFO in = Form1->InFormat, out = Form1->OutFormat;
  ASSERT_EQ(ICDecompressBegin(codec, &in, &out), ICERR_OK);
  std::vector<BYTE> input(Form1->FrameBufferSize()), expected(Form1->FrameBufferSize());

  for (std::uint32_t seq = 1; seq <= 3; ++seq) {
    const std::string& frame = FFrames[seq - 1];
    std::copy(frame.begin(), frame.end(), input.begin());
    ASSERT_EQ(ICDecompress(codec, 0, &in.bmiHeader, input.data(), &out.bmiHeader, expected.data()),
              static_cast<DWORD>(ICERR_OK));
    ASSERT_EQ(SendFrame(seq), 1) << "frame " << seq;
    std::vector<BYTE> shown;
    ASSERT_TRUE(SurfacePicture(shown));
    ASSERT_TRUE(std::equal(shown.begin(), shown.end(), expected.begin())) << "frame " << seq;
    EXPECT_EQ(ShownStamp(), seq);
    // The codec is always given the whole buffer and finds the frame's end itself.
    EXPECT_EQ(Form1->InFormat.bmiHeader.biSizeImage, 304128u);
  }
  ICDecompressEnd(codec);
  ICClose(codec);
}

TEST_F(TCodecTest, JoinsAStreamAtItsNextKeyFrame) {
  FFrames = EncodeStream(25, 10);  // key frames 1, 11, 21
  ASSERT_EQ(FFrames.size(), 25u);
  for (std::uint32_t seq = 4; seq <= 10; ++seq) {
    EXPECT_EQ(SendFrame(seq), 1) << "frame " << seq;
    EXPECT_EQ(ShownStamp(), 0u) << "frame " << seq << " shown without its key frame";
  }
  for (std::uint32_t seq = 11; seq <= 25; ++seq) {
    EXPECT_EQ(SendFrame(seq), 1) << "frame " << seq;
    EXPECT_EQ(ShownStamp(), seq);
  }
}

TEST_F(TCodecTest, IsRightAgainByTheNextKeyFrameAfterLoss) {
  FFrames = EncodeStream(31, 10);  // key frames 1, 11, 21, 31
  ASSERT_EQ(FFrames.size(), 31u);
  ASSERT_GE(FrameDatagrams(FFrames[3]).size(), 3u);
  ASSERT_GE(FrameDatagrams(FFrames[10]).size(), 4u);

  for (std::uint32_t seq = 1; seq <= 3; ++seq) {
    ASSERT_EQ(SendFrame(seq), 1);
    EXPECT_EQ(ShownStamp(), seq);
  }
  // A data datagram lost: the frame never completes, and the next header starts the next frame.
  EXPECT_EQ(SendFrame(4, {2}), 0);
  EXPECT_EQ(SendFrame(5), 1);
  for (std::uint32_t seq = 6; seq <= 10; ++seq) EXPECT_EQ(SendFrame(seq), 1);
  // A key frame's data datagram lost: nothing is painted for it, the frames after it are damaged or refused.
  EXPECT_EQ(SendFrame(11, {3}), 0);
  for (std::uint32_t seq = 12; seq <= 20; ++seq) SendFrame(seq);
  for (std::uint32_t seq = 21; seq <= 23; ++seq) {
    EXPECT_EQ(SendFrame(seq), 1);
    EXPECT_EQ(ShownStamp(), seq);
  }
  // A header lost: its frame's bytes land behind the previous frame, which is painted again for each of them.
  EXPECT_GE(SendFrame(24, {0}), 1);
  for (std::uint32_t seq = 25; seq <= 30; ++seq) EXPECT_EQ(SendFrame(seq), 1);
  EXPECT_EQ(SendFrame(31), 1);
  EXPECT_EQ(ShownStamp(), 31u);
}
