// What the capture and codec dialogs share: the platform's unattended rule (win32/diagnostics.h: with
// TARVO_UNATTENDED=1 no dialog appears; its caption and what it would show go to standard error and it answers
// as if accepted unchanged) and the check that a real dialog can be shown on this thread. Internal to
// platform/vfw.
#pragma once

#include <string>

#include "win32/diagnostics.h"

// Writes "Dialog [caption]: text -> OK" as one line to standard error.
void ReportUnattendedDialog(const std::string& caption, const std::string& text);
// True when a Qt application exists and the calling thread is its GUI thread; otherwise writes why not,
// naming the dialog, to standard error.
bool CanShowDialog(const std::string& caption);
