// tarvorec, the recorder and player: the program's entry. The toolkit's initialisation registers the picture
// formats (JPEG among them) that the stored forms need.
#include "SplashUnit.h"
#include "Unit1.h"

int main(int argc, char** argv) {
  Application->Initialize(argc, argv);
  Application->CreateForm(Form1);
  Application->CreateForm(SplashForm);
  Application->Run();
  return 0;
}
