// The receiver's main form: start-up, the announcements, the sender's answer and "exit", the gathering of
// frames from datagrams, decompression and painting, and the form's end.
#include "Unit1.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "sockets/LocalIP.h"
#include "sockets/PubUnit.h"
#include "win32/win32.h"

TForm1* Form1 = nullptr;

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

constexpr const char* kBroadcastAddr = "255.255.255.255";
constexpr const char* kAnyAddr = "0.0.0.0";
constexpr const char* kAnnouncePort = "7712";
constexpr const char* kAnswerPort = "7708";
constexpr const char* kFramePort = "7710";

// One datagram at a time; the sender's are at most 1514 bytes.
constexpr int kReceiveBufferSize = 10240;

constexpr std::uint32_t kHeaderSize = 9;
constexpr char kHeaderMark[] = {'f', 'r', 'a', 'm', 'e'};

void FillFormat(BITMAPINFO& format, std::int32_t width, std::int32_t height, DWORD compression) {
  format = BITMAPINFO{};
  BITMAPINFOHEADER& h = format.bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biCompression = compression;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * h.biPlanes * (h.biBitCount / 8);
}

std::uint32_t ReadLittleEndian32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

TARVO_PUBLISH(TForm1, TForm) {
  b.Field("Timer1", &TForm1::Timer1)
      .Field("LoginSocket", &TForm1::LoginSocket)
      .Field("WSocket1", &TForm1::WSocket1)
      .Field("SrvSocket", &TForm1::SrvSocket)
      .Method("FormCreate", &TForm1::FormCreate)
      .Method("Timer1Timer", &TForm1::Timer1Timer)
      .Method("SrvSocketDataAvailable", &TForm1::SrvSocketDataAvailable)
      .Method("WSocket1DataAvailable", &TForm1::WSocket1DataAvailable)
      .Method("FormDestroy", &TForm1::FormDestroy);
}

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {}

TForm1::~TForm1() {
  // FormDestroy and the components' destruction need this class alive: the sockets' events are bound to it.
  Destroying();
  DestroyComponents();
  ReleaseResources();
  if (Form1 == this) Form1 = nullptr;
}

std::uint32_t TForm1::FrameBufferSize() const {
  return static_cast<std::uint32_t>(FrameWidth) * static_cast<std::uint32_t>(FrameHeight) * 3 + 64;
}

void TForm1::FormCreate(TObject*) {
  SetLeft((Screen->Width() - Width()) / 2);
  SetTop((Screen->Height() - Height()) / 2);
  FrameWidth = 352;
  FrameHeight = 288;
  FillFormat(InFormat, FrameWidth, FrameHeight, kDivx);
  FillFormat(OutFormat, FrameWidth, FrameHeight, BI_RGB);
  InFrame = static_cast<BYTE*>(std::calloc(FrameBufferSize(), 1));
  OutFrame = static_cast<BYTE*>(std::calloc(FrameBufferSize(), 1));
  if (!InFrame || !OutFrame) throw EOutOfResources("Out of memory for the frame buffers");

  Codec = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  if (!Codec) MessageBoxA(Handle(), "Error Init compressor", "", MB_OK);

  if (ICDecompressBegin(Codec, &InFormat, &OutFormat) != ICERR_OK) {
    MessageBoxA(Handle(), "Error init decoder!", "error", MB_OK | MB_ICONERROR);
    return;
  }

  LoginSocket->Close();
  LoginSocket->SetProto("UDP");
  LoginSocket->SetAddr(kBroadcastAddr);
  LoginSocket->SetPort(kAnnouncePort);
  LoginSocket->Connect();

  try {
    SrvSocket->Close();
    SrvSocket->SetAddr(kAnyAddr);
    SrvSocket->SetPort(kAnswerPort);
    SrvSocket->SetProto("udp");
    SrvSocket->Listen();
  } catch (...) {
    // Without its answer port the receiver goes on announcing and never hears a sender.
  }
}

void TForm1::Timer1Timer(TObject*) { LoginSocket->SendStr("login_mp4_cw" + GetLocalIP()); }

void TForm1::SrvSocketDataAvailable(TObject*, WORD) {
  const std::string S = SrvSocket->ReceiveStr();
  const std::string head = LeftPart(S, 7);
  if (head == "server/") {
    Timer1->SetEnabled(false);
    Received = 0;
    Overflowed = false;
    WSocket1->Close();
    WSocket1->SetAddr(kAnyAddr);
    WSocket1->SetPort(kFramePort);
    WSocket1->SetProto("udp");
    WSocket1->Listen();
  } else if (head == "exit") {
    // Only the whole datagram "exit" gets here: any longer text would have kept more than four characters.
    Timer1->SetEnabled(true);
  }
}

void TForm1::WSocket1DataAvailable(TObject*, WORD) {
  unsigned char buffer[kReceiveBufferSize];
  const int N = WSocket1->Receive(buffer, sizeof buffer);
  // A failed receive brought no bytes; counting its -1 would make the gathered count go back or wrap.
  if (N < 0) return;
  if (!InFrame || !OutFrame) return;
  const auto n = static_cast<std::uint32_t>(N);

  if (n == kHeaderSize && std::memcmp(buffer, kHeaderMark, sizeof kHeaderMark) == 0) {
    FrameSize = ReadLittleEndian32(buffer + sizeof kHeaderMark);
    Received = 0;
    Overflowed = false;
    return;
  }

  if (Overflowed) return;
  if (n > FrameBufferSize() - Received) {
    // What does not fit belongs to a frame that cannot be whole; the next header starts afresh.
    Overflowed = true;
    return;
  }
  if (n > 0) std::memcpy(InFrame + Received, buffer, n);
  Received += n;
  if (Received < FrameSize) return;

  ICDecompress(Codec, 0, &InFormat.bmiHeader, InFrame, &OutFormat.bmiHeader, OutFrame);
  SetDIBitsToDevice(Canvas()->Handle(), 0, 0, static_cast<DWORD>(FrameWidth), static_cast<DWORD>(FrameHeight), 0,
                    0, 0, static_cast<UINT>(FrameHeight), OutFrame, &OutFormat, DIB_RGB_COLORS);
}

void TForm1::FormDestroy(TObject*) {
  LoginSocket->SendStr("logoutmp4_cw" + GetLocalIP());
  SrvSocket->Close();
  LoginSocket->Close();
  ICDecompressEnd(Codec);
  ICClose(Codec);
  Codec = nullptr;
  std::free(InFrame);
  InFrame = nullptr;
  std::free(OutFrame);
  OutFrame = nullptr;
}

// When FormDestroy ended early (a logout that could not be sent), what it did not release goes with the object.
void TForm1::ReleaseResources() {
  if (Codec) {
    ICDecompressEnd(Codec);
    ICClose(Codec);
    Codec = nullptr;
  }
  std::free(InFrame);
  InFrame = nullptr;
  std::free(OutFrame);
  OutFrame = nullptr;
}
