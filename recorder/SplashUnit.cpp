// The splash window's published components (SplashUnit.h); its look is all in SplashUnit.form.
#include "SplashUnit.h"

TSplashForm* SplashForm = nullptr;

TARVO_PUBLISH(TSplashForm, TForm) { b.Field("Bevel1", &TSplashForm::Bevel1).Field("Label1", &TSplashForm::Label1); }

TSplashForm::~TSplashForm() {
  if (SplashForm == this) SplashForm = nullptr;
}
