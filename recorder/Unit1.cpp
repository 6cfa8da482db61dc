// The recorder's main form: start-up, capture set-up, recording from the capture callback, the panel switches,
// the file choice and playback control, and the form's end. The player thread's loop is in PlayThread.cpp.
#include "Unit1.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "CaptureFile.h"
#include "PlayThread.h"
#include "SplashUnit.h"
#include "win32/win32.h"

TForm1* Form1 = nullptr;

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');
constexpr std::uint32_t kKeyFrameInterval = 125;
constexpr DWORD kMicroSecPerFrame = 40000;  // 25 frames per second
constexpr DWORD kStopSettleMs = 500;

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

BYTE* NewFrameBuffer(std::uint32_t size) {
  auto* buffer = static_cast<BYTE*>(std::calloc(size, 1));
  if (!buffer) throw EOutOfResources("Out of memory for the frame buffers");
  return buffer;
}

// A file, not a folder: only then is there something to overwrite.
bool FileExists(const std::string& name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string DirectoryOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

// Counts a callback as inside its recording steps for as long as it lives.
class TInsideCallback {
 public:
  explicit TInsideCallback(std::atomic<int>& inside) : FInside(inside) { FInside.fetch_add(1); }
  ~TInsideCallback() { FInside.fetch_sub(1); }
  TInsideCallback(const TInsideCallback&) = delete;
  TInsideCallback& operator=(const TInsideCallback&) = delete;

 private:
  std::atomic<int>& FInside;
};

// One record at the file's position: the size, the compressed bytes, the delay. False at the first write that
// fails or comes up short; the writes after it are not made.
bool WriteFrameRecord(TForm1& form, TStream& stream, std::uint32_t size) {
  if (WriteLE32(stream, size) != FrameRecord::SizeSize) return false;
  if (stream.Write(form.OutFrame, static_cast<std::int32_t>(size)) != static_cast<std::int32_t>(size)) return false;
  form.NowTick = GetTickCount();
  if (WriteLE16(stream, FrameDelayBetween(form.NowTick, form.LastTick)) != FrameRecord::DelaySize) return false;
  form.LastTick = GetTickCount();
  return true;
}

// A write that failed ends the records. What it left of a record goes, so that the file ends with a whole one
// (or with the count); the GUI thread is asked to stop the recording and tell the user.
void EndRecords(TForm1& form, TStream& stream) {
  if (form.WriteFailed.exchange(true)) return;
  try {
    stream.SetSize(form.RecordsEnd);
  } catch (...) {
  }
  PostMessageA(form.Handle(), WM_RECORDINGFILEFULL, 0, 0);
}

}  // namespace

TARVO_PUBLISH(TForm1, TForm) {
  b.Field("RecordImage", &TForm1::RecordImage)
      .Field("PlayImage", &TForm1::PlayImage)
      .Field("ExitBtn", &TForm1::ExitBtn)
      .Field("Label1", &TForm1::Label1)
      .Field("RecordPanel", &TForm1::RecordPanel)
      .Field("Image1", &TForm1::Image1)
      .Field("NewBtn", &TForm1::NewBtn)
      .Field("VideoSetupBtn", &TForm1::VideoSetupBtn)
      .Field("CodecSetupBtn", &TForm1::CodecSetupBtn)
      .Field("CaptureBtn", &TForm1::CaptureBtn)
      .Field("StopBtn", &TForm1::StopBtn)
      .Field("CapLabel", &TForm1::CapLabel)
      .Field("CapFileLabel", &TForm1::CapFileLabel)
      .Field("PlayPanel", &TForm1::PlayPanel)
      .Field("Image4", &TForm1::Image4)
      .Field("OpenBtn", &TForm1::OpenBtn)
      .Field("PlayBtn", &TForm1::PlayBtn)
      .Field("StopPlayBtn", &TForm1::StopPlayBtn)
      .Field("PlayLabel", &TForm1::PlayLabel)
      .Field("PlayFileLabel", &TForm1::PlayFileLabel)
      .Field("PaintBox1", &TForm1::PaintBox1)
      .Field("SaveDlg", &TForm1::SaveDlg)
      .Field("OpenDlg", &TForm1::OpenDlg)
      .Method("FormCreate", &TForm1::FormCreate)
      .Method("FormDestroy", &TForm1::FormDestroy)
      .Method("FormShow", &TForm1::FormShow)
      .Method("CaptureBtnClick", &TForm1::CaptureBtnClick)
      .Method("StopBtnClick", &TForm1::StopBtnClick)
      .Method("VideoSetupBtnClick", &TForm1::VideoSetupBtnClick)
      .Method("NewBtnClick", &TForm1::NewBtnClick)
      .Method("OpenBtnClick", &TForm1::OpenBtnClick)
      .Method("PlayBtnClick", &TForm1::PlayBtnClick)
      .Method("StopPlayBtnClick", &TForm1::StopPlayBtnClick)
      .Method("CodecSetupBtnClick", &TForm1::CodecSetupBtnClick)
      .Method("ExitBtnClick", &TForm1::ExitBtnClick)
      .Method("RecordImageClick", &TForm1::RecordImageClick)
      .Method("PlayImageClick", &TForm1::PlayImageClick);
}

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {}

TForm1::~TForm1() {
  // FormDestroy and the components' destruction need this class alive: the components' events are bound to it.
  Destroying();
  DestroyComponents();
  ReleaseResources();
  if (Form1 == this) Form1 = nullptr;
}

std::uint32_t TForm1::FrameBufferSize() const {
  return static_cast<std::uint32_t>(FrameWidth) * static_cast<std::uint32_t>(FrameHeight) * 3 + 64;
}

void TForm1::FormCreate(TObject*) {
  AppPath = DirectoryOf(Application->ExeName());
  CapLabel->SetCaption("");
  CapFileLabel->SetCaption("");
  PlayLabel->SetCaption("");
  PlayFileLabel->SetCaption("");
  PlayPanel->SetLeft(RecordPanel->Left());
  PlayPanel->SetTop(RecordPanel->Top());
  CapStream.store(nullptr);
  PlayStream = nullptr;
  FrameWidth = 352;
  FrameHeight = 288;
  InFrame = NewFrameBuffer(FrameBufferSize());
  OutFrame = NewFrameBuffer(FrameBufferSize());
  PlayInFrame = NewFrameBuffer(FrameBufferSize());
  PlayOutFrame = NewFrameBuffer(FrameBufferSize());

  Codec = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  if (!Codec) MessageBoxA(Handle(), "Error Init compressor", "", MB_OK);
}

void TForm1::FormShow(TObject*) {
  if (SplashForm) {
    SplashForm->Show();
    SplashForm->Repaint();
  }
  Screen->SetCursor(crHourGlass);

  // A child of the form, not of the panel: it lies over the record panel at the panel's (11, 9).
  CapWnd = capCreateCaptureWindowA("capture", WS_CHILD | WS_VISIBLE, RecordPanel->Left() + 11,
                                   RecordPanel->Top() + 9, FrameWidth, FrameHeight, Handle(), 0);
  capSetCallbackOnVideoStream(CapWnd, VideoStreamCallback);
  if (!capDriverConnect(CapWnd, 0))
    MessageBoxA(Handle(), "Error!  Not found video card!", "error", MB_OK | MB_ICONERROR);

  FillFormat(InFormat, FrameWidth, FrameHeight, BI_RGB);
  FillFormat(OutFormat, FrameWidth, FrameHeight, kDivx);
  FillFormat(DecInFormat, FrameWidth, FrameHeight, kDivx);
  FillFormat(DecOutFormat, FrameWidth, FrameHeight, BI_RGB);

  capSetVideoFormat(CapWnd, &InFormat, sizeof InFormat);
  capCaptureGetSetup(CapWnd, &CapParms, sizeof CapParms);
  CapParms.fAbortLeftMouse = FALSE;
  CapParms.fAbortRightMouse = FALSE;
  CapParms.fYield = static_cast<BOOL>(~0u);
  CapParms.dwRequestMicroSecPerFrame = kMicroSecPerFrame;
  capCaptureSetSetup(CapWnd, &CapParms, sizeof CapParms);
  capOverlay(CapWnd, static_cast<BOOL>(~0u));

  if (SplashForm) SplashForm->Close();
  Screen->SetCursor(crDefault);
}

void TForm1::NewBtnClick(TObject*) {
  if (SaveDlg->InitialDir().empty()) SaveDlg->SetInitialDir(AppPath);
  if (!SaveDlg->Execute()) return;
  CapFileName = SaveDlg->FileName();
  CapFileLabel->SetCaption(CapFileName);
  CaptureBtn->SetEnabled(true);
}

void TForm1::CaptureBtnClick(TObject*) {
  if (CapFileName.empty()) {
    MessageBoxA(Handle(), "Please give me a file name first!", "filename", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (FileExists(CapFileName) &&
      MessageBoxA(Handle(), "File Exist! Sure to overwrite it?", "Overwrite", MB_YESNOCANCEL | MB_ICONQUESTION) !=
          IDYES)
    return;

  delete CapStream.exchange(nullptr);
  RecordsEnd = CaptureFile::FirstRecord;
  RecordsHeld = 0;
  WriteFailed.store(false);
  TFileStream* stream = nullptr;
  try {
    // Unshared: nobody may open the file while it is being written, the player included.
    stream = new TFileStream(CapFileName, fmCreate | fmShareExclusive);
  } catch (...) {
    MessageBoxA(Handle(), "Cannot write to file! Please check filename!", "file", MB_OK | MB_ICONERROR);
    return;
  }
  CapStream.store(stream);

  if (ICCompressBegin(Codec, &InFormat, &OutFormat) != ICERR_OK) {
    delete CapStream.exchange(nullptr);  // the empty file stays on disk
    MessageBoxA(Handle(), "Error Init compressor！", "error", MB_OK | MB_ICONERROR);
    return;
  }

  FrameCount.store(0);
  CaptureBtn->SetEnabled(false);
  NewBtn->SetEnabled(false);
  VideoSetupBtn->SetEnabled(false);
  StopBtn->SetEnabled(true);

  // The count, rewritten when the recording stops.
  if (WriteLE32(*stream, 0) != CaptureFile::CountSize) EndRecords(*this, *stream);
  LastTick = GetTickCount();
  capCaptureSequenceNoFile(CapWnd);
}

// Steps 2 to 6 of the stop: capture first, so that no callback follows; the count and the file once the last
// callback is out; the compressor last. True when the file came out whole: every record and the count written.
bool TForm1::StopRecording() {
  capCaptureStop(CapWnd);
  Sleep(kStopSettleMs);
  TFileStream* stream = CapStream.exchange(nullptr);
  while (CallbacksInside.load() != 0) std::this_thread::yield();
  bool whole = !WriteFailed.load();
  if (stream) {
    if (stream->Seek(CaptureFile::CountOffset, soBeginning) != CaptureFile::CountOffset ||
        WriteLE32(*stream, FrameCount.load()) != CaptureFile::CountSize)
      whole = false;
    delete stream;
  }
  ICCompressEnd(Codec);
  return whole;
}

// The stop with the buttons back to idle, and the box when the file could not take everything.
void TForm1::EndRecording() {
  const bool whole = StopRecording();
  CaptureBtn->SetEnabled(true);
  NewBtn->SetEnabled(true);
  VideoSetupBtn->SetEnabled(true);
  StopBtn->SetEnabled(false);
  if (!whole) ShowFileFull();
}

void TForm1::ShowFileFull() {
  const std::string text = "Cannot write more to file! The file holds " + IntToStr(RecordsHeld) +
                           (RecordsHeld == 1 ? " frame." : " frames.");
  MessageBoxA(Handle(), text.c_str(), "file", MB_OK | MB_ICONERROR);
}

void TForm1::StopBtnClick(TObject*) {
  if (!CapStream.load()) return;
  EndRecording();
}

void TForm1::Dispatch(TMessage& Message) {
  if (Message.Msg == WM_RECORDINGFILEFULL) {
    // A stop that came first has told the user already.
    if (CapStream.load() && WriteFailed.load()) EndRecording();
    Message.Result = 0;
    return;
  }
  TForm::Dispatch(Message);
}

void TForm1::VideoSetupBtnClick(TObject*) {
  capDlgVideoSource(CapWnd);
  capDlgVideoFormat(CapWnd);
  capDlgVideoDisplay(CapWnd);
}

void TForm1::CodecSetupBtnClick(TObject*) {
  if (ICQueryConfigure(Codec)) ICConfigure(Codec, Handle());
}

void TForm1::RecordImageClick(TObject*) {
  RecordPanel->SetVisible(true);
  PlayPanel->SetVisible(false);
  capDriverConnect(CapWnd, 0);
}

void TForm1::PlayImageClick(TObject*) {
  PlayPanel->SetVisible(true);
  RecordPanel->SetVisible(false);
  capDriverDisconnect(CapWnd);
}

void TForm1::ExitBtnClick(TObject*) { Close(); }

void TForm1::OpenBtnClick(TObject*) {
  if (OpenDlg->InitialDir().empty()) OpenDlg->SetInitialDir(AppPath);
  if (!OpenDlg->Execute()) return;
  if (ICDecompressBegin(Codec, &DecInFormat, &DecOutFormat) != ICERR_OK) {
    MessageBoxA(Handle(), "Error init decoder!", "error", MB_OK | MB_ICONERROR);
    return;
  }
  PlayFileName = OpenDlg->FileName();

  delete PlayStream;
  PlayStream = nullptr;
  try {
    PlayStream = new TFileStream(PlayFileName, fmOpenRead | fmShareExclusive);
  } catch (...) {
    MessageBoxA(Handle(), "Cannot open file!", "error", MB_OK | MB_ICONERROR);
    return;
  }
  PlayFileLabel->SetCaption(PlayFileName);

  // A file too short to hold a count holds no frame either.
  std::uint32_t count = 0;
  ReadLE32(*PlayStream, count);
  PlayFrameCount = count;
  PlayLabel->SetCaption("0/" + IntToStr(PlayFrameCount));
  Repaint();
  PlayBtn->SetEnabled(true);
}

void TForm1::PlayBtnClick(TObject*) {
  if (!PlayStream || PlayThread) return;
  PlayStream->Seek(CaptureFile::FirstRecord, soBeginning);
  PlayThread = new TPlayThread();
  PlayThread->Running.store(1);
  PlayThread->SetPriority(tpLower);
  PlayThread->Resume();
  PlayBtn->SetEnabled(false);
  OpenBtn->SetEnabled(false);
  StopPlayBtn->SetEnabled(true);
}

// Steps 1 and 2 of StopPlayBtnClick: the thread is waited for before the decompressor ends.
void TForm1::StopPlaying() {
  if (PlayThread) {
    PlayThread->Running.store(0);
    PlayThread->Terminate();
    delete PlayThread;  // waits until its body has returned
    PlayThread = nullptr;
  }
  ICDecompressEnd(Codec);
}

void TForm1::StopPlayBtnClick(TObject*) {
  StopPlaying();
  PlayBtn->SetEnabled(true);
  OpenBtn->SetEnabled(true);
  StopPlayBtn->SetEnabled(false);
}

void TForm1::FormDestroy(TObject*) {
  if (CapStream.load() && !StopRecording()) ShowFileFull();
  if (PlayThread) StopPlaying();
  ICClose(Codec);
  Codec = nullptr;
  std::free(InFrame);
  InFrame = nullptr;
  std::free(OutFrame);
  OutFrame = nullptr;
  std::free(PlayInFrame);
  PlayInFrame = nullptr;
  std::free(PlayOutFrame);
  PlayOutFrame = nullptr;
}

// What FormDestroy did not release (it ended early, or never ran) goes with the object; the playback file too.
void TForm1::ReleaseResources() {
  if (CapStream.load()) StopRecording();
  if (PlayThread) {
    PlayThread->Running.store(0);
    delete PlayThread;
    PlayThread = nullptr;
  }
  delete PlayStream;
  PlayStream = nullptr;
  if (Codec) {
    ICClose(Codec);
    Codec = nullptr;
  }
  for (BYTE** buffer : {&InFrame, &OutFrame, &PlayInFrame, &PlayOutFrame}) {
    std::free(*buffer);
    *buffer = nullptr;
  }
}

LRESULT VideoStreamCallback(HWND, LPVIDEOHDR lpVHdr) {
  TForm1* form = Form1;
  if (!form) return 1;
  TInsideCallback inside(form->CallbacksInside);
  TFileStream* stream = form->CapStream.load();
  if (!stream) return 1;

  const std::uint32_t count = form->FrameCount.load(std::memory_order_relaxed) + 1;
  form->FrameCount.store(count, std::memory_order_relaxed);
  try {
    const std::uint32_t capacity = form->FrameBufferSize();
    // A frame larger than InFrame (another size chosen in the driver's format dialog), or one that claims more
    // bytes than the driver's own buffer holds, is counted but neither copied nor compressed.
    const bool fits = lpVHdr && lpVHdr->lpData && lpVHdr->dwBytesUsed <= capacity &&
                      (lpVHdr->dwBufferLength == 0 || lpVHdr->dwBytesUsed <= lpVHdr->dwBufferLength);
    // Once the file has taken its last record the frames are only counted until the recording stops.
    if (fits && !form->WriteFailed.load()) {
      std::memcpy(form->InFrame, lpVHdr->lpData, lpVHdr->dwBytesUsed);
      const DWORD flags = count % kKeyFrameInterval == 1 ? ICCOMPRESS_KEYFRAME : 0;
      DWORD codecFlags = flags;
      const DWORD result =
          ICCompress(form->Codec, flags, &form->OutFormat.bmiHeader, form->OutFrame, &form->InFormat.bmiHeader,
                     form->InFrame, nullptr, &codecFlags, static_cast<LONG>(count), 0, 0, nullptr, nullptr);
      const std::uint32_t size = form->OutFormat.bmiHeader.biSizeImage;
      if (result == static_cast<DWORD>(ICERR_OK) && size <= FrameRecord::MaxData) {
        if (WriteFrameRecord(*form, *stream, size)) {
          form->RecordsEnd += FrameRecord::SizeSize + static_cast<std::int64_t>(size) + FrameRecord::DelaySize;
          ++form->RecordsHeld;
        } else {
          EndRecords(*form, *stream);
        }
      }
    }
    form->CapLabel->SetCaption(IntToStr(count));
    form->CapLabel->Repaint();
  } catch (...) {
  }
  return 1;
}
