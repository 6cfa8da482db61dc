// The main form of tarvocast, the broadcast sender: the capture window with its live picture, the frame counter,
// the list of receivers' announcements and departures, and the buttons for video setup, codec setup, Start, Stop
// and Exit. The form owns the capture set-up, the codec, the two frame buffers, the sender thread (SendThread.h)
// and three sockets: LSocket hears announcements on port 7712, CliSocket answers them (and says "exit" when the
// form goes), WSocket1 broadcasts the frames.
//
// Three threads meet here. The GUI thread runs every handler and socket event. The capture driver's thread runs
// VideoStreamCallback once per captured frame. The sender thread sends the frames. The callback and the sender
// thread hand the one compressed-frame buffer (OutFrame, OutSize) back and forth through two flags:
//   CanCompress set, FrameReady clear: the buffer is free; the callback takes the next frame;
//   CanCompress clear, FrameReady set: a frame waits or is being sent; captured frames are dropped, not counted.
// Each side changes the flags only while it owns the buffer, clearing its own flag before setting the other's
// (release), and tests the flag it waits for with acquire, so the buffer's contents travel with the flag.
//
// A frame socket that the sender thread finds closed is set up again on the GUI thread and sending goes on; where
// that fails (or the set-up already failed at Start), sending ends there: Stop's steps, the buttons back to idle
// and the network error box (once per Start: a set-up that failed at Start has shown it).
#pragma once

#include <atomic>
#include <cstdint>

#include "gui/gui.h"
#include "sockets/WSocket.h"
#include "vfw/capture.h"
#include "vfw/compman.h"

class TSendThread;

// Where everything goes on the wire.
constexpr const char* kFrameAddr = "255.255.255.255";
constexpr const char* kFramePort = "7710";
constexpr const char* kAnnouncePort = "7712";
constexpr const char* kAnswerPort = "7708";

class TForm1 : public TForm {
 public:
  TARVO_PUBLISHED(TForm1)
  explicit TForm1(TComponent* AOwner);
  ~TForm1() override;

  // Components, created from the stored description (Unit1.form).
  TLabel* FrameLabel = nullptr;
  TGroupBox* GroupBox1 = nullptr;
  TListBox* ListBox1 = nullptr;
  TWSocket* CliSocket = nullptr;
  TWSocket* LSocket = nullptr;
  TWSocket* WSocket1 = nullptr;
  TPanel* Panel1 = nullptr;
  TBitBtn* SetupBtn = nullptr;
  TBitBtn* StartBtn = nullptr;
  TBitBtn* StopBtn = nullptr;
  TBitBtn* CloseBtn = nullptr;
  TLabel* Label2 = nullptr;
  TBitBtn* CodecSetupBtn = nullptr;
  TLabel* Label1 = nullptr;

  // Handlers.
  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void SetupBtnClick(TObject* Sender);
  void CodecSetupBtnClick(TObject* Sender);
  void StartBtnClick(TObject* Sender);
  void StopBtnClick(TObject* Sender);
  void CloseBtnClick(TObject* Sender);
  void LSocketDataAvailable(TObject* Sender, WORD Error);
  void FormDestroy(TObject* Sender);

  // Bytes each frame buffer holds: FrameWidth x FrameHeight x 3 + 64.
  std::uint32_t FrameBufferSize() const;
  // The sender thread's report of a lost frame socket (WM_FRAMESOCKETLOST); the rest goes to the base.
  void Dispatch(TMessage& Message) override;

  // The form's state. VideoStreamCallback and the sender thread reach it through Form1.
  HWND CapWnd = nullptr;
  TSendThread* SendThread = nullptr;
  // Frames taken since the last Start; written by the callback while capture runs and by Start while it does not.
  std::atomic<std::uint32_t> FrameCount{0};
  std::int32_t FrameWidth = 0;
  std::int32_t FrameHeight = 0;
  CAPTUREPARMS CapParms{};
  BYTE* InFrame = nullptr;
  BYTE* OutFrame = nullptr;
  // Size of the compressed frame in OutFrame; belongs to whoever owns the buffer.
  std::uint32_t OutSize = 0;
  HIC Codec = nullptr;
  BITMAPINFO InFormat{};
  BITMAPINFO OutFormat{};
  std::atomic<std::uint8_t> FrameReady{0};
  std::atomic<std::uint8_t> CanCompress{0};

 private:
  void StopSending();
  // Start's steps: the frame socket set up anew (false when that fails), the sender thread started with the
  // buffer free.
  bool OpenFrameSocket();
  void StartSendThread();
  void ShowNetworkError();
  void FrameSocketLost();
  void ReleaseResources();
  // The network error box has been shown since the last Start.
  bool NetworkErrorShown = false;
};

extern TForm1* Form1;

// The capture driver's video-stream callback: takes the frame while the buffer is free, compresses it into
// OutFrame and hands it to the sender thread. Always returns TRUE.
LRESULT VideoStreamCallback(HWND hWnd, LPVIDEOHDR lpVHdr);
