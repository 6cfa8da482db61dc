// The frame broadcast: frames handed to the sender thread with a prepared OutFrame, and what the frame port hears.
#include <cstring>

#include "sender_testing.h"

using namespace sender_testing;

namespace {

class FrameBroadcast : public ::testing::Test {
 protected:
  void SetUp() override {
    SENDER_NEED_LAN();
    Sink = std::make_unique<TUdpSink>(7710);
    F = CreateForm();
    ClearBoxes();
    F->StartBtnClick(F->StartBtn);  // no capture window: only the sender thread runs
    ASSERT_TRUE(Boxes().empty());
    ASSERT_NE(F->SendThread, nullptr);
  }
  void TearDown() override {
    if (Form1) DestroyForm();
  }
  // Hands the frame over and waits until the thread gives the buffer back.
  void Send(std::uint32_t size) {
    HandOver(F, size);
    ASSERT_TRUE(PumpUntil([&] { return F->CanCompress.load() == 1; })) << "frame of " << size << " bytes";
    EXPECT_EQ(F->FrameReady.load(), 0);
  }
  std::unique_ptr<TUdpSink> Sink;
  TForm1* F = nullptr;
};

}  // namespace

TEST_F(FrameBroadcast, FramesTravelAsHeaderAndQueueBlocks) {
  std::uint16_t port = 0;
  for (std::uint32_t size : {0u, 3000u, 10240u, 10241u, 25000u, 304192u}) {
    SCOPED_TRACE("frame of " + std::to_string(size) + " bytes");
    Sink->Clear();
    Send(size);
    const std::vector<std::size_t> expected = ExpectedDatagrams(size);
    ASSERT_TRUE(Sink->WaitFor(expected.size()));
    Sink->WaitQuiet(30);
    std::vector<TDatagram> ds = Sink->Datagrams();
    ASSERT_EQ(ds.size(), expected.size());

    const std::string& h = ds[0].Bytes;
    ASSERT_EQ(h.size(), 9u);
    EXPECT_EQ(h.substr(0, 5), "frame");
    EXPECT_EQ(static_cast<std::uint8_t>(h[5]), size & 0xFF);
    EXPECT_EQ(static_cast<std::uint8_t>(h[6]), (size >> 8) & 0xFF);
    EXPECT_EQ(static_cast<std::uint8_t>(h[7]), (size >> 16) & 0xFF);
    EXPECT_EQ(static_cast<std::uint8_t>(h[8]), size >> 24);

    std::string data;
    for (std::size_t k = 0; k < ds.size(); ++k) {
      EXPECT_EQ(ds[k].Bytes.size(), expected[k]) << "datagram " << k;
      EXPECT_EQ(ds[k].To, "255.255.255.255");
      if (port == 0) port = ds[k].FromPort;
      EXPECT_EQ(ds[k].FromPort, port);
      if (k > 0) data += ds[k].Bytes;
    }
    ASSERT_EQ(data.size(), size);
    for (std::uint32_t i = 0; i < size; ++i)
      ASSERT_EQ(static_cast<std::uint8_t>(data[i]), FrameByte(size, i)) << "byte " << i;
  }
  EXPECT_EQ(ExpectedDatagrams(25000).size(), 18u);
  EXPECT_EQ(ExpectedDatagrams(3000), (std::vector<std::size_t>{9, 1514, 1486}));
}

TEST_F(FrameBroadcast, SizeBeyondTheBufferIsNotSentAndCaptureGoesOn) {
  Sink->Clear();
  Send(F->FrameBufferSize() + 1);
  Sink->WaitQuiet(100);
  EXPECT_EQ(Sink->Count(), 0u);
  Send(100);
  EXPECT_TRUE(Sink->WaitFor(2));
}

TEST_F(FrameBroadcast, StopDuringALongFrameCompletesItOnTheWire) {
  const std::uint32_t size = F->FrameBufferSize();
  const std::size_t expected = ExpectedDatagrams(size).size();
  ASSERT_EQ(expected, 209u);
  Sink->Clear();
  HandOver(F, size);
  ASSERT_TRUE(Sink->WaitFor(2));
  F->StopBtnClick(F->StopBtn);
  EXPECT_EQ(F->SendThread, nullptr);
  EXPECT_TRUE(Sink->WaitFor(expected));
  Sink->WaitQuiet(30);
  EXPECT_EQ(Sink->Count(), expected);
  EXPECT_EQ(F->CanCompress.load(), 1);
  EXPECT_EQ(F->FrameReady.load(), 0);
}
