// The main form of tarvorec, the recorder and player. Above two panels that share one place, three picture
// buttons switch between them and exit. The record panel shows the live picture of capture driver 0 and records
// it, compressed by the DIVX codec, into a recording file (CaptureFile.h); the play panel plays such a file back
// into PaintBox1 with the recorded timing, on the player thread (PlayThread.h). The form owns the capture window,
// the one codec instance (compressing while recording, decompressing while playing), the four frame buffers, the
// two file streams and the player thread while one exists.
//
// Threads: the GUI thread runs every handler. The capture driver's thread runs VideoStreamCallback once per
// frame while recording: it compresses the frame and appends a record to CapStream. The player thread reads,
// decodes and draws. Each side has its own buffers; the GUI thread touches the recording's buffers, stream and
// compressor only before capture starts and after it has stopped, and the player's only while no player thread
// exists.
//
// A recording file that cannot take more (a write that fails or comes up short) ends the records: the callback
// cuts the file back to the end of the last whole record and posts WM_RECORDINGFILEFULL, on which the GUI thread
// stops the recording and says how many frames the file holds. A count that cannot be rewritten at the stop is
// told the same way.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "gui/gui.h"
#include "vfw/capture.h"
#include "vfw/compman.h"

class TPlayThread;

// Posted to the main form's window when the recording file could not take a record.
constexpr UINT WM_RECORDINGFILEFULL = WM_USER + 1;

class TForm1 : public TForm {
 public:
  TARVO_PUBLISHED(TForm1)
  explicit TForm1(TComponent* AOwner);
  ~TForm1() override;

  // Components, created from the stored description (Unit1.form).
  TPictureButton* RecordImage = nullptr;
  TPictureButton* PlayImage = nullptr;
  TPictureButton* ExitBtn = nullptr;
  TLabel* Label1 = nullptr;
  TPanel* RecordPanel = nullptr;
  TImage* Image1 = nullptr;
  TPictureButton* NewBtn = nullptr;
  TPictureButton* VideoSetupBtn = nullptr;
  TPictureButton* CodecSetupBtn = nullptr;
  TPictureButton* CaptureBtn = nullptr;
  TPictureButton* StopBtn = nullptr;
  TLabel* CapLabel = nullptr;
  TLabel* CapFileLabel = nullptr;
  TPanel* PlayPanel = nullptr;
  TImage* Image4 = nullptr;
  TPictureButton* OpenBtn = nullptr;
  TPictureButton* PlayBtn = nullptr;
  TPictureButton* StopPlayBtn = nullptr;
  TLabel* PlayLabel = nullptr;
  TLabel* PlayFileLabel = nullptr;
  TPaintBox* PaintBox1 = nullptr;
  TSaveDialog* SaveDlg = nullptr;
  TOpenDialog* OpenDlg = nullptr;

  // Handlers.
  void FormCreate(TObject* Sender);
  void FormDestroy(TObject* Sender);
  void FormShow(TObject* Sender);
  void CaptureBtnClick(TObject* Sender);
  void StopBtnClick(TObject* Sender);
  void VideoSetupBtnClick(TObject* Sender);
  void NewBtnClick(TObject* Sender);
  void OpenBtnClick(TObject* Sender);
  void PlayBtnClick(TObject* Sender);
  void StopPlayBtnClick(TObject* Sender);
  void CodecSetupBtnClick(TObject* Sender);
  void ExitBtnClick(TObject* Sender);
  void RecordImageClick(TObject* Sender);
  void PlayImageClick(TObject* Sender);

  // Bytes each frame buffer holds: FrameWidth x FrameHeight x 3 + 64.
  std::uint32_t FrameBufferSize() const;
  // The callback's report of a full recording file (WM_RECORDINGFILEFULL); the rest goes to the base.
  void Dispatch(TMessage& Message) override;

  // The form's state. VideoStreamCallback and the player thread reach it through Form1; tests look at it.
  HWND CapWnd = nullptr;
  std::string AppPath;
  TPlayThread* PlayThread = nullptr;
  std::uint32_t LastTick = 0;
  std::uint32_t NowTick = 0;
  // Frames delivered since recording started; the callback's while capture runs.
  std::atomic<std::uint32_t> FrameCount{0};
  std::uint32_t PlayFrameCount = 0;
  std::int32_t FrameWidth = 0;
  std::int32_t FrameHeight = 0;
  std::string CapFileName;
  std::string PlayFileName;
  CAPTUREPARMS CapParms{};
  // The recording file; recording means exactly that it is present. Set by the GUI thread before capture
  // starts and taken away by it at the stop; the callback tests it once per frame.
  std::atomic<TFileStream*> CapStream{nullptr};
  TFileStream* PlayStream = nullptr;
  BYTE* InFrame = nullptr;
  BYTE* OutFrame = nullptr;
  BYTE* PlayInFrame = nullptr;
  BYTE* PlayOutFrame = nullptr;
  HIC Codec = nullptr;
  BITMAPINFO InFormat{};
  BITMAPINFO DecInFormat{};
  BITMAPINFO OutFormat{};
  BITMAPINFO DecOutFormat{};

  // Callbacks inside their recording steps. The stop takes CapStream away first and then waits for this to
  // reach 0, so that no callback can still be writing when the count is rewritten and the file closed, even
  // from a driver that went on calling after its stop.
  std::atomic<int> CallbacksInside{0};

  // Where the last whole record ends and how many records the file holds; the callback's while recording.
  std::int64_t RecordsEnd = 0;
  std::uint32_t RecordsHeld = 0;
  // Set by the first write that failed or came up short; no record is written after it. Cleared when recording
  // starts.
  std::atomic<bool> WriteFailed{false};

 private:
  bool StopRecording();
  void EndRecording();
  void ShowFileFull();
  void StopPlaying();
  void ReleaseResources();
};

extern TForm1* Form1;

// The capture driver's video-stream callback: while recording, counts the frame, compresses it and appends its
// record to the recording file. Always returns 1.
LRESULT VideoStreamCallback(HWND hWnd, LPVIDEOHDR lpVHdr);
