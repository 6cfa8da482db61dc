// The hand-off and the frame socket at full speed: a driver thread calls the capture callback as fast as it can,
// the sender thread sends real frames, and the GUI thread handles the frame socket's notifications. Made to run
// under the thread sanitizer; also in the other builds.
#include <cstdio>
#include <cstring>
#include <random>

#include "sender_testing.h"
#include "vfw/stamp.h"

using namespace sender_testing;

namespace {

constexpr std::uint32_t kImage = 352 * 288 * 3;
constexpr int kRunMs = 3000;

struct TStreamCheck {
  std::size_t Frames = 0;
  std::size_t Bytes = 0;
  std::size_t Datagrams = 0;
  std::size_t RuleDatagrams = 0;  // what the frames would have been without a blocked send
  bool Whole = true;
};

// Reads the byte stream the frame port heard: header, bytes, header, bytes ... with nothing lost or reordered.
TStreamCheck CheckStream(const std::vector<TDatagram>& ds) {
  std::string stream;
  for (const TDatagram& d : ds) stream += d.Bytes;
  TStreamCheck c;
  c.Datagrams = ds.size();
  std::size_t pos = 0;
  while (pos < stream.size()) {
    if (stream.size() - pos < 9 || stream.compare(pos, 5, "frame") != 0) {
      c.Whole = false;
      break;
    }
    std::uint32_t size;
    std::memcpy(&size, stream.data() + pos + 5, 4);
    if (stream.size() - pos - 9 < size) {
      c.Whole = false;
      break;
    }
    pos += 9 + size;
    ++c.Frames;
    c.Bytes += size;
    c.RuleDatagrams += ExpectedDatagrams(size).size();
  }
  return c;
}

void Summarise(std::uint64_t calls, std::uint32_t taken, const TStreamCheck& c) {
  std::printf("%llu callbacks, %u frames taken, %zu sent (%zu bytes) in %zu datagrams (%zu by the block rule)\n",
              static_cast<unsigned long long>(calls), taken, c.Frames, c.Bytes, c.Datagrams, c.RuleDatagrams);
}

class HandOffStress : public ::testing::Test {
 protected:
  void SetUp() override {
    SENDER_NEED_LAN();
    Sink = std::make_unique<TUdpSink>(7710);
    F = CreateForm();
    ClearBoxes();
    // Noisy pictures compress to frames of several pieces each.
    std::mt19937 random(7);
    for (std::uint32_t n = 0; n < 8; ++n) {
      Pictures.emplace_back(kImage);
      for (BYTE& b : Pictures.back()) b = static_cast<BYTE>(random());
      StampFrame(Pictures.back().data(), 352, 288, n, n);
    }
  }
  void TearDown() override {
    if (Form1) DestroyForm();
  }

  // Start, a driver at full speed for kRunMs while the GUI thread pumps, and on until more than minFrames were
  // taken and one at least dropped (a loaded machine makes fewer in the time); capture stop, Stop, and the drain
  // of what is still queued. Returns the number of callback calls.
  std::uint64_t Run(const std::function<void()>& afterStart, std::uint32_t minFrames) {
    F->StartBtnClick(F->StartBtn);
    EXPECT_TRUE(Boxes().empty());
    afterStart();
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> calls{0};
    std::thread driver([&] {
      VIDEOHDR h{};
      h.dwBufferLength = h.dwBytesUsed = kImage;
      for (std::uint64_t n = 0; !stop.load(std::memory_order_relaxed); ++n) {
        h.lpData = Pictures[n % Pictures.size()].data();
        VideoStreamCallback(nullptr, &h);
        calls.fetch_add(1, std::memory_order_relaxed);
      }
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(PumpUntil([&] {
      const std::uint32_t taken = F->FrameCount.load();
      return std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(kRunMs) && taken > minFrames &&
             calls.load() > taken;
    })) << F->FrameCount.load() << " frames taken";
    stop = true;
    driver.join();  // as capCaptureStop does: no callback runs after this
    F->StopBtnClick(F->StopBtn);
    // What the queue still holds leaves on the GUI thread's write notifications: every frame taken but the one
    // that waited when Stop came, and then nothing more for a while.
    const std::uint32_t taken = F->FrameCount.load();
    std::size_t checked = 0;
    PumpUntil([&] {
      if (Sink->Count() == checked) return false;
      checked = Sink->Count();
      return CheckStream(Sink->Datagrams()).Frames + 1 >= taken;
    });
    std::size_t heard = Sink->Count();
    auto quietSince = std::chrono::steady_clock::now();
    PumpUntil(
        [&] {
          const auto now = std::chrono::steady_clock::now();
          if (Sink->Count() != heard) {
            heard = Sink->Count();
            quietSince = now;
          }
          return now - quietSince > std::chrono::milliseconds(500);
        },
        30000);
    return calls.load();
  }

  std::unique_ptr<TUdpSink> Sink;
  TForm1* F = nullptr;
  std::vector<std::vector<BYTE>> Pictures;
};

}  // namespace

TEST_F(HandOffStress, FullSpeedWithRealSends) {
  const std::uint64_t calls = Run([] {}, 5);
  const std::uint32_t taken = F->FrameCount.load();
  EXPECT_GT(taken, 5u);
  EXPECT_GT(calls, taken);  // frames were dropped while the buffer was taken
  TStreamCheck c = CheckStream(Sink->Datagrams());
  Summarise(calls, taken, c);
  EXPECT_TRUE(c.Whole);
  EXPECT_GE(c.Frames + 1, taken);
  EXPECT_LE(c.Frames, taken);
  EXPECT_EQ(c.Datagrams, c.RuleDatagrams);
  EXPECT_EQ(F->FrameLabel->Text(), std::to_string(taken));
}

TEST_F(HandOffStress, FullSpeedWithSendsThatWouldBlock) {
  // A send buffer of a few datagrams and a slow link behind it: sends block, the queue keeps the rest, and the
  // GUI thread's write notifications and the sender thread's next sends empty it.
  struct TQdisc {
    bool Made = Shell("tc qdisc replace dev eth0 root tbf rate 8mbit burst 3kb latency 500ms") == 0;
    ~TQdisc() {
      if (Made) Shell("tc qdisc del dev eth0 root");
    }
  } qdisc;
  if (!qdisc.Made) GTEST_SKIP() << "cannot shape the LAN host's link with tbf";
  const std::uint64_t calls = Run([&] {
    int fd = SocketFd(F->WSocket1);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SetSendBuffer(fd, 1));
  }, 3);
  const std::uint32_t taken = F->FrameCount.load();
  EXPECT_GT(taken, 3u);
  EXPECT_GT(calls, taken);
  TStreamCheck c = CheckStream(Sink->Datagrams());
  Summarise(calls, taken, c);
  EXPECT_TRUE(c.Whole);
  EXPECT_GE(c.Frames + 1, taken);
  EXPECT_LE(c.Frames, taken);
  EXPECT_LT(c.Datagrams, c.RuleDatagrams) << "no send would block: the queue never merged blocks";
}
