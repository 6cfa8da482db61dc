// RegisterGuiClasses (gui.h): every component class that descriptions may name.
#include "gui/gui.h"

void RegisterGuiClasses() {
  static const bool done = [] {
    for (const TClassInfo* cls :
         {&TControl::StaticClassInfo(), &TWinControl::StaticClassInfo(), &TGraphicControl::StaticClassInfo(),
          &TCustomForm::StaticClassInfo(), &TForm::StaticClassInfo(), &TLabel::StaticClassInfo(),
          &TGroupBox::StaticClassInfo(), &TListBox::StaticClassInfo(), &TBitBtn::StaticClassInfo(),
          &TPanel::StaticClassInfo(), &TBevel::StaticClassInfo(), &TImage::StaticClassInfo(),
          &TPictureButton::StaticClassInfo(), &TPaintBox::StaticClassInfo(), &TTimer::StaticClassInfo(),
          &TOpenDialog::StaticClassInfo(), &TSaveDialog::StaticClassInfo()})
      RegisterClass(*cls);
    return true;
  }();
  (void)done;
}
