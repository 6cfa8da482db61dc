// The forms and helpers the toolkit's tests share: a form class for forms/TestForm.form that records which of
// its handlers ran (and can make any of them throw), the splash form, a child-process runner and event pumps.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gui/gui.h"

// Handlers that ran, in order, across forms (a destroyed form's FormDestroy is in here too).
extern std::vector<std::string> gCalls;
// Handlers that throw Exception("<name> failed") instead of recording.
extern std::set<std::string> gThrowing;

class TTestForm : public TForm {
 public:
  TARVO_PUBLISHED(TTestForm)
  explicit TTestForm(TComponent* AOwner) : TForm(AOwner) {}

  TPanel* Panel1 = nullptr;
  TPaintBox* PaintBox1 = nullptr;
  TBitBtn* SetupBtn = nullptr;
  TBitBtn* StartBtn = nullptr;
  TBitBtn* StopBtn = nullptr;
  TBitBtn* CloseBtn = nullptr;
  TLabel* Label2 = nullptr;
  TLabel* FrameLabel = nullptr;
  TGroupBox* GroupBox1 = nullptr;
  TListBox* ListBox1 = nullptr;
  TLabel* Label1 = nullptr;
  TLabel* ChineseLabel = nullptr;
  TPictureButton* RecordImage = nullptr;
  TPictureButton* DisabledImage = nullptr;
  TImage* Image1 = nullptr;
  TBevel* Bevel1 = nullptr;
  TTimer* Timer1 = nullptr;
  TSaveDialog* SaveDlg = nullptr;
  TOpenDialog* OpenDlg = nullptr;

  void FormCreate(TObject* Sender) { Record("FormCreate", Sender); }
  void FormShow(TObject* Sender) { Record("FormShow", Sender); }
  void FormDestroy(TObject* Sender);
  void SetupBtnClick(TObject* Sender) { Record("SetupBtnClick", Sender); }
  void StartBtnClick(TObject* Sender) { Record("StartBtnClick", Sender); }
  void StopBtnClick(TObject* Sender) { Record("StopBtnClick", Sender); }
  void CloseBtnClick(TObject* Sender);
  void RecordImageClick(TObject* Sender) { Record("RecordImageClick", Sender); }
  void DisabledImageClick(TObject* Sender) { Record("DisabledImageClick", Sender); }
  void PaintBox1Click(TObject* Sender) { Record("PaintBox1Click", Sender); }
  void Timer1Timer(TObject* Sender) { Record("Timer1Timer", Sender); }

  // Runs at the start of the handler of that name, before it records (tests use it to act inside handlers).
  std::map<std::string, std::function<void()>> Hooks;

 private:
  void Record(const std::string& name, TObject* sender);
};

class TSplash : public TForm {
 public:
  TARVO_PUBLISHED(TSplash)
  explicit TSplash(TComponent* AOwner) : TForm(AOwner) {}
  TBevel* Bevel1 = nullptr;
  TLabel* Label1 = nullptr;
};

// Destroys a form as the application does (OnDestroy first).
void FreeForm(TCustomForm* form);

// How long a test waits for what must happen: generous, for a loaded machine and a sanitizer build. A wait ends
// as soon as the awaited thing happens.
constexpr int kPatienceMs = 60000;

// Processes events (Qt's and the platform queue) for about ms milliseconds.
void Pump(int ms);
// Processes events until pred holds or timeoutMs passes; whether it holds.
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = kPatienceMs);
// Sleeps in short steps, processing nothing, until pred holds or timeoutMs passes; whether it holds.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = kPatienceMs);

// Runs this test program again as a child that runs the named scenario (registered with TEST_CHILD), with the
// extra environment variables given; its exit status, and what it wrote to standard error.
struct TChildResult {
  int ExitStatus = -1;  // -1 when it did not exit normally
  std::string Stderr;
  std::string Stdout;
};
TChildResult RunChild(const std::string& scenario, const std::vector<std::string>& env = {});

// A fresh directory /tmp/<prefix>-XXXXXX, removed with everything in it when the test process ends (not when a
// child scenario forked from it ends).
std::string ScratchDir(const char* prefix);

using TChildScenario = int (*)();
bool RegisterChildScenario(const char* name, TChildScenario fn);
#define TEST_CHILD(name)                                                      \
  static int ChildScenario_##name();                                          \
  static const bool kChildRegistered_##name = RegisterChildScenario(#name, &ChildScenario_##name); \
  static int ChildScenario_##name()
