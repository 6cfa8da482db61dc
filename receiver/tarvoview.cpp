// tarvoview, the receiver: the program's entry.
#include "Unit1.h"

int main(int argc, char** argv) {
  RegisterSocketClasses();
  Application->Initialize(argc, argv);
  Application->CreateForm(Form1);
  Application->Run();
  return 0;
}
