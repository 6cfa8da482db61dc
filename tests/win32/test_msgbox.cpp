// MessageBoxA: the presenter, and the unattended answer on standard error; the diagnostics writer that every
// layer shares.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "win32/win32.h"

namespace {

struct Presented {
  std::string text, caption;
  UINT type = 0;
  int calls = 0;
};
Presented gPresented;

int FakePresenter(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  gPresented.text = text;
  gPresented.caption = caption;
  gPresented.type = type;
  ++gPresented.calls;
  return IDNO;
}

struct PresenterGuard {
  ~PresenterGuard() {
    SetMessageBoxPresenter(nullptr);
    unsetenv("TARVO_UNATTENDED");
  }
};

int Unattended(const char* text, const char* caption, UINT type, std::string& err) {
  testing::internal::CaptureStderr();
  int answer = MessageBoxA(nullptr, text, caption, type);
  err = testing::internal::GetCapturedStderr();
  return answer;
}

}  // namespace

TEST(MessageBox, WithoutPresenterWritesOneLineAndAnswersTheDefault) {
  PresenterGuard g;
  std::string err;
  EXPECT_EQ(Unattended("Frame lost", "tarvocast", MB_OK | MB_ICONERROR, err), IDOK);
  EXPECT_EQ(err, "MessageBox [tarvocast]: Frame lost -> OK\n");
  EXPECT_EQ(Unattended("Quit?", "tarvoview", MB_YESNO | MB_ICONQUESTION, err), IDYES);
  EXPECT_EQ(err, "MessageBox [tarvoview]: Quit? -> Yes\n");
  EXPECT_EQ(Unattended("Save?", "c", MB_YESNOCANCEL, err), IDYES);
  EXPECT_EQ(Unattended("Sure?", "c", MB_OKCANCEL, err), IDOK);
  EXPECT_EQ(Unattended("Sure?", "c", MB_YESNO | MB_DEFBUTTON2, err), IDNO);
  EXPECT_EQ(Unattended("Sure?", "c", MB_OKCANCEL | MB_DEFBUTTON2, err), IDCANCEL);
  EXPECT_EQ(Unattended("Sure?", "c", MB_YESNOCANCEL | MB_DEFBUTTON3, err), IDCANCEL);
  EXPECT_EQ(Unattended("Sure?", "c", MB_OK | MB_DEFBUTTON2, err), IDOK) << "no second button";
  EXPECT_EQ(Unattended("line one\r\nline two\nthree", nullptr, MB_OK, err), IDOK);
  EXPECT_EQ(err, "MessageBox [Error]: line one line two three -> OK\n");
  EXPECT_EQ(Unattended(nullptr, "c", MB_OK, err), IDOK);
  EXPECT_EQ(err, "MessageBox [c]:  -> OK\n");
}

TEST(MessageBox, PresenterShowsTheBox) {
  PresenterGuard g;
  gPresented = Presented{};
  SetMessageBoxPresenter(FakePresenter);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_YESNO), IDNO);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(gPresented.calls, 1);
  EXPECT_EQ(gPresented.text, "text");
  EXPECT_EQ(gPresented.caption, "caption");
  EXPECT_EQ(gPresented.type, MB_YESNO);
}

TEST(MessageBox, UnattendedOverridesThePresenter) {
  PresenterGuard g;
  SetMessageBoxPresenter(FakePresenter);
  setenv("TARVO_UNATTENDED", "1", 1);
  int before = gPresented.calls;
  std::string err;
  EXPECT_EQ(Unattended("text", "caption", MB_YESNO, err), IDYES);
  EXPECT_EQ(err, "MessageBox [caption]: text -> Yes\n");
  EXPECT_EQ(gPresented.calls, before);
}

// Lines of several threads arrive whole, each ended by exactly one line break.
TEST(Diagnostics, LinesStayWholeAndEndOnce) {
  testing::internal::CaptureStderr();
  WriteDiagnosticLine("no break");
  WriteDiagnosticLine("own break\n");
  WriteDiagnosticLine(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "no break\nown break\n");

  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      const std::string line = "thread " + std::to_string(t) + " " + std::string(300, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) WriteDiagnosticLine(line.c_str());
    });
  for (auto& th : threads) th.join();
  std::istringstream err(testing::internal::GetCapturedStderr());
  int counts[kThreads] = {};
  std::string line;
  while (std::getline(err, line)) {
    int t = line.size() > 7 ? line[7] - '0' : -1;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 40);
    ASSERT_EQ(line, "thread " + std::to_string(t) + " " + std::string(300, static_cast<char>('a' + t)));
    ++counts[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(counts[t], kLines) << "thread " << t;
}
