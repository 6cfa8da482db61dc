// What the recorder's tests share: the program's platform calls seen from the test (message boxes, the codec,
// the tick clock, sleeps, the capture window's creation), faults to inject into them, the form's creation and
// first showing, pictures and recording files made by the test, and reading recording files back. For tests only.
//
// The test programs are linked with --wrap for MessageBoxA, ICOpen, ICSendMessage, ICCompress, ICDecompress,
// GetTickCount, Sleep and capCreateCaptureWindowA: every call of the recorder goes through the __wrap_
// functions here, which pass it on to the real one unless a test asked for something else. Message boxes are
// recorded and answered here, so that TARVO_UNATTENDED=1 holds for every other dialog.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "CaptureFile.h"
#include "SplashUnit.h"
#include "Unit1.h"

namespace rectest {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr std::uint32_t kImage = kWidth * kHeight * 3;  // 304,128
constexpr std::uint32_t kBuffer = kImage + 64;          // 304,192

// ---- Message boxes ---------------------------------------------------------------------------------------------

struct TBox {
  std::string Text;
  std::string Caption;
  UINT Type = 0;
  bool SplashVisible = false;  // at the moment the box came
  TCursor Cursor = crDefault;
  bool OnGuiThread = false;
};
std::vector<TBox> Boxes();
void ClearBoxes();
// The answer to the next boxes with Yes/No(/Cancel) buttons; IDYES unless set.
void SetQuestionAnswer(int answer);

// ---- Faults and what the codec saw -------------------------------------------------------------------------------

struct TFaults {
  std::atomic<bool> NoCodec{false};             // ICOpen finds no DIVX codec
  std::atomic<bool> CompressBeginFails{false};  // ICM_COMPRESS_BEGIN answers ICERR_UNSUPPORTED
  std::atomic<bool> DecompressBeginFails{false};
  std::atomic<std::uint32_t> DecodeWorkMs{0};  // each ICDecompress of the form takes this long on the fake clock
};
extern TFaults GFaults;
// Frame numbers whose ICCompress fails (ICERR_ERROR, size 0), and those that succeed with a size larger than any
// record may be.
void FailCompression(std::set<LONG> frames);
void OversizeCompression(std::set<LONG> frames);

// Calls the form's codec handle received.
struct TCodecLog {
  std::vector<UINT> Messages;        // ICSendMessage message numbers, in order
  std::vector<LONG> Frames;          // ICCompress frame numbers
  std::vector<DWORD> Flags;          // ICCompress flags, same order
  std::vector<DWORD> Sizes;          // the size each ICCompress left in the output record
  int Decompressions = 0;
};
TCodecLog CodecLog();
void ClearCodecLog();
int CountMessages(UINT msg);

// ---- The clock and sleeps ----------------------------------------------------------------------------------------

// While on, GetTickCount answers the fake clock, which moves only when a test advances it, a Sleep passes or a
// decoding takes DecodeWorkMs.
void UseFakeClock(bool on, std::uint32_t start = 1000);
void AdvanceClock(std::uint32_t ms);
std::uint32_t FakeNow();
// While on, Sleep returns at once (after moving the fake clock when that is on). Every Sleep is recorded.
void SkipSleeps(bool on);
struct TSleep {
  DWORD Ms = 0;
  bool OnGuiThread = false;
};
std::vector<TSleep> Sleeps();
std::vector<DWORD> SleepsOffGuiThread();
void ClearSleeps();

// What was true when the capture window was created (the splash and the cursor during the set-up).
struct TSetUpMoment {
  bool Seen = false;
  bool SplashVisible = false;
  TCursor Cursor = crDefault;
};
TSetUpMoment CaptureWindowMoment();

// ---- The GUI thread ----------------------------------------------------------------------------------------------

// How long a test waits for what must happen: generous, for a loaded machine and a sanitizer build. A wait ends
// as soon as the awaited thing happens.
constexpr int kPatienceMs = 60000;
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs);
void PumpFor(int ms);

// ---- Files -------------------------------------------------------------------------------------------------------

// A file system of `bytes` that fills up, for this thread's files: a tmpfs in a mount namespace of the thread's own
// where that can be had (root), else a limit on the size of every file the process writes. Gone with the object.
class TSmallFileSystem {
 public:
  explicit TSmallFileSystem(std::size_t bytes);
  ~TSmallFileSystem();
  TSmallFileSystem(const TSmallFileSystem&) = delete;
  TSmallFileSystem& operator=(const TSmallFileSystem&) = delete;
  std::string Path(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
  int FOldNamespace = -1;
  bool FMounted = false;
  rlimit FOldLimit{};
};

// A fresh folder for one test, removed with everything in it when the object goes.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  std::string Path(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// A recording file as it lies on disk.
struct TRecord {
  std::uint32_t Size = 0;
  std::string Data;
  std::uint16_t Delay = 0;
};
struct TRecording {
  std::uint32_t Count = 0;
  std::vector<TRecord> Records;
  bool Complete = false;  // the records end exactly at the end of the file
  std::string Problem;    // why not, otherwise
};
TRecording ParseRecording(const std::string& bytes);
std::string Le32(std::uint32_t v);
std::string Le16(std::uint16_t v);
// A file: the count, then each record (its size field, its bytes, its delay).
std::string MakeRecording(std::uint32_t count, const std::vector<TRecord>& records);

// ---- Pictures and frames -----------------------------------------------------------------------------------------

// A 352 x 288 bottom-up BGR picture (kBuffer bytes) carrying the test-pattern stamp of seq.
std::vector<BYTE> StampedPicture(std::uint32_t seq);
// Pictures 1..n compressed with a codec of the test's own (frame 1 a key frame), as records with the delays given
// (delays[i] for frame i + 1; 40 where none is given).
std::vector<TRecord> CompressedRecords(std::uint32_t n, const std::vector<std::uint16_t>& delays = {});
// Decodes a run of records in order with a codec of the test's own; the stamp of each decoded picture (0 where
// none could be read).
std::vector<std::uint32_t> DecodeStamps(const std::vector<TRecord>& records);
// The stamp the paint box shows now (read back through its surface), 0 when none.
std::uint32_t ShownStamp(TPaintBox* box);

// The stamps painted into the form's paint box since the paint log was last cleared.
std::vector<std::uint32_t> PaintedStamps();
void ClearPaintLog();

// Runs the capture callback as the driver would, on a thread of its own, once per picture.
void Deliver(const std::vector<std::vector<BYTE>>& pictures);
// One frame whose header says it holds `used` bytes of a buffer of `length` bytes filled with `fill`.
void DeliverRaw(std::uint32_t used, std::uint32_t length, BYTE fill);

// ---- The form ------------------------------------------------------------------------------------------------------

// Creates Form1 and SplashForm as the program's entry does. With show, the main form is shown (FormShow: the
// splash, the capture window, driver 0 from `drivers` as TARVO_CAPTURE_DRIVERS). Every box until then counts.
TForm1* CreateForms(bool show, const char* drivers = "pattern");
// Destroys both forms (FormDestroy runs) and makes the application ready for another test.
void DestroyForms();

// Chooses a recording file through NewBtn (the unattended save dialog answers `path`).
void ChooseRecordingFile(TForm1* form, const std::string& path);
// Opens a file for playback through OpenBtn.
void ChoosePlaybackFile(TForm1* form, const std::string& path);

// Resets every fault, the logs, the clock and the sleeps.
void ResetAll();

}  // namespace rectest
