// The keyboard on the sender's stored form: the order in which Tab visits its controls.
#include "sender_testing.h"

using namespace sender_testing;

TEST(StoredTabOrder, TabVisitsTheButtonsAndTheListInTheStoredOrder) {
  SENDER_NEED_LAN();  // a form says "exit" to the network when it goes
  TForm1* F = CreateForm();
  // video setup, Exit, Start, (Stop, disabled while idle), the group box's list, (the panel), codec setup.
  std::vector<std::string> walk;
  TWinControl* at = nullptr;
  for (int i = 0; i < 6; ++i) {
    at = F->FindNextControl(at, true);
    walk.push_back(at != nullptr ? at->Name() : "(none)");
  }
  EXPECT_EQ(walk, (std::vector<std::string>{"SetupBtn", "CloseBtn", "StartBtn", "ListBox1", "CodecSetupBtn",
                                           "SetupBtn"}));
  F->StopBtn->SetEnabled(true);
  EXPECT_EQ(F->FindNextControl(F->StartBtn, true), F->StopBtn);
  EXPECT_EQ(F->FindNextControl(F->StopBtn, true), F->ListBox1);
  EXPECT_EQ(F->FindNextControl(F->SetupBtn, false), F->CodecSetupBtn);
  DestroyForm();
}
