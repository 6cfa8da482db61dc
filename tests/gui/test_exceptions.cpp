// The standard exception display: an exception that escapes a handler, a timer tick, form creation or form
// destruction is shown (caption: the program's name; error icon; OK) and the program goes on; one that
// escapes a thread body ends that thread without a message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QPointer>
#include <QTest>
#include <cstdlib>
#include <iostream>

#include "testforms.h"
#include "win32/user.h"

namespace {

class TStderrToFile {
 public:
  TStderrToFile() {
    std::fflush(stderr);
    FSaved = dup(2);
    FFile = std::tmpfile();
    dup2(fileno(FFile), 2);
    setenv("TARVO_UNATTENDED", "1", 1);
  }
  ~TStderrToFile() { Text(); }
  std::string Text() {
    if (FSaved < 0) return FText;
    unsetenv("TARVO_UNATTENDED");
    std::fflush(stderr);
    dup2(FSaved, 2);
    close(FSaved);
    FSaved = -1;
    std::rewind(FFile);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, FFile)) > 0) FText.append(buf, n);
    std::fclose(FFile);
    return FText;
  }

 private:
  int FSaved = -1;
  std::FILE* FFile = nullptr;
  std::string FText;
};

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

class ExceptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    gThrowing.clear();
  }
  void TearDown() override {
    gThrowing.clear();
    if (Form != nullptr) FreeForm(Form);
  }
  TTestForm* Form = nullptr;
};

}  // namespace

TEST_F(ExceptionTest, AHandlerExceptionIsShownAndTheProgramGoesOn) {
  Application->CreateForm(Form);
  Form->Show();
  gThrowing = {"SetupBtnClick"};
  gCalls.clear();
  TStderrToFile err;
  QTest::mouseClick(Form->SetupBtn->Widget(), Qt::LeftButton);
  QTest::mouseClick(Form->StartBtn->Widget(), Qt::LeftButton);
  std::string text = err.Text();
  EXPECT_EQ(Count(text, "MessageBox [gui_tests]: SetupBtnClick failed. -> OK\n"), 1u) << text;
  EXPECT_EQ(gCalls, std::vector<std::string>{"StartBtnClick(StartBtn)"});
}

TEST_F(ExceptionTest, ATimerExceptionIsShownOncePerTickAndTheTicksGoOn) {
  Application->CreateForm(Form);
  int ticks = 0;
  Form->Hooks["Timer1Timer"] = [&] { ++ticks; };
  gThrowing = {"Timer1Timer"};
  TStderrToFile err;
  Form->Timer1->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 4; }));
  Form->Timer1->SetEnabled(false);
  std::string text = err.Text();
  EXPECT_EQ(Count(text, "MessageBox [gui_tests]: Timer1Timer failed. -> OK\n"), static_cast<std::size_t>(ticks)) << text;
}

TEST_F(ExceptionTest, MessagesWithoutAFullStopGetOneAndOthersStayAsTheyAre) {
  TStderrToFile err;
  try {
    throw Exception("Error ");
  } catch (...) {
    Application->HandleException();
  }
  try {
    throw std::runtime_error("Done!");
  } catch (...) {
    Application->HandleException();
  }
  try {
    throw 42;
  } catch (...) {
    Application->HandleException();
  }
  std::string text = err.Text();
  EXPECT_NE(text.find("MessageBox [gui_tests]: Error  -> OK"), std::string::npos) << text;
  EXPECT_NE(text.find("MessageBox [gui_tests]: Done! -> OK"), std::string::npos) << text;
  EXPECT_NE(text.find("MessageBox [gui_tests]: Unknown exception. -> OK"), std::string::npos) << text;
}

TEST_F(ExceptionTest, AThreadBodyExceptionEndsTheThreadWithoutAMessage) {
  class TFailing : public TThread {
   protected:
    void Execute() override { throw Exception("body failed"); }
  };
  TStderrToFile err;
  auto* t = new TFailing();
  t->Resume();
  t->WaitFor();
  EXPECT_TRUE(t->Finished());
  delete t;
  Pump(20);
  EXPECT_EQ(err.Text(), "");
}

// A program whose FormCreate fails: reported, the form is still the main form, shown and run; closing it ends
// the program normally.
TEST_CHILD(FormCreateFails) {
  Application->Initialize();
  gThrowing = {"FormCreate"};
  TTestForm* form = nullptr;
  Application->CreateForm(form);
  gThrowing.clear();
  std::cout << "main form " << (Application->MainForm() == form ? "is" : "is not") << " the form" << std::endl;
  PostMessageA(form->Handle(), WM_CLOSE, 0, 0);
  Application->Run();
  for (const std::string& c : gCalls) std::cout << c << "\n";
  return 0;
}

TEST(ExceptionDisplay, AFailingFormCreateIsReportedAndTheFormStillRuns) {
  TChildResult r = RunChild("FormCreateFails", {"TARVO_UNATTENDED=1", "QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(r.ExitStatus, 0);
  EXPECT_NE(r.Stderr.find("MessageBox [gui_tests]: FormCreate failed. -> OK"), std::string::npos) << r.Stderr;
  EXPECT_NE(r.Stdout.find("main form is the form"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find("FormShow(TestForm)"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find("FormDestroy(TestForm)"), std::string::npos) << r.Stdout;
}

// A program whose FormDestroy fails: the rest of that handler is skipped, the components are destroyed all the
// same, and the program ends with status 0.
TEST_CHILD(FormDestroyFails) {
  Application->Initialize();
  TTestForm* form = nullptr;
  Application->CreateForm(form);
  if (std::getenv("FAIL_DESTROY") != nullptr) gThrowing = {"FormDestroy"};
  QPointer<QWidget> label = form->FrameLabel->Widget();
  PostMessageA(form->Handle(), WM_CLOSE, 0, 0);
  Application->Run();
  for (const std::string& c : gCalls) std::cout << c << "\n";
  std::cout << "components " << (label.isNull() ? "destroyed" : "alive") << std::endl;
  return 0;
}

TEST(ExceptionDisplay, AFailingFormDestroyIsReportedTheComponentsGoAndTheProgramEndsWell) {
  TChildResult r = RunChild("FormDestroyFails", {"TARVO_UNATTENDED=1", "QT_QPA_PLATFORM=offscreen", "FAIL_DESTROY=1"});
  EXPECT_EQ(r.ExitStatus, 0);
  EXPECT_NE(r.Stderr.find("MessageBox [gui_tests]: FormDestroy failed. -> OK"), std::string::npos) << r.Stderr;
  EXPECT_EQ(r.Stdout.find("FormDestroy:end"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find("components destroyed"), std::string::npos) << r.Stdout;

  // Without the failure, OnDestroy runs while every component and the window still exist.
  r = RunChild("FormDestroyFails", {"TARVO_UNATTENDED=1", "QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(r.ExitStatus, 0);
  EXPECT_EQ(r.Stderr.find("MessageBox"), std::string::npos) << r.Stderr;
  EXPECT_NE(r.Stdout.find("FormDestroy:end components=19 handle=yes"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find("components destroyed"), std::string::npos) << r.Stdout;
}
