// The receiver's test support (receiver_fixture.h).
#include "receiver_fixture.h"

#include <QImage>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "gui/surface.h"
#include "sockets/WSocket.h"
#include "vfw/stamp.h"
#include "win32/win32.h"

// --- pumping -----------------------------------------------------------------------------------------------------

bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    Application->ProcessMessages();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

// --- frames and pictures -------------------------------------------------------------------------------------------

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr std::size_t kStride = kWidth * 3;
constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

BITMAPINFO Format(DWORD compression) {
  BITMAPINFO f{};
  f.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  f.bmiHeader.biWidth = kWidth;
  f.bmiHeader.biHeight = kHeight;
  f.bmiHeader.biPlanes = 1;
  f.bmiHeader.biBitCount = 24;
  f.bmiHeader.biCompression = compression;
  f.bmiHeader.biSizeImage = kWidth * kHeight * 3;
  return f;
}

}  // namespace

std::string FrameHeader(std::uint32_t size) {
  std::string h = "frame";
  for (int i = 0; i < 4; ++i) h += static_cast<char>((size >> (8 * i)) & 0xFF);
  return h;
}

std::vector<std::string> FrameDatagrams(const std::string& frame) {
  std::vector<std::string> out{FrameHeader(static_cast<std::uint32_t>(frame.size()))};
  for (std::size_t piece = 0; piece < frame.size(); piece += 10240) {
    const std::size_t pieceEnd = std::min(frame.size(), piece + 10240);
    for (std::size_t block = piece; block < pieceEnd; block += 1514)
      out.push_back(frame.substr(block, std::min<std::size_t>(1514, pieceEnd - block)));
  }
  return out;
}

std::vector<BYTE> StampedPicture(std::uint32_t seq) {
  std::vector<BYTE> p(kStride * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      BYTE* px = &p[static_cast<std::size_t>(y) * kStride + static_cast<std::size_t>(x) * 3];
      px[0] = static_cast<BYTE>((x + 4 * seq) & 0xFF);
      px[1] = static_cast<BYTE>((y * 2 + seq) & 0xFF);
      px[2] = static_cast<BYTE>(((x / 32 + y / 32 + seq / 4) % 2) ? 200 : 40);
    }
  StampFrame(p.data(), kWidth, kHeight, seq, seq * 40);
  return p;
}

bool PictureStamp(const std::vector<BYTE>& picture, std::uint32_t& seq) {
  std::uint32_t ms = 0;
  if (picture.size() < kStride * kHeight) return false;
  return DecodeStamp(picture.data(), kWidth, kHeight, seq, ms);
}

std::vector<std::string> EncodeStream(std::uint32_t count, std::uint32_t keyInterval) {
  std::vector<std::string> frames;
  HIC codec = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  EXPECT_NE(codec, nullptr);
  if (!codec) return frames;
  BITMAPINFO in = Format(BI_RGB);
  BITMAPINFO out = Format(kDivx);
  EXPECT_EQ(ICCompressBegin(codec, &in, &out), ICERR_OK);
  std::vector<BYTE> compressed(kStride * kHeight + 64);
  for (std::uint32_t seq = 1; seq <= count; ++seq) {
    std::vector<BYTE> picture = StampedPicture(seq);
    DWORD key = seq % keyInterval == 1 ? 1 : 0;
    out.bmiHeader.biSizeImage = kWidth * kHeight * 3;
    ICCompress(codec, key ? ICCOMPRESS_KEYFRAME : 0, &out.bmiHeader, compressed.data(), &in.bmiHeader,
               picture.data(), nullptr, &key, static_cast<LONG>(seq), 0, 0, nullptr, nullptr);
    frames.emplace_back(reinterpret_cast<const char*>(compressed.data()), out.bmiHeader.biSizeImage);
    EXPECT_GT(frames.back().size(), 0u) << "frame " << seq;
  }
  ICCompressEnd(codec);
  ICClose(codec);
  return frames;
}

// --- the fixture -------------------------------------------------------------------------------------------------

namespace {

std::vector<std::string>* gBoxes = nullptr;

int RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  if (gBoxes) gBoxes->push_back(std::string(caption ? caption : "") + ": " + (text ? text : ""));
  return IDOK;
}

}  // namespace

void TReceiverTest::SetUp() {
  if (!InPrivateLoopback()) GTEST_SKIP() << "no private network for the receiver: " << PrivateLoopbackProblem();
  Application->Initialize();
  Application->ResetTerminated();
  // The boxes are recorded instead of shown: a test never waits for a person.
  gBoxes = &FMessageBoxes;
  SetMessageBoxPresenter(&RecordBox);
  ASSERT_TRUE(FSender.Ok());
  Application->CreateForm(Form1);
  ASSERT_NE(Form1, nullptr);
  FCreatedBounds = {Form1->Left(), Form1->Top(), Form1->Width(), Form1->Height()};
  Form1->Show();
  Application->ProcessMessages();
}

void TReceiverTest::TearDown() {
  DestroyForm();
  gBoxes = nullptr;
}

void TReceiverTest::DestroyForm() {
  if (Form1) {
    delete Form1;  // FormDestroy, the components, the window
    Form1 = nullptr;
  }
  // Whatever the destruction posted goes now, while this test's records still exist.
  Application->ProcessMessages();
}

void TReceiverTest::Answer(const std::string& text) {
  ASSERT_TRUE(FSender.SendTo(kAnswerPort, text));
  ASSERT_TRUE(PumpUntil([] { return Form1->WSocket1->State() == wsConnected && !Form1->Timer1->Enabled(); }))
      << "the form did not take \"" << text << "\" as the sender's answer";
}

void TReceiverTest::Deliver(const std::vector<std::string>& datagrams, const std::function<bool()>& pred) {
  // Paced so that the form's receive queue never overflows: every datagram sent is one the form reads.
  for (const std::string& d : datagrams) {
    ASSERT_TRUE(FSender.SendTo(kFramePort, d.data(), d.size()));
    if (QueuedBytes(kFramePort) > 64 * 1024) {
      ASSERT_TRUE(PumpUntil([] { return QueuedBytes(kFramePort) == 0; })) << "the form stopped reading";
    }
  }
  ASSERT_TRUE(PumpUntil([] { return QueuedBytes(kFramePort) == 0; })) << "the form stopped reading";
  Application->ProcessMessages();
  if (pred) {
    ASSERT_TRUE(PumpUntil(pred)) << "the form did not take the datagrams as expected";
  }
}

int TReceiverTest::Paints() const {
  const char* path = std::getenv("TARVO_PAINT_LOG");
  if (!path) return -1;
  std::ifstream log(path);
  std::string ms, surface, stamp;
  int n = 0;
  while (log >> ms >> surface >> stamp)
    if (surface == "Form1") ++n;
  return n;
}

bool TReceiverTest::SurfacePicture(std::vector<BYTE>& picture) const {
  picture.assign(kStride * kHeight, 0);
  HDC dc = Form1->Canvas()->Handle();
  for (int y = 0; y < kHeight; ++y) {
    BYTE* row = &picture[static_cast<std::size_t>(kHeight - 1 - y) * kStride];
    for (int x = 0; x < kWidth; ++x) {
      COLORREF c = GetPixel(dc, x, y);
      if (c == CLR_INVALID) return false;
      row[x * 3] = static_cast<BYTE>((c >> 16) & 0xFF);
      row[x * 3 + 1] = static_cast<BYTE>((c >> 8) & 0xFF);
      row[x * 3 + 2] = static_cast<BYTE>(c & 0xFF);
    }
  }
  return true;
}

std::uint32_t TReceiverTest::WindowPixel(int x, int y) const {
  QImage image = Form1->Widget()->grab().toImage();
  return image.pixel(x, y) & 0xFFFFFF;
}
