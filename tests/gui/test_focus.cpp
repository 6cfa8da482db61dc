// The keyboard on a form: the stored tab order across group boxes, the first focus when the form shows, Tab and
// Shift+Tab walking that order, and Space pressing the focused button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "testforms.h"

namespace {

// Generous: a loaded machine or a sanitizer build may take long to show and activate a window.
constexpr int kDeadlineMs = 30000;

class Focus : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    Application->CreateForm(Form);
    ASSERT_NE(Form, nullptr);
  }
  void TearDown() override {
    if (Form != nullptr) FreeForm(Form);
    Application->ResetTerminated();
  }
  void ShowForm() {
    Form->Show();
    ASSERT_TRUE(PumpUntil([&] { return Form->Widget()->isActiveWindow(); }, kDeadlineMs));
  }
  std::string Focused() const {
    QWidget* focus = QApplication::focusWidget();
    for (TWinControl* w : Form->TabOrderList())
      if (w->Widget() == focus) return w->Name();
    return focus != nullptr ? "(another widget)" : "(none)";
  }
  // The key pressed and released on the focused widget, as the keyboard gives it; then who has the focus.
  std::string Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr) return "(none)";
    QTest::keyClick(focus, key, modifiers);
    return Focused();
  }
  TTestForm* Form = nullptr;
};

std::vector<std::string> Names(const std::vector<TWinControl*>& controls) {
  std::vector<std::string> names;
  for (TWinControl* c : controls) names.push_back(c->Name());
  return names;
}

}  // namespace

TEST_F(Focus, AGroupBoxsControlsTakeTheGroupBoxsPlaceInTheTabOrder) {
  EXPECT_EQ(Names(Form->TabOrderList()), (std::vector<std::string>{"SetupBtn", "CloseBtn", "StartBtn", "StopBtn",
                                                                   "GroupBox1", "ListBox1", "Panel1"}));
  // Qt's own focus chain agrees, for the widgets that take the focus at all.
  std::vector<QWidget*> wanted = {Form->SetupBtn->Widget(), Form->CloseBtn->Widget(), Form->StartBtn->Widget(),
                                  Form->StopBtn->Widget(), Form->ListBox1->Widget()};
  std::vector<QWidget*> seen;
  QWidget* w = Form->SetupBtn->Widget();
  for (int i = 0; i < 64 && seen.size() < wanted.size(); ++i, w = w->nextInFocusChain())
    if (std::find(wanted.begin(), wanted.end(), w) != wanted.end()) seen.push_back(w);
  EXPECT_EQ(seen, wanted);
}

TEST_F(Focus, TheShownFormFocusesItsFirstControlAndTabWalksTheStoredOrder) {
  ShowForm();
  EXPECT_EQ(Focused(), "SetupBtn");
  // The disabled Stop button is passed over; the list box inside the group box comes at the group box's place.
  for (const char* next : {"CloseBtn", "StartBtn", "ListBox1", "SetupBtn"}) EXPECT_EQ(Press(Qt::Key_Tab), next);
  for (const char* previous : {"ListBox1", "StartBtn", "CloseBtn", "SetupBtn"})
    EXPECT_EQ(Press(Qt::Key_Tab, Qt::ShiftModifier), previous);
  Form->StopBtn->SetEnabled(true);
  for (const char* next : {"CloseBtn", "StartBtn", "StopBtn", "ListBox1"}) EXPECT_EQ(Press(Qt::Key_Tab), next);
  EXPECT_EQ(Press(Qt::Key_Backtab), "StopBtn");
  // The focused control disabled: the focus goes on along the stored order.
  Form->StopBtn->SetEnabled(false);
  EXPECT_EQ(Focused(), "ListBox1");
}

TEST_F(Focus, TheFirstFocusIsChosenAfterOnShowSetTheControls) {
  Form->Hooks["FormShow"] = [&] { Form->SetupBtn->SetEnabled(false); };
  ShowForm();
  EXPECT_EQ(Focused(), "CloseBtn");
}

TEST_F(Focus, SpacePressesTheFocusedButton) {
  ShowForm();
  gCalls.clear();
  Press(Qt::Key_Space);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"SetupBtnClick(SetupBtn)"}));
  Press(Qt::Key_Tab, Qt::ShiftModifier);  // the list box: Space there presses nothing
  Press(Qt::Key_Space);
  EXPECT_EQ(gCalls.size(), 1u);
}
