// Shows the test form, with the splash below it, on the display until the form is closed: screenshots under
// Xvfb. With --splash-then-block=SECONDS it first does what a program's set-up behind a splash does: shows the
// splash, repaints it, and keeps the GUI thread busy for that long without handling any event, so that a
// screenshot taken meanwhile shows what Repaint alone put on the screen.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "testforms.h"

int main(int argc, char** argv) {
  int blockSeconds = 0;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--splash-then-block=", 20) == 0) blockSeconds = std::atoi(argv[i] + 20);
  Application->Initialize(argc, argv);
  TTestForm* form = nullptr;
  TSplash* splash = nullptr;
  Application->CreateForm(form);
  Application->CreateForm(splash);
  form->ListBox1->Items()->Add("14:03:29  out: 192.168.1.20");
  form->FrameLabel->SetCaption("1234");
  if (blockSeconds > 0) {
    splash->Show();
    splash->Repaint();
    Screen->SetCursor(crHourGlass);
    sleep(static_cast<unsigned>(blockSeconds));
    splash->Close();
    Screen->SetCursor(crDefault);
    form->Show();
  } else {
    form->Show();
    splash->Show();
    splash->SetBounds(form->Left(), form->Top() + form->Height() + 8, splash->Width(), splash->Height());
  }
  Application->Run();
}
