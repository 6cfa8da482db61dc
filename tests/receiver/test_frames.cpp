// How the receiver tells frame headers from frame data on port 7710, gathers a frame, keeps within its frame
// buffer, ignores failed receives, and paints.
#include <algorithm>
#include <cstring>

#include "receiver_fixture.h"

namespace {

using std::chrono::milliseconds;

class TFramesTest : public TReceiverTest {
 protected:
  void SetUp() override {
    TReceiverTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Answer();
    FPaints = Paints();
  }
  int NewPaints() const { return Paints() - FPaints; }
  int FPaints = 0;
};

}  // namespace

TEST_F(TFramesTest, HeaderIsExactlyNineBytesBeginningFrame) {
  Deliver(std::string("frame\x00\x10\x00\x00", 9), [] { return Form1->FrameSize == 4096; });
  EXPECT_EQ(Form1->Received, 0u);

  // In the middle of a frame a header abandons what was gathered.
  Deliver(std::string(1514, 'a'), [] { return Form1->Received == 1514; });
  Deliver(FrameHeader(0x01020304), [] { return Form1->FrameSize == 0x01020304; });
  EXPECT_EQ(Form1->Received, 0u);

  // Not headers: frame data, counted in full.
  std::uint32_t expected = 0;
  for (const std::string& d : {std::string("Frame\x00\x10\x00\x00", 9), std::string("frame\x00\x10\x00", 8),
                               std::string("frame\x00\x10\x00\x00\x00", 10), std::string("FRAME1234", 9),
                               std::string("frame", 5)}) {
    expected += static_cast<std::uint32_t>(d.size());
    Deliver(d, [&] { return Form1->Received == expected; });
    EXPECT_EQ(Form1->FrameSize, 0x01020304u);
  }
  EXPECT_EQ(0, std::memcmp(Form1->InFrame, "Frame\x00\x10\x00\x00" "frame", 14));
  EXPECT_EQ(NewPaints(), 0);
}

TEST_F(TFramesTest, FrameIsPaintedOnceItsBytesAreIn) {
  Deliver(FrameHeader(3000), [] { return Form1->FrameSize == 3000; });
  Deliver(std::string(1514, 'a'));
  EXPECT_EQ(Form1->Received, 1514u);
  EXPECT_EQ(NewPaints(), 0);
  Deliver(std::string(1486, 'b'), [&] { return NewPaints() == 1; });
  EXPECT_EQ(Form1->Received, 3000u);
  EXPECT_EQ(Form1->FrameSize, 3000u);

  // Data after a complete frame goes behind it and the frame is painted again.
  Deliver(std::string(100, 'c'), [&] { return NewPaints() == 2; });
  EXPECT_EQ(Form1->Received, 3100u);
  EXPECT_EQ(Form1->InFrame[3000], 'c');

  // A frame announced as 0 bytes is complete with its first data datagram.
  Deliver(FrameHeader(0), [] { return Form1->FrameSize == 0 && Form1->Received == 0; });
  Deliver(std::string(7, 'd'), [&] { return NewPaints() == 3; });
  EXPECT_EQ(Form1->Received, 7u);
}

TEST_F(TFramesTest, BeforeTheFirstHeaderEveryDatagramIsPainted) {
  ASSERT_EQ(Form1->FrameSize, 0u);
  Deliver(std::string(500, 'a'), [&] { return NewPaints() == 1; });
  Deliver(std::string(500, 'b'), [&] { return NewPaints() == 2; });
  EXPECT_EQ(Form1->Received, 1000u);
  // An empty datagram is data too: it completes nothing new but counts as received.
  Deliver(std::string(), [&] { return NewPaints() == 3; });
  EXPECT_EQ(Form1->Received, 1000u);
}

TEST_F(TFramesTest, NothingIsWrittenPastTheFrameBuffer) {
  const std::uint32_t capacity = Form1->FrameBufferSize();
  Deliver(FrameHeader(0xFFFFFFFF), [] { return Form1->FrameSize == 0xFFFFFFFF; });
  // 29 pieces of 10240 fit (296,960 bytes); the 30th would end at 307,200, past the 304,192 of the buffer.
  std::vector<std::string> pieces;
  for (int i = 0; i < 30; ++i) pieces.push_back(std::string(10240, static_cast<char>('A' + i % 26)));
  Deliver(pieces);
  EXPECT_EQ(Form1->Received, 29u * 10240u);
  EXPECT_LE(Form1->Received, capacity);
  EXPECT_TRUE(Form1->Overflowed);
  // What would still fit is not taken either: the frame is given up until the next header.
  Deliver(std::string(7000, 'z'));
  EXPECT_EQ(Form1->Received, 29u * 10240u);
  EXPECT_EQ(NewPaints(), 0);

  // The next header starts afresh.
  Deliver(FrameHeader(3000), [] { return Form1->FrameSize == 3000 && Form1->Received == 0; });
  EXPECT_FALSE(Form1->Overflowed);
  Deliver({std::string(1514, 'a'), std::string(1486, 'b')}, [&] { return NewPaints() == 1; });

  // Without any header the count also stops at the buffer's end and nothing is painted past it.
  Answer();  // Received back to 0; FrameSize stays 3000, so every datagram completes the frame
  const int before = NewPaints();
  std::vector<std::string> many(40, std::string(9000, 'q'));  // 360,000 bytes in all
  Deliver(many);
  EXPECT_EQ(Form1->Received, 33u * 9000u);
  EXPECT_EQ(NewPaints() - before, 33);
}

TEST_F(TFramesTest, FailedReceiveCountsNothing) {
  Deliver(FrameHeader(5000), [] { return Form1->FrameSize == 5000; });
  Deliver(std::string(1514, 'a'), [] { return Form1->Received == 1514; });

  // Nothing waits: Receive fails (would block) and the handler must not count its -1.
  for (int i = 0; i < 3; ++i) Form1->WSocket1DataAvailable(Form1->WSocket1, 0);
  EXPECT_EQ(Form1->Received, 1514u);
  EXPECT_EQ(Form1->FrameSize, 5000u);

  // A datagram longer than the receive buffer fails as well (its bytes are lost).
  Deliver(std::string(12000, 'x'));
  EXPECT_EQ(Form1->Received, 1514u);
  EXPECT_EQ(NewPaints(), 0);

  // The frame goes on being gathered as if nothing had happened.
  Deliver(std::string(3486, 'b'), [&] { return NewPaints() == 1; });
  EXPECT_EQ(Form1->Received, 5000u);
  Form1->Received = 0;

  // On a closed frame socket too.
  Form1->WSocket1->Close();
  Form1->WSocket1DataAvailable(Form1->WSocket1, 0);
  EXPECT_EQ(Form1->Received, 0u);
}

TEST_F(TFramesTest, WindowShowsFormColourUntilTheFirstDataThenWhatOutFrameHolds) {
  // RGB 86, 118, 117.
  EXPECT_EQ(WindowPixel(0, 0), 0x567675u);
  EXPECT_EQ(WindowPixel(351, 287), 0x567675u);
  std::vector<BYTE> picture;
  EXPECT_FALSE(SurfacePicture(picture)) << "painted before any frame";

  Deliver(FrameHeader(100), [] { return Form1->FrameSize == 100; });
  EXPECT_EQ(WindowPixel(10, 10), 0x567675u);

  // Garbage does not decode: OutFrame, still zero, is painted: the whole client area goes black.
  Deliver(std::string(100, '\x55'), [&] { return NewPaints() == 1; });
  ASSERT_TRUE(SurfacePicture(picture));
  EXPECT_TRUE(std::all_of(picture.begin(), picture.end(), [](BYTE b) { return b == 0; }));
  ASSERT_TRUE(PumpUntil([&] { return WindowPixel(0, 0) == 0; }));
  EXPECT_EQ(WindowPixel(351, 287), 0u);
}
