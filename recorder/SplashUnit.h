// The splash window of tarvorec: a borderless box saying "Initializing, plesae wait..." that the main form shows
// while it connects the capture driver and sets up capture (Unit1.h FormShow). Created hidden by the program's
// entry right after the main form.
#pragma once

#include "gui/gui.h"

class TSplashForm : public TForm {
 public:
  TARVO_PUBLISHED(TSplashForm)
  explicit TSplashForm(TComponent* AOwner) : TForm(AOwner) {}
  ~TSplashForm() override;

  TBevel* Bevel1 = nullptr;
  TLabel* Label1 = nullptr;
};

extern TSplashForm* SplashForm;
