// The message loop: posted platform messages and timer ticks dispatched in order, the end of the loop, the
// terminate flag, ProcessMessages, and label updates from other threads that never wait for the GUI thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

#include "gui/gdi.h"
#include "testforms.h"
#include "win32/user.h"

namespace {

constexpr UINT WM_PROBE = WM_USER + 77;

LRESULT ProbeProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_PROBE) {
    gCalls.push_back("msg " + std::to_string(w));
    if (l == 1) PostMessageA(hwnd, WM_PROBE, w + 100, 2);  // a follow-up, posted while the queue is handled
    if (l == 2) Application->Terminate();
    return 0;
  }
  return DefWindowProcA(hwnd, msg, w, l);
}

HWND ProbeWindow() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.lpszClassName = "LoopTestProbe";
    return RegisterClassA(&wc) != 0;
  }();
  EXPECT_TRUE(registered);
  return CreateWindowExA(0, "LoopTestProbe", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

// Ends a loop that a fault would leave running, so that the test fails instead of hanging.
class TWatchdog {
 public:
  explicit TWatchdog(int ms) {
    FTimer.setSingleShot(true);
    QObject::connect(&FTimer, &QTimer::timeout, [] {
      ADD_FAILURE() << "the loop did not end";
      Application->Terminate();
    });
    FTimer.start(ms);
  }

 private:
  QTimer FTimer;
};

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    gThrowing.clear();
    Probe = ProbeWindow();
    ASSERT_NE(Probe, nullptr);
  }
  void TearDown() override {
    DestroyWindow(Probe);
    Application->ResetTerminated();
    if (Form != nullptr) FreeForm(Form);
  }
  HWND Probe = nullptr;
  TTestForm* Form = nullptr;
};

}  // namespace

TEST_F(LoopTest, PostedMessagesAndTimerTicksTakeTurnsInOrderAndNothingRunsAfterTheLoop) {
  TTestForm* form = nullptr;
  Application->CreateForm(form);
  gCalls.clear();
  int ticks = 0;
  form->Hooks["Timer1Timer"] = [&] {
    ++ticks;
    if (ticks == 1) {
      PostMessageA(Probe, WM_PROBE, 2, 0);
    } else if (ticks == 2) {
      PostMessageA(Probe, WM_PROBE, 3, 0);  // posted as the main form closes: never dispatched
      form->Close();
    }
  };
  form->Hooks["FormDestroy"] = [&] {
    // The pump still works here, but it dispatches neither the message nor a tick.
    Application->ProcessMessages();
    Pump(100);
  };
  form->Timer1->SetInterval(30);
  form->Timer1->SetEnabled(true);
  PostMessageA(Probe, WM_PROBE, 1, 0);
  TWatchdog watchdog(kPatienceMs);
  Application->Run();
  EXPECT_EQ(gCalls, (std::vector<std::string>{"FormShow(TestForm)", "msg 1", "Timer1Timer(Timer1)", "msg 2",
                                              "Timer1Timer(Timer1)", "FormDestroy(TestForm)",
                                              "FormDestroy:end components=19 handle=yes"}));
  EXPECT_EQ(Application->MainForm(), nullptr);
  // The message stayed in the queue: nothing of it ran.
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, Probe, 0, 0, PM_REMOVE));
}

TEST_F(LoopTest, TheLoopHandlesWaitingMessagesInOrderWithWhatHandlersPostMeanwhile) {
  TTestForm* form = nullptr;
  Application->CreateForm(form);
  gCalls.clear();
  std::vector<std::string> expected;
  for (WPARAM n = 1; n <= 50; ++n) {
    PostMessageA(Probe, WM_PROBE, n, n == 1 ? 1 : 0);
    expected.push_back("msg " + std::to_string(n));
  }
  expected.push_back("msg 101");  // behind everything that waited when it was posted
  TWatchdog watchdog(10000);      // generous: only a fault leaves the loop running
  Application->Run();
  std::vector<std::string> messages;
  for (const std::string& c : gCalls)
    if (c.rfind("msg ", 0) == 0) messages.push_back(c);
  EXPECT_EQ(messages, expected);
}

TEST_F(LoopTest, OnDestroyFindsTheChildWindowsAndAnotherPumpThenBringsNoTick) {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "LoopTestChild";
    return RegisterClassA(&wc) != 0;
  }();
  ASSERT_TRUE(registered);
  TTestForm* form = nullptr;
  Application->CreateForm(form);
  // A capture window, say: a child of the form's window made by another layer.
  HWND child = CreateSurfaceWindow("LoopTestChild", WS_CHILD | WS_VISIBLE, 14, 9, 352, 288, form->Handle(), nullptr);
  ASSERT_NE(child, nullptr);
  gCalls.clear();
  int ticks = 0;
  form->Hooks["Timer1Timer"] = [&] {
    if (++ticks == 2) form->Close();
  };
  bool childAlive = false;
  form->Hooks["FormDestroy"] = [&] {
    childAlive = IsWindow(child) != 0;
    // A socket's own pump, as a close inside OnDestroy runs it: Qt's timers go on, and everything that waits in
    // the queue is dispatched.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200) {
      QCoreApplication::processEvents();
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      usleep(1000);
    }
  };
  form->Timer1->SetInterval(20);
  form->Timer1->SetEnabled(true);
  TWatchdog watchdog(kPatienceMs);
  Application->Run();
  EXPECT_TRUE(childAlive);
  EXPECT_FALSE(IsWindow(child));  // gone with the form's window
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"FormShow(TestForm)", "Timer1Timer(Timer1)", "Timer1Timer(Timer1)",
                                              "FormDestroy(TestForm)", "FormDestroy:end components=19 handle=yes"}));
}

TEST_F(LoopTest, ATimerTicksEverySecondByDefaultAndEnablingItAgainKeepsItsRhythm) {
  TTimer timer(nullptr);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000u);
  int ticks = 0;
  timer.OnTimer = [&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    ++ticks;
  };
  timer.SetInterval(100);
  // Enabled again and again, more often than it ticks: were each call to start its interval anew, no tick
  // would ever come.
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < kPatienceMs && ticks < 3) {
    timer.SetEnabled(true);
    Pump(30);
  }
  EXPECT_GE(ticks, 3);
  timer.SetEnabled(false);
  Pump(20);  // a tick that was already on its way finds the timer disabled
  const int stopped = ticks;
  Pump(250);
  EXPECT_EQ(ticks, stopped);
}

// Before Initialize there is no Qt: ProcessMessages handles the queue alone. Without any display Initialize
// takes Qt's offscreen platform (an empty variable is no display either), and the pump goes on working.
TEST_CHILD(NoDisplay) {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.lpszClassName = "NoDisplayProbe";
    return RegisterClassA(&wc) != 0;
  }();
  if (!registered) return 2;
  HWND probe = CreateWindowExA(0, "NoDisplayProbe", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  PostMessageA(probe, WM_PROBE, 1, 0);
  Application->ProcessMessages();
  Application->Initialize();
  PostMessageA(probe, WM_PROBE, 2, 0);
  Application->ProcessMessages();
  std::cout << QGuiApplication::platformName().toStdString() << "\n";
  for (const std::string& c : gCalls) std::cout << c << "\n";
  return 0;
}

TEST(LoopWithoutADisplay, ProcessMessagesWorksBeforeInitializeAndOnTheOffscreenPlatform) {
  TChildResult r = RunChild("NoDisplay", {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
  EXPECT_EQ(r.ExitStatus, 0) << r.Stderr;
  EXPECT_EQ(r.Stdout, "offscreen\nmsg 1\nmsg 2\n") << r.Stderr;
}

TEST_F(LoopTest, ACloseEndsTheLoopEvenWhenAnotherPumpTookTheQuitMessage) {
  Application->CreateForm(Form);
  Form->Hooks["Timer1Timer"] = [&] {
    // A socket's own pump: it removes WM_QUIT and keeps it to itself.
    PostQuitMessage(0);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
    Form->Timer1->SetEnabled(false);
    Form->Close();
  };
  Form->Timer1->SetEnabled(true);
  TWatchdog watchdog(kPatienceMs);
  Application->Run();
  Form = nullptr;  // Run destroyed it
  EXPECT_TRUE(Application->Terminated());
  EXPECT_TRUE(ApplicationTerminated());  // what the socket component's waits see
}

TEST_F(LoopTest, AQuitMessageEndsTheLoopAndSetsTheTerminateFlag) {
  Application->CreateForm(Form);
  EXPECT_FALSE(ApplicationTerminated());
  PostQuitMessage(0);
  TWatchdog watchdog(kPatienceMs);
  Application->Run();
  Form = nullptr;
  EXPECT_TRUE(Application->Terminated());
  EXPECT_TRUE(ApplicationTerminated());
}

TEST_F(LoopTest, ProcessMessagesHandlesWhatWaitsAndNeverBlocks) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) Application->ProcessMessages();
  // A guard against waiting for messages that do not come (a hundred such waits), not a measure.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  PostMessageA(Probe, WM_PROBE, 1, 0);
  PostMessageA(Probe, WM_PROBE, 2, 0);
  ApplicationProcessMessages();  // the hook platform/rtl's waits call
  EXPECT_EQ(gCalls, (std::vector<std::string>{"msg 1", "msg 2"}));
  PostQuitMessage(0);
  Application->ProcessMessages();
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(LoopTest, ALabelSetFromAnotherThreadNeverWaitsAndTheLastTextWins) {
  Application->CreateForm(Form);
  TLabel* label = Form->FrameLabel;
  // The GUI thread handles nothing while the thread counts to 2000: every call must return on its own.
  std::atomic<bool> counted{false};
  std::thread counter([&] {
    for (int i = 1; i <= 2000; ++i) {
      label->SetCaption(std::to_string(i));
      label->Repaint();
    }
    counted = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return counted.load(); })) << "a call waited for the GUI thread";
  if (!counted) PumpUntil([&] { return counted.load(); });  // so that such a call can end, and the test
  counter.join();
  EXPECT_EQ(label->Text(), "2000");
  EXPECT_EQ(label->Caption(), "0");  // not yet shown: the GUI thread has not run
  Pump(20);
  EXPECT_EQ(label->Caption(), "2000");
}

TEST_F(LoopTest, UpdatesArriveWhileAModalBoxRuns) {
  Application->CreateForm(Form);
  Form->Show();
  TLabel* label = Form->FrameLabel;
  std::atomic<bool> sent{false};
  std::thread sender;
  bool seenInside = false;
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [&, timer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (!sent.exchange(true)) sender = std::thread([&] { label->SetCaption("during the box"); });
    if (label->Caption() == "during the box") {
      seenInside = true;
      box->button(QMessageBox::Ok)->click();
      timer->deleteLater();
    }
  });
  timer->start(10);
  MessageBoxA(Form->Handle(), "waiting", "modal", MB_OK);
  if (sender.joinable()) sender.join();
  EXPECT_TRUE(seenInside);
}

TEST_F(LoopTest, UpdatesToADestroyedLabelAreDropped) {
  Application->CreateForm(Form);
  auto* label = new TLabel(Form);
  label->SetParent(Form);
  std::thread([&] { label->SetCaption("late"); }).join();
  delete label;  // the text is on its way to the GUI thread
  Pump(20);      // and finds nothing to show it on
  SUCCEED();
}
