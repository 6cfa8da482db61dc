// The sender's main form: start-up, capture set-up, the capture callback, the buttons, the announcements and the
// form's end. The sender thread's loop is in SendThread.cpp.
#include "Unit1.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SendThread.h"
#include "sockets/LocalIP.h"
#include "sockets/PubUnit.h"
#include "win32/win32.h"

TForm1* Form1 = nullptr;

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');
constexpr std::uint32_t kKeyFrameInterval = 125;

const char* const kNetworkErrorText = "请检查您的TCP/IP协议是否安装!!!";
const char* const kNetworkErrorCaption = "网络错误";

void FillFormat(BITMAPINFO& format, std::int32_t width, std::int32_t height, DWORD compression) {
  format = BITMAPINFO{};
  BITMAPINFOHEADER& h = format.bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biCompression = compression;
  h.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * h.biPlanes * (h.biBitCount / 8);
}

}  // namespace

TARVO_PUBLISH(TForm1, TForm) {
  b.Field("FrameLabel", &TForm1::FrameLabel)
      .Field("GroupBox1", &TForm1::GroupBox1)
      .Field("ListBox1", &TForm1::ListBox1)
      .Field("CliSocket", &TForm1::CliSocket)
      .Field("LSocket", &TForm1::LSocket)
      .Field("WSocket1", &TForm1::WSocket1)
      .Field("Panel1", &TForm1::Panel1)
      .Field("SetupBtn", &TForm1::SetupBtn)
      .Field("StartBtn", &TForm1::StartBtn)
      .Field("StopBtn", &TForm1::StopBtn)
      .Field("CloseBtn", &TForm1::CloseBtn)
      .Field("Label2", &TForm1::Label2)
      .Field("CodecSetupBtn", &TForm1::CodecSetupBtn)
      .Field("Label1", &TForm1::Label1)
      .Method("FormCreate", &TForm1::FormCreate)
      .Method("FormShow", &TForm1::FormShow)
      .Method("SetupBtnClick", &TForm1::SetupBtnClick)
      .Method("CodecSetupBtnClick", &TForm1::CodecSetupBtnClick)
      .Method("StartBtnClick", &TForm1::StartBtnClick)
      .Method("StopBtnClick", &TForm1::StopBtnClick)
      .Method("CloseBtnClick", &TForm1::CloseBtnClick)
      .Method("LSocketDataAvailable", &TForm1::LSocketDataAvailable)
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
  FrameLabel->SetCaption("0");
  ListBox1->Items()->Clear();
  FrameWidth = 352;
  FrameHeight = 288;
  InFrame = static_cast<BYTE*>(std::calloc(FrameBufferSize(), 1));
  OutFrame = static_cast<BYTE*>(std::calloc(FrameBufferSize(), 1));
  if (!InFrame || !OutFrame) throw EOutOfResources("Out of memory for the frame buffers");

  Codec = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  if (!Codec) MessageBoxA(Handle(), "Error Init compressor", "", MB_OK);

  FillFormat(InFormat, FrameWidth, FrameHeight, BI_RGB);
  FillFormat(OutFormat, FrameWidth, FrameHeight, kDivx);

  try {
    LSocket->Close();
    LSocket->SetProto("UDP");
    LSocket->SetAddr("0.0.0.0");
    LSocket->SetPort(kAnnouncePort);
    LSocket->Listen();
  } catch (...) {
    ShowNetworkError();
  }
}

void TForm1::FormShow(TObject*) {
  Screen->SetCursor(crHourGlass);
  CapWnd = capCreateCaptureWindowA("capture", WS_CHILD | WS_VISIBLE, Panel1->Left() + 1, Panel1->Top() + 1,
                                   FrameWidth, FrameHeight, Handle(), 0);
  if (CapWnd) {
    capSetCallbackOnVideoStream(CapWnd, VideoStreamCallback);
    if (!capDriverConnect(CapWnd, 0))
      MessageBoxA(Handle(), "Error!  Not found video card!", "error", MB_OK | MB_ICONERROR);
    capSetVideoFormat(CapWnd, &InFormat, sizeof InFormat);
    capCaptureGetSetup(CapWnd, &CapParms, sizeof CapParms);
    CapParms.dwRequestMicroSecPerFrame = 40000;
    CapParms.fYield = TRUE;
    CapParms.fAbortLeftMouse = FALSE;
    CapParms.fAbortRightMouse = FALSE;
    capCaptureSetSetup(CapWnd, &CapParms, sizeof CapParms);
    capOverlay(CapWnd, TRUE);
    capDlgVideoFormat(CapWnd);
  }
  Screen->SetCursor(crDefault);
}

void TForm1::SetupBtnClick(TObject*) {
  if (!CapWnd) return;
  capDlgVideoSource(CapWnd);
  capDlgVideoFormat(CapWnd);
  capDlgVideoDisplay(CapWnd);
}

void TForm1::CodecSetupBtnClick(TObject*) {
  if (ICQueryConfigure(Codec)) ICConfigure(Codec, Handle());
}

void TForm1::StartBtnClick(TObject*) {
  FrameCount.store(0, std::memory_order_relaxed);
  NetworkErrorShown = false;
  StartBtn->SetEnabled(false);
  SetupBtn->SetEnabled(false);
  CloseBtn->SetEnabled(false);
  StopBtn->SetEnabled(true);

  if (ICCompressBegin(Codec, &InFormat, &OutFormat) != ICERR_OK) {
    MessageBoxA(Handle(), "Error Init compressor！", "error", MB_OK | MB_ICONERROR);
    return;
  }

  if (!OpenFrameSocket()) ShowNetworkError();
  StartSendThread();

  if (CapWnd) capCaptureSequenceNoFile(CapWnd);
}

bool TForm1::OpenFrameSocket() {
  try {
    WSocket1->Close();
    WSocket1->SetProto("UDP");
    WSocket1->SetAddr(kFrameAddr);
    WSocket1->SetPort(kFramePort);
    WSocket1->Connect();
    return true;
  } catch (...) {
    return false;
  }
}

void TForm1::StartSendThread() {
  CanCompress.store(1, std::memory_order_release);
  FrameReady.store(0, std::memory_order_release);

  SendThread = new TSendThread();
  SendThread->Running.store(1, std::memory_order_release);
  SendThread->SetPriority(tpLower);
  SendThread->Resume();
}

// Steps 1 to 4 of Stop: capture first, so that no callback runs while the sender thread ends; the compressor
// last, once neither can use it.
void TForm1::StopSending() {
  if (CapWnd) capCaptureStop(CapWnd);
  if (SendThread) {
    SendThread->Running.store(0, std::memory_order_release);
    SendThread->Terminate();
    delete SendThread;  // waits until its loop has ended
    SendThread = nullptr;
  }
  Sleep(500);
  ICCompressEnd(Codec);
}

void TForm1::StopBtnClick(TObject*) {
  StopSending();
  StartBtn->SetEnabled(true);
  SetupBtn->SetEnabled(true);
  CloseBtn->SetEnabled(true);
  StopBtn->SetEnabled(false);
}

void TForm1::CloseBtnClick(TObject*) { Close(); }

void TForm1::ShowNetworkError() {
  NetworkErrorShown = true;
  MessageBoxA(Handle(), kNetworkErrorText, kNetworkErrorCaption, MB_OK | MB_ICONERROR);
}

void TForm1::Dispatch(TMessage& Message) {
  if (Message.Msg == WM_FRAMESOCKETLOST) {
    FrameSocketLost();
    Message.Result = 0;
    return;
  }
  TForm::Dispatch(Message);
}

void TForm1::FrameSocketLost() {
  // A report that a Stop overtook is about a thread that is gone (or about to be replaced by the next Start's).
  if (!SendThread || !SendThread->FrameSocketLost.load(std::memory_order_acquire)) return;
  // A socket that was open at Start can be closed by a failure that has passed (the socket aborts itself when
  // draining its queue meets, say, an unreachable network): one that opens again carries the broadcast on. The
  // thread has ended and left the buffer taken; a new one hands it back.
  if (!NetworkErrorShown) {
    delete SendThread;
    SendThread = nullptr;
    if (OpenFrameSocket()) {
      StartSendThread();
      return;
    }
  }
  StopBtnClick(StopBtn);
  if (!NetworkErrorShown) ShowNetworkError();
}

void TForm1::LSocketDataAvailable(TObject*, WORD) {
  // No real announcement comes near this: its text is a dotted address or a host name of at most 255 characters.
  // But anyone on the network chooses a datagram's length, and the lines stay as long as the program runs, so a
  // line shows no more of the text than this. The answer still goes to the text as it came.
  constexpr std::int32_t kLineAddressLength = 300;
  const std::string S = LSocket->ReceiveStr();
  const std::string K = LowerCase(LeftPart(S, 12));
  const auto rest = static_cast<std::int32_t>(S.size()) - 12;
  if (K == "login_mp4_cw") {
    const std::string A = RightPart(S, rest);
    ListBox1->Items()->Add(TimeToStr() + "  in: " + LeftPart(A, kLineAddressLength));
    CliSocket->Close();
    CliSocket->SetProto("UDP");
    CliSocket->SetAddr(A);
    CliSocket->SetPort(kAnswerPort);
    CliSocket->Connect();
    CliSocket->SendStr("server/" + GetLocalIP());
  } else if (K == "logoutmp4_cw") {
    const std::string A = RightPart(S, rest);
    ListBox1->Items()->Add(TimeToStr() + "  out: " + LeftPart(A, kLineAddressLength));
  }
}

void TForm1::FormDestroy(TObject*) {
  if (SendThread) StopSending();

  CliSocket->Close();
  CliSocket->SetProto("UDP");
  CliSocket->SetAddr("255.255.255.255");
  CliSocket->SetPort(kAnswerPort);
  CliSocket->Connect();
  CliSocket->SendStr("exit");

  if (CapWnd) capCaptureStop(CapWnd);
  ICClose(Codec);
  Codec = nullptr;
  std::free(InFrame);
  InFrame = nullptr;
  std::free(OutFrame);
  OutFrame = nullptr;
}

// When FormDestroy ended early (a failed "exit" broadcast), what it did not release goes with the object. Capture
// is stopped first so that no callback can reach the buffers.
void TForm1::ReleaseResources() {
  if (SendThread) {
    SendThread->Running.store(0, std::memory_order_release);
    delete SendThread;
    SendThread = nullptr;
  }
  if (CapWnd && (InFrame || OutFrame)) capCaptureStop(CapWnd);
  if (Codec) {
    ICClose(Codec);
    Codec = nullptr;
  }
  std::free(InFrame);
  InFrame = nullptr;
  std::free(OutFrame);
  OutFrame = nullptr;
}

LRESULT VideoStreamCallback(HWND, LPVIDEOHDR lpVHdr) {
  TForm1* form = Form1;
  if (!form || !form->CanCompress.load(std::memory_order_acquire)) return TRUE;
  try {
    const std::uint32_t count = form->FrameCount.load(std::memory_order_relaxed) + 1;
    form->FrameCount.store(count, std::memory_order_relaxed);

    // Never more than InFrame holds, nor more than the driver says its buffer holds.
    std::size_t bytes = 0;
    if (lpVHdr && lpVHdr->lpData) {
      bytes = std::min<std::size_t>(lpVHdr->dwBytesUsed, form->FrameBufferSize());
      if (lpVHdr->dwBufferLength != 0) bytes = std::min<std::size_t>(bytes, lpVHdr->dwBufferLength);
    }
    if (bytes > 0) std::memcpy(form->InFrame, lpVHdr->lpData, bytes);

    DWORD key = count % kKeyFrameInterval == 1 ? 1 : 0;
    ICCompress(form->Codec, key ? ICCOMPRESS_KEYFRAME : 0, &form->OutFormat.bmiHeader, form->OutFrame,
               &form->InFormat.bmiHeader, form->InFrame, nullptr, &key, static_cast<LONG>(count), 0, 0, nullptr,
               nullptr);
    form->OutSize = form->OutFormat.bmiHeader.biSizeImage;

    form->CanCompress.store(0, std::memory_order_release);
    form->FrameReady.store(1, std::memory_order_release);

    form->FrameLabel->SetCaption(IntToStr(count));
    form->FrameLabel->Repaint();
  } catch (...) {
  }
  return TRUE;
}
