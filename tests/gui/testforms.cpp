// The shared test forms, the child-process runner and the test program's entry.
#include "testforms.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstring>
#include <filesystem>

#include "win32/user.h"

std::vector<std::string> gCalls;
std::set<std::string> gThrowing;

TARVO_PUBLISH(TTestForm, TForm) {
  b.Field("Panel1", &TTestForm::Panel1)
      .Field("PaintBox1", &TTestForm::PaintBox1)
      .Field("SetupBtn", &TTestForm::SetupBtn)
      .Field("StartBtn", &TTestForm::StartBtn)
      .Field("StopBtn", &TTestForm::StopBtn)
      .Field("CloseBtn", &TTestForm::CloseBtn)
      .Field("Label2", &TTestForm::Label2)
      .Field("FrameLabel", &TTestForm::FrameLabel)
      .Field("GroupBox1", &TTestForm::GroupBox1)
      .Field("ListBox1", &TTestForm::ListBox1)
      .Field("Label1", &TTestForm::Label1)
      .Field("ChineseLabel", &TTestForm::ChineseLabel)
      .Field("RecordImage", &TTestForm::RecordImage)
      .Field("DisabledImage", &TTestForm::DisabledImage)
      .Field("Image1", &TTestForm::Image1)
      .Field("Bevel1", &TTestForm::Bevel1)
      .Field("Timer1", &TTestForm::Timer1)
      .Field("SaveDlg", &TTestForm::SaveDlg)
      .Field("OpenDlg", &TTestForm::OpenDlg)
      .Method("FormCreate", &TTestForm::FormCreate)
      .Method("FormShow", &TTestForm::FormShow)
      .Method("FormDestroy", &TTestForm::FormDestroy)
      .Method("SetupBtnClick", &TTestForm::SetupBtnClick)
      .Method("StartBtnClick", &TTestForm::StartBtnClick)
      .Method("StopBtnClick", &TTestForm::StopBtnClick)
      .Method("CloseBtnClick", &TTestForm::CloseBtnClick)
      .Method("RecordImageClick", &TTestForm::RecordImageClick)
      .Method("DisabledImageClick", &TTestForm::DisabledImageClick)
      .Method("PaintBox1Click", &TTestForm::PaintBox1Click)
      .Method("Timer1Timer", &TTestForm::Timer1Timer);
}

TARVO_PUBLISH(TSplash, TForm) { b.Field("Bevel1", &TSplash::Bevel1).Field("Label1", &TSplash::Label1); }

void TTestForm::Record(const std::string& name, TObject* sender) {
  auto hook = Hooks.find(name);
  if (hook != Hooks.end()) hook->second();
  if (gThrowing.count(name) != 0) throw Exception(name + " failed");
  auto* component = dynamic_cast<TComponent*>(sender);
  gCalls.push_back(name + "(" + (component != nullptr ? component->Name() : std::string("?")) + ")");
}

void TTestForm::FormDestroy(TObject* Sender) {
  Record("FormDestroy", Sender);
  // Reached only when nothing above threw: the rest of the handler.
  gCalls.push_back("FormDestroy:end components=" + std::to_string(ComponentCount()) +
                   " handle=" + (IsWindow(Handle()) ? "yes" : "no"));
}

void TTestForm::CloseBtnClick(TObject* Sender) {
  Record("CloseBtnClick", Sender);
  Close();
}

void FreeForm(TCustomForm* form) {
  form->Destroying();
  delete form;
}

void Pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  do {
    Application->ProcessMessages();
    usleep(1000);
  } while (timer.elapsed() < ms);
}

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > timeoutMs) return false;
    Application->ProcessMessages();
    usleep(1000);
  }
  return true;
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > timeoutMs) return false;
    usleep(1000);
  }
  return true;
}

namespace {

std::map<std::string, TChildScenario>& Scenarios() {
  static std::map<std::string, TChildScenario> scenarios;
  return scenarios;
}

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace

bool RegisterChildScenario(const char* name, TChildScenario fn) {
  Scenarios()[name] = fn;
  return true;
}

std::string ScratchDir(const char* prefix) {
  struct TScratchDirs {
    pid_t Owner = getpid();
    std::vector<std::string> Dirs;
    ~TScratchDirs() {
      if (getpid() != Owner) return;
      std::error_code ignored;
      for (const std::string& dir : Dirs) std::filesystem::remove_all(dir, ignored);
    }
  };
  static TScratchDirs scratch;
  std::string name = std::string("/tmp/") + prefix + "-XXXXXX";
  if (mkdtemp(name.data()) == nullptr) return "/tmp";
  scratch.Dirs.push_back(name);
  return name;
}

TChildResult RunChild(const std::string& scenario, const std::vector<std::string>& env) {
  TChildResult result;
  char errName[] = "/tmp/gui-test-err-XXXXXX";
  char outName[] = "/tmp/gui-test-out-XXXXXX";
  int errFd = mkstemp(errName);
  int outFd = mkstemp(outName);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(errFd, 2);
    dup2(outFd, 1);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::string arg = "--child=" + scenario;
    execl("/proc/self/exe", "gui_tests", arg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.ExitStatus = WEXITSTATUS(status);
  lseek(errFd, 0, SEEK_SET);
  lseek(outFd, 0, SEEK_SET);
  result.Stderr = ReadAll(errFd);
  result.Stdout = ReadAll(outFd);
  close(errFd);
  close(outFd);
  unlink(errName);
  unlink(outName);
  return result;
}

// fontconfig's caches live until the process ends (Qt calls no FcFini): not a leak of ours. The leak checker of
// sanitizer builds asks for this list at start-up, in this program and in its child scenarios alike.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
// Qt is not built for the thread checker: the hand-overs inside its own thread pool and queued calls are
// invisible to it and show as races between Qt's allocations.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\ncalled_from_lib:libQt6Widgets.so.6\n";
}

#ifndef TARVO_SHOWFORM
int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--child=", 8) == 0) {
      auto it = Scenarios().find(argv[i] + 8);
      if (it == Scenarios().end()) return 126;
      return it->second();
    }
  ::testing::InitGoogleTest(&argc, argv);
  Application->Initialize(argc, argv);
  return RUN_ALL_TESTS();
}
#endif
