// The dialog precondition shared by the capture and codec dialogs, and their unattended line (dialogs.h).
#include "dialogs.h"

#include <QApplication>
#include <QThread>

void ReportUnattendedDialog(const std::string& caption, const std::string& text) {
  WriteDiagnosticLine(("Dialog [" + caption + "]: " + text + " -> OK\n").c_str());
}

bool CanShowDialog(const std::string& caption) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    WriteDiagnosticLine(("Dialog [" + caption + "]: not shown: the program has no GUI application object\n").c_str());
    return false;
  }
  if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
    WriteDiagnosticLine(("Dialog [" + caption + "]: not shown: called outside the GUI thread\n").c_str());
    return false;
  }
  return true;
}
