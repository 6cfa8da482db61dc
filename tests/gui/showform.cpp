// Shows the test form, with the splash below it, on the display until the form is closed: screenshots under
// Xvfb.
#include "testforms.h"

int main(int argc, char** argv) {
  Application->Initialize(argc, argv);
  TTestForm* form = nullptr;
  TSplash* splash = nullptr;
  Application->CreateForm(form);
  Application->CreateForm(splash);
  form->ListBox1->Items()->Add("14:03:29  out: 192.168.1.20");
  form->FrameLabel->SetCaption("1234");
  form->Show();
  splash->Show();
  splash->SetBounds(form->Left(), form->Top() + form->Height() + 8, splash->Width(), splash->Height());
  Application->Run();
}
