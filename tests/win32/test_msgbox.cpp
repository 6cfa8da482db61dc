// MessageBoxA: the presenter, and the unattended answer on standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
