// The sender tests' shared part (sender_testing.h).
#include "sender_testing.h"

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lan_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
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
// Long runs: keep enough history to show both sides of a report.
extern "C" const char* __tsan_default_options() { return "history_size=7"; }
#endif

namespace sender_testing {

bool GOnLan = false;
std::string GNoLanReason;
std::string GHostAddress;

namespace {

using Clock = std::chrono::steady_clock;

std::mutex GBoxLock;
std::vector<TBox> GBoxes;
std::function<void(const TBox&)> GBoxHook;

int RecordingPresenter(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  TBox box{text ? text : "", caption ? caption : "", type};
  std::fprintf(stderr, "MessageBox [%s]: %s\n", box.Caption.c_str(), box.Text.c_str());
  std::function<void(const TBox&)> hook;
  {
    std::lock_guard<std::mutex> guard(GBoxLock);
    GBoxes.push_back(box);
    hook = GBoxHook;
  }
  if (hook) hook(box);
  switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return IDOK;
  }
}

int RunTests() {
  RegisterSocketClasses();
  Application->Initialize();
  SetMessageBoxPresenter(&RecordingPresenter);
  // The driver's and the codec's dialogs are real modal dialogs here: each is cancelled as soon as it shows.
  auto* closer = new QTimer(QCoreApplication::instance());
  QObject::connect(closer, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  closer->start(20);
  int status = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
  // The tests end with _exit on the LAN host, which skips the check at exit: it is made here.
  if (__lsan_do_recoverable_leak_check() != 0) status = 1;
#endif
  return status;
}

}  // namespace

int Main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);  // before gtest takes its flags out
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("TARVO_CAPTURE_DRIVERS", "pattern", 0);
  ::unsetenv("TARVO_UNATTENDED");
  ::unsetenv("TARVO_PAINT_LOG");

  if (const char* host = std::getenv("TARVO_SENDER_ON_HOST")) {
    // Started on a LAN host by the run below, or by a test that runs on one already.
    GOnLan = true;
    GHostAddress = host;
    return RunTests();
  }
  GNoLanReason = tarvo::lan::LanUnavailableReason();
  if (!GNoLanReason.empty()) return RunTests();
  // The tests run in a fresh copy of this program on host 1 (entered by the LAN tool, so that no sanitizer
  // thread of this process stands in the way of entering the host's namespaces).
  tarvo::lan::TLan lan(1);
  ::setenv("TARVO_SENDER_ON_HOST", lan.Address(1).c_str(), 1);
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = 0;
  std::vector<std::string> run = {"run", lan.Name(), "1", self};
  run.insert(run.end(), args.begin(), args.end());
  // The whole test run: CTest's time limit guards it, not the tool's.
  return tarvo::lan::RunLanTool(run, nullptr, nullptr, std::chrono::hours(24));
}

std::vector<TBox> Boxes() {
  std::lock_guard<std::mutex> guard(GBoxLock);
  return GBoxes;
}

void ClearBoxes() {
  std::lock_guard<std::mutex> guard(GBoxLock);
  GBoxes.clear();
}

void SetBoxHook(std::function<void(const TBox&)> hook) {
  std::lock_guard<std::mutex> guard(GBoxLock);
  GBoxHook = std::move(hook);
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

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// ---- The form ------------------------------------------------------------------------------------------------------

TForm1* CreateForm() {
  Application->CreateForm(Form1);
  return Form1;
}

void DestroyForm() {
  delete Form1;
  Form1 = nullptr;
}

std::uint8_t FrameByte(std::uint32_t size, std::uint32_t i) {
  return static_cast<std::uint8_t>(i * 131u + size * 7u + (i >> 8));
}

void HandOver(TForm1* form, std::uint32_t size) {
  const std::uint32_t fill = std::min(size, form->FrameBufferSize());
  for (std::uint32_t i = 0; i < fill; ++i) form->OutFrame[i] = FrameByte(size, i);
  form->OutSize = size;
  form->CanCompress.store(0, std::memory_order_release);
  form->FrameReady.store(1, std::memory_order_release);
}

std::vector<std::size_t> ExpectedDatagrams(std::uint32_t size) {
  std::vector<std::size_t> sizes{9};
  for (std::uint32_t n = size / 10240; n > 0; --n) {
    sizes.insert(sizes.end(), 6, 1514);
    sizes.push_back(1156);
  }
  const std::uint32_t rest = size % 10240;
  sizes.insert(sizes.end(), rest / 1514, 1514);
  if (rest % 1514) sizes.push_back(rest % 1514);
  return sizes;
}

char PictureType(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i + 4 < size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6) {
      switch (data[i + 4] >> 6) {
        case 0: return 'I';
        case 1: return 'P';
        case 2: return 'B';
        default: return '?';
      }
    }
  }
  return '?';
}

namespace {
// Names the socket's handle through a class of the family, which may form a pointer to the protected member.
struct TSocketPeek : TWSocket {
  static std::atomic<SOCKET> TCustomWSocket::*Handle() { return &TSocketPeek::SocketHandle; }
};
}  // namespace

int SocketFd(TWSocket* socket) {
  SOCKET s = (socket->*TSocketPeek::Handle()).load();
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sender_testing
