// The recorder tests' shared part (recorder_testing.h) and their main().
#include "recorder_testing.h"

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "gui/surface.h"
#include "vfw/stamp.h"
#include "win32/win32.h"

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig keeps a cache for the life of the process that it never frees.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

#if defined(__SANITIZE_THREAD__)
// Qt is not instrumented: its own threads (the painting pool) synchronise in ways the sanitizer cannot see.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n";
}
#endif

namespace rectest {

TFaults GFaults;

namespace {

using Clock = std::chrono::steady_clock;

std::thread::id GGuiThread;
std::string GPaintLog;

std::mutex GLock;
std::vector<TBox> GBoxes;
int GAnswer = IDYES;
std::set<LONG> GFailFrames;
std::set<LONG> GOversizeFrames;
std::set<HIC> GOwnHandles;  // the test's own codec handles: their calls are not the recorder's
TCodecLog GCodecLog;
std::vector<TSleep> GSleeps;
TSetUpMoment GSetUpMoment;

std::atomic<bool> GFakeClock{false};
std::atomic<std::uint32_t> GFakeTicks{0};
std::atomic<bool> GSkipSleeps{false};

bool OwnHandle(HIC hic) {
  std::lock_guard<std::mutex> guard(GLock);
  return GOwnHandles.count(hic) != 0;
}

bool SplashShowing() { return SplashForm != nullptr && SplashForm->Visible(); }

}  // namespace

}  // namespace rectest

using namespace rectest;

// ---- The wrapped platform calls ----------------------------------------------------------------------------------

extern "C" {

int __real_MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
HIC __real_ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);
LRESULT __real_ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);
DWORD __real_ICCompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiOutput, LPVOID lpData,
                        LPBITMAPINFOHEADER lpbiInput, LPVOID lpBits, LPDWORD lpckid, LPDWORD lpdwFlags, LONG lFrameNum,
                        DWORD dwFrameSize, DWORD dwQuality, LPBITMAPINFOHEADER lpbiPrev, LPVOID lpPrev);
DWORD __real_ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData, LPBITMAPINFOHEADER lpbi,
                          LPVOID lpBits);
DWORD __real_GetTickCount();
void __real_Sleep(DWORD milliseconds);
HWND __real_capCreateCaptureWindowA(LPCSTR lpszWindowName, DWORD dwStyle, int x, int y, int nWidth, int nHeight,
                                    HWND hwndParent, int nID);

int __wrap_MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  TBox box{text ? text : "", caption ? caption : "", type, false, crDefault};
  if (std::this_thread::get_id() == GGuiThread) {
    box.OnGuiThread = true;
    box.SplashVisible = SplashShowing();
    box.Cursor = Screen->Cursor();
  }
  std::fprintf(stderr, "MessageBox [%s]: %s\n", box.Caption.c_str(), box.Text.c_str());
  std::lock_guard<std::mutex> guard(GLock);
  GBoxes.push_back(box);
  switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return GAnswer;
    default: return IDOK;
  }
}

HIC __wrap_ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode) {
  if (GFaults.NoCodec.load()) return nullptr;
  return __real_ICOpen(fccType, fccHandler, wMode);
}

LRESULT __wrap_ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
  if (!OwnHandle(hic)) {
    {
      std::lock_guard<std::mutex> guard(GLock);
      GCodecLog.Messages.push_back(msg);
    }
    if (msg == ICM_COMPRESS_BEGIN && GFaults.CompressBeginFails.load()) return ICERR_UNSUPPORTED;
    if (msg == ICM_DECOMPRESS_BEGIN && GFaults.DecompressBeginFails.load()) return ICERR_UNSUPPORTED;
  }
  return __real_ICSendMessage(hic, msg, dw1, dw2);
}

DWORD __wrap_ICCompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiOutput, LPVOID lpData,
                        LPBITMAPINFOHEADER lpbiInput, LPVOID lpBits, LPDWORD lpckid, LPDWORD lpdwFlags, LONG lFrameNum,
                        DWORD dwFrameSize, DWORD dwQuality, LPBITMAPINFOHEADER lpbiPrev, LPVOID lpPrev) {
  if (OwnHandle(hic))
    return __real_ICCompress(hic, dwFlags, lpbiOutput, lpData, lpbiInput, lpBits, lpckid, lpdwFlags, lFrameNum,
                             dwFrameSize, dwQuality, lpbiPrev, lpPrev);
  bool fail, oversize;
  {
    std::lock_guard<std::mutex> guard(GLock);
    fail = GFailFrames.count(lFrameNum) != 0;
    oversize = GOversizeFrames.count(lFrameNum) != 0;
  }
  DWORD result;
  if (fail) {
    if (lpbiOutput) lpbiOutput->biSizeImage = 0;
    result = static_cast<DWORD>(ICERR_ERROR);
  } else {
    result = __real_ICCompress(hic, dwFlags, lpbiOutput, lpData, lpbiInput, lpBits, lpckid, lpdwFlags, lFrameNum,
                               dwFrameSize, dwQuality, lpbiPrev, lpPrev);
    if (oversize && lpbiOutput) lpbiOutput->biSizeImage = kBuffer + 1;
  }
  std::lock_guard<std::mutex> guard(GLock);
  GCodecLog.Frames.push_back(lFrameNum);
  GCodecLog.Flags.push_back(dwFlags);
  GCodecLog.Sizes.push_back(lpbiOutput ? lpbiOutput->biSizeImage : 0);
  return result;
}

DWORD __wrap_ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData, LPBITMAPINFOHEADER lpbi,
                          LPVOID lpBits) {
  if (!OwnHandle(hic)) {
    {
      std::lock_guard<std::mutex> guard(GLock);
      ++GCodecLog.Decompressions;
    }
    if (GFakeClock.load()) GFakeTicks.fetch_add(GFaults.DecodeWorkMs.load());
  }
  return __real_ICDecompress(hic, dwFlags, lpbiFormat, lpData, lpbi, lpBits);
}

DWORD __wrap_GetTickCount() { return GFakeClock.load() ? GFakeTicks.load() : __real_GetTickCount(); }

void __wrap_Sleep(DWORD milliseconds) {
  {
    std::lock_guard<std::mutex> guard(GLock);
    GSleeps.push_back({milliseconds, std::this_thread::get_id() == GGuiThread});
  }
  if (!GSkipSleeps.load()) __real_Sleep(milliseconds);
  if (GFakeClock.load()) GFakeTicks.fetch_add(milliseconds);
}

HWND __wrap_capCreateCaptureWindowA(LPCSTR lpszWindowName, DWORD dwStyle, int x, int y, int nWidth, int nHeight,
                                    HWND hwndParent, int nID) {
  {
    std::lock_guard<std::mutex> guard(GLock);
    GSetUpMoment = {true, SplashShowing(), Screen->Cursor()};
  }
  return __real_capCreateCaptureWindowA(lpszWindowName, dwStyle, x, y, nWidth, nHeight, hwndParent, nID);
}

}  // extern "C"

namespace rectest {

std::vector<TBox> Boxes() {
  std::lock_guard<std::mutex> guard(GLock);
  return GBoxes;
}

void ClearBoxes() {
  std::lock_guard<std::mutex> guard(GLock);
  GBoxes.clear();
}

void SetQuestionAnswer(int answer) {
  std::lock_guard<std::mutex> guard(GLock);
  GAnswer = answer;
}

void FailCompression(std::set<LONG> frames) {
  std::lock_guard<std::mutex> guard(GLock);
  GFailFrames = std::move(frames);
}

void OversizeCompression(std::set<LONG> frames) {
  std::lock_guard<std::mutex> guard(GLock);
  GOversizeFrames = std::move(frames);
}

TCodecLog CodecLog() {
  std::lock_guard<std::mutex> guard(GLock);
  return GCodecLog;
}

void ClearCodecLog() {
  std::lock_guard<std::mutex> guard(GLock);
  GCodecLog = TCodecLog{};
}

int CountMessages(UINT msg) {
  std::lock_guard<std::mutex> guard(GLock);
  return static_cast<int>(std::count(GCodecLog.Messages.begin(), GCodecLog.Messages.end(), msg));
}

void UseFakeClock(bool on, std::uint32_t start) {
  GFakeTicks.store(start);
  GFakeClock.store(on);
}

void AdvanceClock(std::uint32_t ms) { GFakeTicks.fetch_add(ms); }
std::uint32_t FakeNow() { return GFakeTicks.load(); }
void SkipSleeps(bool on) { GSkipSleeps.store(on); }

std::vector<TSleep> Sleeps() {
  std::lock_guard<std::mutex> guard(GLock);
  return GSleeps;
}

std::vector<DWORD> SleepsOffGuiThread() {
  std::vector<DWORD> result;
  for (const TSleep& s : Sleeps())
    if (!s.OnGuiThread) result.push_back(s.Ms);
  return result;
}

void ClearSleeps() {
  std::lock_guard<std::mutex> guard(GLock);
  GSleeps.clear();
}

TSetUpMoment CaptureWindowMoment() {
  std::lock_guard<std::mutex> guard(GLock);
  return GSetUpMoment;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Application->ProcessMessages();
    if (done()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

// ---- Files -------------------------------------------------------------------------------------------------------

TSmallFileSystem::TSmallFileSystem(std::size_t bytes) {
  char pattern[] = "/tmp/recorder-full-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (!made) throw std::runtime_error("cannot make a temporary folder");
  FPath = made;
  // The namespace is this thread's alone (it gets its own file-system context), so nothing else sees the mount.
  FOldNamespace = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
  const std::string size = "size=" + std::to_string(bytes);
  FMounted = FOldNamespace >= 0 && ::unshare(CLONE_NEWNS) == 0 &&
             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
             ::mount("tarvo-test", FPath.c_str(), "tmpfs", 0, size.c_str()) == 0;
  if (FMounted) return;
  ::getrlimit(RLIMIT_FSIZE, &FOldLimit);
  rlimit limit = FOldLimit;
  limit.rlim_cur = bytes;
  // The toolkit's start-up has the program ignore SIGXFSZ: a write past the limit fails or comes up short.
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("cannot limit the size of files");
}

TSmallFileSystem::~TSmallFileSystem() {
  if (FMounted) {
    ::umount2(FPath.c_str(), MNT_DETACH);
  } else {
    ::setrlimit(RLIMIT_FSIZE, &FOldLimit);
  }
  if (FOldNamespace >= 0) {
    ::setns(FOldNamespace, CLONE_NEWNS);
    ::close(FOldNamespace);
  }
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

TTempDir::TTempDir() {
  char pattern[] = "/tmp/recorder-test-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (!made) throw std::runtime_error("cannot make a temporary folder");
  FPath = made;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

namespace {
std::uint32_t GetLe(const std::string& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(i)]);
  return v;
}
}  // namespace

TRecording ParseRecording(const std::string& bytes) {
  TRecording r;
  if (bytes.size() < 4) {
    r.Problem = "shorter than the count";
    return r;
  }
  r.Count = GetLe(bytes, 0, 4);
  std::size_t at = 4;
  while (at < bytes.size()) {
    if (bytes.size() - at < 4) {
      r.Problem = "record " + std::to_string(r.Records.size() + 1) + ": size cut short";
      return r;
    }
    TRecord rec;
    rec.Size = GetLe(bytes, at, 4);
    at += 4;
    if (bytes.size() - at < static_cast<std::size_t>(rec.Size) + 2) {
      r.Problem = "record " + std::to_string(r.Records.size() + 1) + ": data or delay cut short";
      return r;
    }
    rec.Data = bytes.substr(at, rec.Size);
    at += rec.Size;
    rec.Delay = static_cast<std::uint16_t>(GetLe(bytes, at, 2));
    at += 2;
    r.Records.push_back(std::move(rec));
  }
  r.Complete = true;
  return r;
}

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string Le16(std::uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

std::string MakeRecording(std::uint32_t count, const std::vector<TRecord>& records) {
  std::string bytes = Le32(count);
  for (const TRecord& r : records) bytes += Le32(r.Size) + r.Data + Le16(r.Delay);
  return bytes;
}

// ---- Pictures and frames -----------------------------------------------------------------------------------------

namespace {

BITMAPINFO Format(DWORD compression) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = 40;
  bi.bmiHeader.biWidth = kWidth;
  bi.bmiHeader.biHeight = kHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = compression;
  bi.bmiHeader.biSizeImage = kImage;
  return bi;
}

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

HIC OpenOwnCodec() {
  HIC hic = __real_ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  std::lock_guard<std::mutex> guard(GLock);
  GOwnHandles.insert(hic);
  return hic;
}

void CloseOwnCodec(HIC hic) {
  ICClose(hic);
  std::lock_guard<std::mutex> guard(GLock);
  GOwnHandles.erase(hic);
}

std::uint32_t StampOf(const std::vector<BYTE>& picture) {
  std::uint32_t seq = 0, ms = 0;
  return DecodeStamp(picture.data(), kWidth, kHeight, seq, ms) ? seq : 0;
}

}  // namespace

std::vector<BYTE> StampedPicture(std::uint32_t seq) {
  std::vector<BYTE> p(kBuffer, 0);
  // Soft shades that move a little with each frame, as a camera's picture would.
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      BYTE* px = &p[(static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)) * 3];
      px[0] = static_cast<BYTE>(60 + (x + static_cast<int>(seq) * 2) % 120);
      px[1] = static_cast<BYTE>(80 + y / 3);
      px[2] = static_cast<BYTE>(100 + (x + y) / 8);
    }
  StampFrame(p.data(), kWidth, kHeight, seq, seq * 40);
  return p;
}

std::vector<TRecord> CompressedRecords(std::uint32_t n, const std::vector<std::uint16_t>& delays) {
  HIC hic = OpenOwnCodec();
  BITMAPINFO in = Format(BI_RGB), out = Format(kDivx);
  EXPECT_EQ(ICCompressBegin(hic, &in, &out), ICERR_OK);
  std::vector<BYTE> buffer(kBuffer);
  std::vector<TRecord> records;
  for (std::uint32_t i = 1; i <= n; ++i) {
    std::vector<BYTE> picture = StampedPicture(i);
    DWORD flags = 0;
    DWORD result = ICCompress(hic, i == 1 ? ICCOMPRESS_KEYFRAME : 0, &out.bmiHeader, buffer.data(), &in.bmiHeader,
                              picture.data(), nullptr, &flags, static_cast<LONG>(i), 0, 0, nullptr, nullptr);
    EXPECT_EQ(result, static_cast<DWORD>(ICERR_OK));
    TRecord r;
    r.Size = out.bmiHeader.biSizeImage;
    r.Data.assign(reinterpret_cast<const char*>(buffer.data()), r.Size);
    r.Delay = i - 1 < delays.size() ? delays[i - 1] : 40;
    records.push_back(std::move(r));
  }
  ICCompressEnd(hic);
  CloseOwnCodec(hic);
  return records;
}

std::vector<std::uint32_t> DecodeStamps(const std::vector<TRecord>& records) {
  HIC hic = OpenOwnCodec();
  BITMAPINFO in = Format(kDivx), out = Format(BI_RGB);
  EXPECT_EQ(ICDecompressBegin(hic, &in, &out), ICERR_OK);
  std::vector<std::uint32_t> stamps;
  std::vector<BYTE> data(kBuffer), picture(kBuffer);
  for (const TRecord& r : records) {
    std::fill(picture.begin(), picture.end(), 0);
    std::copy(r.Data.begin(), r.Data.end(), data.begin());
    DWORD result = ICDecompress(hic, 0, &in.bmiHeader, data.data(), &out.bmiHeader, picture.data());
    stamps.push_back(result == static_cast<DWORD>(ICERR_OK) ? StampOf(picture) : 0);
  }
  ICDecompressEnd(hic);
  CloseOwnCodec(hic);
  return stamps;
}

std::uint32_t ShownStamp(TPaintBox* box) {
  // The stamp lies in the top rows: read those back into a bottom-up picture of their own.
  constexpr int rows = 64;
  std::vector<BYTE> picture(static_cast<std::size_t>(kWidth) * rows * 3, 0);
  HDC dc = box->Canvas()->Handle();
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < kWidth; ++x) {
      COLORREF c = GetPixel(dc, x, y);
      if (c == CLR_INVALID) c = 0;
      BYTE* px = &picture[(static_cast<std::size_t>(rows - 1 - y) * kWidth + static_cast<std::size_t>(x)) * 3];
      px[0] = static_cast<BYTE>(c >> 16);
      px[1] = static_cast<BYTE>(c >> 8);
      px[2] = static_cast<BYTE>(c);
    }
  std::uint32_t seq = 0, ms = 0;
  return DecodeStamp(picture.data(), kWidth, rows, seq, ms) ? seq : 0;
}

std::vector<std::uint32_t> PaintedStamps() {
  std::vector<std::uint32_t> stamps;
  std::ifstream in(GPaintLog);
  std::string ms, surface, stamp;
  while (in >> ms >> surface >> stamp) {
    if (surface != "Form1.PaintBox1") continue;
    stamps.push_back(stamp == "-" ? 0 : static_cast<std::uint32_t>(std::stoul(stamp.substr(0, stamp.find(':')))));
  }
  return stamps;
}

void ClearPaintLog() {
  if (::truncate(GPaintLog.c_str(), 0) != 0) ADD_FAILURE() << "cannot empty the paint log";
}

void Deliver(const std::vector<std::vector<BYTE>>& pictures) {
  std::thread capture([&] {
    for (const std::vector<BYTE>& p : pictures) {
      VIDEOHDR h{};
      h.lpData = const_cast<BYTE*>(p.data());
      h.dwBufferLength = static_cast<DWORD>(p.size());
      h.dwBytesUsed = kImage;
      VideoStreamCallback(Form1 ? Form1->CapWnd : nullptr, &h);
    }
  });
  capture.join();
}

void DeliverRaw(std::uint32_t used, std::uint32_t length, BYTE fill) {
  std::vector<BYTE> frame(length, fill);
  std::thread capture([&] {
    VIDEOHDR h{};
    h.lpData = frame.data();
    h.dwBufferLength = length;
    h.dwBytesUsed = used;
    VideoStreamCallback(Form1 ? Form1->CapWnd : nullptr, &h);
  });
  capture.join();
}

// ---- The form ------------------------------------------------------------------------------------------------------

TForm1* CreateForms(bool show, const char* drivers) {
  ::setenv("TARVO_CAPTURE_DRIVERS", drivers, 1);
  Application->CreateForm(Form1);
  Application->CreateForm(SplashForm);
  if (show && Form1) {
    Form1->Show();
    PumpFor(20);
  }
  return Form1;
}

void DestroyForms() {
  delete SplashForm;
  delete Form1;
  Application->ResetTerminated();
  Screen->SetCursor(crDefault);
  ::unsetenv("TARVO_UNATTENDED_FILE");
}

void ChooseRecordingFile(TForm1* form, const std::string& path) {
  ::setenv("TARVO_UNATTENDED_FILE", path.c_str(), 1);
  form->NewBtn->WidgetClicked();
  ::unsetenv("TARVO_UNATTENDED_FILE");
}

void ChoosePlaybackFile(TForm1* form, const std::string& path) {
  ::setenv("TARVO_UNATTENDED_FILE", path.c_str(), 1);
  form->OpenBtn->WidgetClicked();
  ::unsetenv("TARVO_UNATTENDED_FILE");
}

void ResetAll() {
  GFaults.NoCodec = false;
  GFaults.CompressBeginFails = false;
  GFaults.DecompressBeginFails = false;
  GFaults.DecodeWorkMs = 0;
  FailCompression({});
  OversizeCompression({});
  ClearCodecLog();
  UseFakeClock(false);
  SkipSleeps(false);
  ClearSleeps();
  ClearBoxes();
  SetQuestionAnswer(IDYES);
  ClearPaintLog();
  std::lock_guard<std::mutex> guard(GLock);
  GSetUpMoment = TSetUpMoment{};
}

}  // namespace rectest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("TARVO_UNATTENDED", "1", 1);
  ::setenv("TARVO_CAPTURE_DRIVERS", "pattern", 1);
  ::unsetenv("TARVO_UNATTENDED_FILE");
  char log[] = "/tmp/recorder-paintlog-XXXXXX";
  int fd = ::mkstemp(log);
  if (fd < 0) return 1;
  ::close(fd);
  GPaintLog = log;
  ::setenv("TARVO_PAINT_LOG", log, 1);
  GGuiThread = std::this_thread::get_id();

  Application->Initialize(argc, argv);
  const int status = RUN_ALL_TESTS();
  ::unlink(log);
  return status;
}
