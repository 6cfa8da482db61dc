// The capture pipeline: the callback's rule (taken, dropped, counted, key frames, copies bounded by the
// buffers), Start and Stop with the test-pattern driver, the failures of Start and of the network while sending.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>

#include "SendThread.h"
#include "sender_testing.h"
#include "vfw/stamp.h"

extern char** environ;

using namespace sender_testing;

namespace {

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path);
  return static_cast<bool>(std::getline(in, text));
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text << '\n';
  return static_cast<bool>(out.flush());
}

constexpr std::uint32_t kImage = 352 * 288 * 3;

// A picture of the pattern's kind: a gradient that moves with n, stamped with n.
std::vector<BYTE> Picture(std::uint32_t n) {
  std::vector<BYTE> p(kImage);
  for (std::uint32_t i = 0; i < kImage; ++i) p[i] = static_cast<BYTE>((i / 3 % 352) + n * 3 + i % 3 * 40);
  StampFrame(p.data(), 352, 288, n, n * 40);
  return p;
}

LRESULT Deliver(BYTE* data, DWORD used, DWORD bufferLength) {
  VIDEOHDR h{};
  h.lpData = data;
  h.dwBytesUsed = used;
  h.dwBufferLength = bufferLength;
  return VideoStreamCallback(nullptr, &h);
}

// Gives the buffer back as the sender thread does.
void Release(TForm1* f) {
  f->FrameReady.store(0, std::memory_order_release);
  f->CanCompress.store(1, std::memory_order_release);
}

class CaptureCallback : public ::testing::Test {
 protected:
  void SetUp() override {
    SENDER_NEED_LAN();  // a form says "exit" to the network when it goes
    F = CreateForm();
    ASSERT_EQ(ICCompressBegin(F->Codec, &F->InFormat, &F->OutFormat), ICERR_OK);
    F->CanCompress = 1;
  }
  void TearDown() override {
    if (!F) return;
    ICCompressEnd(F->Codec);
    DestroyForm();
  }
  TForm1* F = nullptr;
};

}  // namespace

TEST_F(CaptureCallback, CountsTakenFramesAndMakesKeyFramesEvery125) {
  for (std::uint32_t n = 1; n <= 252; ++n) {
    std::vector<BYTE> p = Picture(n);
    ASSERT_EQ(Deliver(p.data(), kImage, kImage), TRUE);
    ASSERT_EQ(F->FrameCount.load(), n);
    ASSERT_EQ(F->FrameReady.load(), 1);
    ASSERT_EQ(F->CanCompress.load(), 0);
    ASSERT_EQ(F->OutSize, F->OutFormat.bmiHeader.biSizeImage);
    ASSERT_GT(F->OutSize, 0u);
    ASSERT_LE(F->OutSize, kImage);
    const char expected = n % 125 == 1 ? 'I' : 'P';
    ASSERT_EQ(PictureType(F->OutFrame, F->OutSize), expected) << "frame " << n;
    ASSERT_EQ(F->FrameLabel->Text(), std::to_string(n));

    if (n == 7) {
      // While the buffer is taken a frame is dropped: nothing counted, copied or compressed.
      const std::uint32_t size = F->OutSize;
      std::vector<BYTE> out(F->OutFrame, F->OutFrame + size);
      std::vector<BYTE> other = Picture(999);
      ASSERT_EQ(Deliver(other.data(), kImage, kImage), TRUE);
      EXPECT_EQ(F->FrameCount.load(), 7u);
      EXPECT_EQ(F->FrameLabel->Text(), "7");
      EXPECT_EQ(F->OutSize, size);
      EXPECT_TRUE(std::equal(out.begin(), out.end(), F->OutFrame));
      EXPECT_TRUE(std::equal(p.begin(), p.end(), F->InFrame));
    }
    Release(F);
  }
}

TEST_F(CaptureCallback, CountWrapsAndTheKeyRuleGoesOn) {
  std::vector<BYTE> p = Picture(1);
  ASSERT_EQ(Deliver(p.data(), kImage, kImage), TRUE);  // the stream's first picture
  Release(F);
  F->FrameCount = 0xFFFFFFFEu;
  const std::pair<std::uint32_t, char> expected[] = {{0xFFFFFFFFu, 'P'}, {0, 'P'}, {1, 'I'}, {2, 'P'}};
  std::uint32_t n = 2;
  for (auto [count, type] : expected) {
    p = Picture(n++);
    Deliver(p.data(), kImage, kImage);
    EXPECT_EQ(F->FrameCount.load(), count);
    EXPECT_EQ(PictureType(F->OutFrame, F->OutSize), type) << "count " << count;
    EXPECT_EQ(F->FrameLabel->Text(), std::to_string(count));
    Release(F);
  }
}

TEST_F(CaptureCallback, CopiesWhatTheDriverDeliversWithinTheBuffers) {
  const std::uint32_t capacity = F->FrameBufferSize();
  // A short frame: the rest of InFrame keeps the previous bytes (zeros at first).
  std::vector<BYTE> shortFrame(1000, 0xAB);
  Deliver(shortFrame.data(), 1000, 1000);
  EXPECT_TRUE(std::all_of(F->InFrame, F->InFrame + 1000, [](BYTE b) { return b == 0xAB; }));
  EXPECT_TRUE(std::all_of(F->InFrame + 1000, F->InFrame + capacity, [](BYTE b) { return b == 0; }));
  Release(F);

  // A frame larger than InFrame is cut to the buffer.
  std::vector<BYTE> longFrame(400000, 0x22);
  Deliver(longFrame.data(), 400000, 400000);
  EXPECT_TRUE(std::all_of(F->InFrame, F->InFrame + capacity, [](BYTE b) { return b == 0x22; }));
  Release(F);

  // Never more than the driver's buffer holds, whatever it claims to have used.
  std::vector<BYTE> small(2000, 0x33);
  Deliver(small.data(), kImage, 2000);
  EXPECT_TRUE(std::all_of(F->InFrame, F->InFrame + 2000, [](BYTE b) { return b == 0x33; }));
  EXPECT_EQ(F->InFrame[2000], 0x22);
  Release(F);

  // No data at all: counted and compressed from what InFrame holds.
  Deliver(nullptr, 5000, 5000);
  EXPECT_EQ(F->FrameCount.load(), 4u);
  EXPECT_EQ(F->FrameReady.load(), 1);
  Release(F);
}

// ---- Start and Stop ---------------------------------------------------------------------------------------------------

namespace {

class StartStop : public ::testing::Test {
 protected:
  void SetUp() override { ClearBoxes(); }
  void TearDown() override {
    SetBoxHook(nullptr);
    if (Form1) DestroyForm();
  }
  static void ExpectSending(TForm1* f, bool sending) {
    EXPECT_EQ(f->StartBtn->Enabled(), !sending);
    EXPECT_EQ(f->SetupBtn->Enabled(), !sending);
    EXPECT_EQ(f->CloseBtn->Enabled(), !sending);
    EXPECT_EQ(f->StopBtn->Enabled(), sending);
    EXPECT_TRUE(f->CodecSetupBtn->Enabled());
  }
};

struct TParsedFrame {
  std::uint32_t Size = 0;
  std::string Bytes;
};

// Splits what the frame port heard into frames, checking that each follows the datagram rule.
std::vector<TParsedFrame> ParseFrames(const std::vector<TDatagram>& ds) {
  std::vector<TParsedFrame> frames;
  std::size_t i = 0;
  while (i < ds.size()) {
    const std::string& h = ds[i].Bytes;
    EXPECT_EQ(h.size(), 9u) << "datagram " << i << " should be a header";
    EXPECT_EQ(h.substr(0, 5), "frame");
    if (h.size() != 9) return frames;
    TParsedFrame f;
    std::memcpy(&f.Size, h.data() + 5, 4);
    const std::vector<std::size_t> expected = ExpectedDatagrams(f.Size);
    for (std::size_t k = 1; k < expected.size(); ++k) {
      if (i + k >= ds.size()) {
        ADD_FAILURE() << "frame of " << f.Size << " bytes is cut short";
        return frames;
      }
      EXPECT_EQ(ds[i + k].Bytes.size(), expected[k]) << "frame of " << f.Size << " bytes, datagram " << k;
      f.Bytes += ds[i + k].Bytes;
    }
    i += expected.size();
    frames.push_back(std::move(f));
  }
  return frames;
}

}  // namespace

TEST_F(StartStop, LiveCaptureSendsCountedFramesUntilStop) {
  SENDER_NEED_LAN();
  TUdpSink frames(7710);
  TForm1* f = CreateForm();
  f->Show();
  EXPECT_TRUE(Boxes().empty());
  ASSERT_NE(f->CapWnd, nullptr);
  EXPECT_EQ(f->CapParms.dwRequestMicroSecPerFrame, 40000u);
  EXPECT_TRUE(f->CapParms.fYield);
  EXPECT_FALSE(f->CapParms.fAbortLeftMouse);
  EXPECT_FALSE(f->CapParms.fAbortRightMouse);
  EXPECT_EQ(Screen->Cursor(), crDefault);

  f->StartBtnClick(f->StartBtn);
  ExpectSending(f, true);
  ASSERT_NE(f->SendThread, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= 10; }));

  // The counter reaches the label without the GUI thread: capture goes on while it does not pump.
  const std::uint32_t before = f->FrameCount.load();
  EXPECT_TRUE(WaitUntil([&] { return f->FrameCount.load() >= before + 5; }));

  f->StopBtnClick(f->StopBtn);
  ExpectSending(f, false);
  EXPECT_EQ(f->SendThread, nullptr);
  const std::uint32_t counted = f->FrameCount.load();
  EXPECT_EQ(f->FrameLabel->Text(), std::to_string(counted));
  PumpFor(100);
  EXPECT_EQ(f->FrameCount.load(), counted);  // capture has stopped

  // Every counted frame but the one that waited when Stop came is on its way; then nothing more comes.
  WaitUntil([&] { return ParseFrames(frames.Datagrams()).size() + 1 >= counted; });
  frames.WaitQuiet(200);
  std::vector<TDatagram> ds = frames.Datagrams();
  for (const TDatagram& d : ds) {
    EXPECT_EQ(d.To, "255.255.255.255");
    EXPECT_EQ(d.From, GHostAddress);
    EXPECT_EQ(d.FromPort, ds.front().FromPort);
  }
  std::vector<TParsedFrame> sent = ParseFrames(ds);
  // The frame that waited when Stop came is not sent.
  ASSERT_GE(sent.size() + 1, counted);
  ASSERT_LE(sent.size(), counted);
  for (std::size_t k = 0; k < sent.size(); ++k) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(sent[k].Bytes.data());
    EXPECT_EQ(PictureType(b, sent[k].Size), k == 0 ? 'I' : 'P') << "frame " << k + 1;
  }

  // What went out is the driver's picture: the first frame decodes to a stamped pattern.
  HIC decoder = ICOpen(ICTYPE_VIDEO, mmioFOURCC('D', 'I', 'V', 'X'), ICMODE_FASTDECOMPRESS);
  ASSERT_NE(decoder, nullptr);
  BITMAPINFO in = f->OutFormat;
  BITMAPINFO out = f->InFormat;
  in.bmiHeader.biSizeImage = sent.front().Size;
  ASSERT_EQ(ICDecompressBegin(decoder, &in, &out), ICERR_OK);
  std::vector<BYTE> picture(f->FrameBufferSize());
  EXPECT_EQ(ICDecompress(decoder, 0, &in.bmiHeader, sent.front().Bytes.data(), &out.bmiHeader, picture.data()),
            static_cast<DWORD>(ICERR_OK));
  std::uint32_t seq = 0, ms = 0;
  EXPECT_TRUE(DecodeStamp(picture.data(), 352, 288, seq, ms));
  ICDecompressEnd(decoder);
  ICClose(decoder);

  // The next Start counts from 1 again.
  frames.Clear();
  f->StartBtnClick(f->StartBtn);
  EXPECT_EQ(f->FrameCount.load(), 0u);
  ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= 2; }));
  f->StopBtnClick(f->StopBtn);
  frames.WaitQuiet(200);
  std::vector<TParsedFrame> again = ParseFrames(frames.Datagrams());
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(PictureType(reinterpret_cast<const std::uint8_t*>(again.front().Bytes.data()), again.front().Size), 'I');
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(StartStop, CompressorRefusingToBeginLeavesTheButtons) {
  SENDER_NEED_LAN();
  TUdpSink frames(7710);
  TForm1* f = CreateForm();
  ClearBoxes();

  const auto refusedStart = [&](const char* what) {
    SCOPED_TRACE(what);
    ClearBoxes();
    f->StartBtnClick(f->StartBtn);
    std::vector<TBox> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "Error Init compressor！");
    EXPECT_EQ(boxes[0].Caption, "error");
    EXPECT_EQ(boxes[0].Type, MB_OK | MB_ICONERROR);
    ExpectSending(f, true);
    EXPECT_EQ(f->SendThread, nullptr);
    f->StopBtnClick(f->StopBtn);
    ExpectSending(f, false);
    EXPECT_EQ(Boxes().size(), 1u);
  };

  // A format the codec does not take.
  f->InFormat.bmiHeader.biBitCount = 16;
  refusedStart("refused format");
  f->InFormat.bmiHeader.biBitCount = 24;
  f->StartBtnClick(f->StartBtn);
  EXPECT_NE(f->SendThread, nullptr);
  f->StopBtnClick(f->StopBtn);

  // No codec at all: every call on the handle 0 fails harmlessly.
  ICClose(f->Codec);
  f->Codec = nullptr;
  ClearBoxes();
  f->CodecSetupBtnClick(f->CodecSetupBtn);
  EXPECT_TRUE(Boxes().empty());
  refusedStart("no codec");
  frames.WaitQuiet(100);
  EXPECT_EQ(frames.Count(), 0u);
}

TEST_F(StartStop, FrameSocketFailingEndsTheThreadAtItsFirstFrame) {
  SENDER_NEED_LAN();
  TForm1* f = CreateForm();
  f->Show();
  ClearBoxes();
  const std::thread::id gui = std::this_thread::get_id();
  std::atomic<int> offGui{0};

  // No local port is left for the frame socket to bind to; the network box gives them back.
  const std::string range = "/proc/sys/net/ipv4/ip_local_port_range";
  std::string saved;
  ASSERT_TRUE(ReadFile(range, saved));
  TPortHolder first(40000), second(40001);
  SetBoxHook([&](const TBox&) { WriteFile(range, saved); });
  ASSERT_TRUE(WriteFile(range, "40000 40001"));
  f->StartBtnClick(f->StartBtn);
  WriteFile(range, saved);
  SetBoxHook(nullptr);

  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "请检查您的TCP/IP协议是否安装!!!");
  EXPECT_EQ(boxes[0].Caption, "网络错误");
  EXPECT_EQ(boxes[0].Type, MB_OK | MB_ICONERROR);
  ExpectSending(f, true);
  ASSERT_NE(f->SendThread, nullptr);

  // The thread meets the closed socket at its first frame; the GUI thread stops, without a second box.
  ASSERT_TRUE(PumpUntil([&] { return f->SendThread == nullptr; }));
  ExpectSending(f, false);
  PumpFor(400);
  EXPECT_EQ(f->FrameCount.load(), 1u);
  EXPECT_EQ(f->FrameLabel->Text(), "1");
  EXPECT_EQ(Boxes().size(), 1u);

  // Start sets the socket up again.
  TUdpSink frames(7710);
  SetBoxHook([&](const TBox&) { offGui += std::this_thread::get_id() != gui; });
  f->StartBtnClick(f->StartBtn);
  ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= 3; }));
  EXPECT_TRUE(frames.WaitFor(1));
  EXPECT_EQ(Boxes().size(), 1u);

  // A frame socket closed while sending by a failure that has passed opens again: sending goes on, no box.
  f->WSocket1->Close();
  const std::uint32_t closedAt = f->FrameCount.load();
  ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= closedAt + 3; }));
  EXPECT_EQ(Boxes().size(), 1u);
  ExpectSending(f, true);

  // One that cannot open again (no local port left): the network box, from the GUI thread, and the buttons back
  // to idle.
  SetBoxHook([&](const TBox&) {
    offGui += std::this_thread::get_id() != gui;
    WriteFile(range, saved);
  });
  ASSERT_TRUE(WriteFile(range, "40000 40001"));
  f->WSocket1->Close();
  ASSERT_TRUE(PumpUntil([&] { return Boxes().size() == 2; }));
  WriteFile(range, saved);
  boxes = Boxes();
  EXPECT_EQ(boxes[1].Text, "请检查您的TCP/IP协议是否安装!!!");
  EXPECT_EQ(boxes[1].Caption, "网络错误");
  EXPECT_EQ(boxes[1].Type, MB_OK | MB_ICONERROR);
  EXPECT_EQ(offGui.load(), 0);
  EXPECT_EQ(f->SendThread, nullptr);
  ExpectSending(f, false);
}

TEST_F(StartStop, BroadcastOutlivesAMomentWithoutRoute) {
  SENDER_NEED_LAN();
  TUdpSink frames(7710);
  TForm1* f = CreateForm();
  f->Show();
  ClearBoxes();
  const auto headers = [&] {
    std::size_t n = 0;
    for (const TDatagram& d : frames.Datagrams()) n += d.Bytes.size() == 9 && d.Bytes.compare(0, 5, "frame") == 0;
    return n;
  };

  f->StartBtnClick(f->StartBtn);
  ASSERT_TRUE(PumpUntil([&] { return headers() >= 5; }));

  // The host loses its broadcast route: every send fails as unreachable, and frames are still taken.
  struct TRouteBack {
    ~TRouteBack() { Shell("ip route replace 255.255.255.255/32 dev eth0"); }
  } routeBack;
  ASSERT_EQ(Shell("ip route del 255.255.255.255/32 dev eth0"), 0);
  const std::uint32_t cut = f->FrameCount.load();
  ASSERT_TRUE(PumpUntil([&] { return f->FrameCount.load() >= cut + 10; })) << "capture stopped with the network";
  frames.WaitQuiet(100);
  frames.Clear();

  // Once it is back, frames go out again, each whole from its header on: nothing of the failed ones goes first.
  ASSERT_EQ(Shell("ip route add 255.255.255.255/32 dev eth0"), 0);
  ASSERT_TRUE(PumpUntil([&] { return headers() >= 5; }));
  f->StopBtnClick(f->StopBtn);
  frames.WaitQuiet(200);
  EXPECT_GE(ParseFrames(frames.Datagrams()).size(), 5u);
  EXPECT_TRUE(Boxes().empty());
  ExpectSending(f, false);
}

// Without capture driver 0 the program runs in its own process: the driver table is read from its environment.
TEST_F(StartStop, NoCaptureDriver) {
  SENDER_NEED_LAN();
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "TARVO_CAPTURE_DRIVERS=", 22) != 0) env.emplace_back(*e);
  env.emplace_back("TARVO_CAPTURE_DRIVERS=/nonexistent/video7");
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string self = "/proc/self/exe", filter = "--gtest_filter=NoCaptureDriverChild.*";
  char* argv[] = {self.data(), filter.data(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, envp.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's tests failed";
}

TEST(NoCaptureDriverChild, BoxAtShowAndStartStillRuns) {
  const char* drivers = std::getenv("TARVO_CAPTURE_DRIVERS");
  if (!drivers || std::strncmp(drivers, "/nonexistent", 12) != 0) GTEST_SKIP() << "run by StartStop.NoCaptureDriver";
  TForm1* f = CreateForm();
  ClearBoxes();
  f->Show();
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Error!  Not found video card!");
  EXPECT_EQ(boxes[0].Caption, "error");
  EXPECT_EQ(boxes[0].Type, MB_OK | MB_ICONERROR);

  f->SetupBtnClick(f->SetupBtn);
  f->StartBtnClick(f->StartBtn);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_NE(f->SendThread, nullptr);
  PumpFor(300);
  EXPECT_EQ(f->FrameCount.load(), 0u);
  f->StopBtnClick(f->StopBtn);
  EXPECT_EQ(f->SendThread, nullptr);
  EXPECT_TRUE(f->StartBtn->Enabled());
  DestroyForm();
}
