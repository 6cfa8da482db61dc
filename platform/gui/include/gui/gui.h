// The GUI toolkit in one include, and the registration of its classes for stored form descriptions.
#pragma once

#include "gui/buttons.h"
#include "gui/controls.h"
#include "gui/dialogs.h"
#include "gui/extctrls.h"
#include "gui/forms.h"
#include "gui/gdi.h"
#include "gui/graphics.h"
#include "gui/jpeg.h"
#include "gui/stdctrls.h"
#include "gui/streams.h"
#include "gui/threads.h"

// Registers every component class of this layer (TForm, TLabel, TTimer ...) with the class registry, so that
// descriptions can name them. Idempotent; Application->Initialize calls it.
void RegisterGuiClasses();
