// The unattended rule and the dialog precondition shared by the capture and codec dialogs (dialogs.h).
#include "dialogs.h"

#include <unistd.h>

#include <QApplication>
#include <QThread>
#include <cstdlib>
#include <cstring>

namespace {

void WriteLine(const std::string& line) {
  // One write, so that lines of several threads do not mix.
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = write(2, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

bool Unattended() {
  const char* v = std::getenv("TARVO_UNATTENDED");
  return v && std::strcmp(v, "1") == 0;
}

void ReportUnattendedDialog(const std::string& caption, const std::string& text) {
  WriteLine("Dialog [" + caption + "]: " + text + " -> OK\n");
}

bool CanShowDialog(const std::string& caption) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    WriteLine("Dialog [" + caption + "]: not shown: the program has no GUI application object\n");
    return false;
  }
  if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
    WriteLine("Dialog [" + caption + "]: not shown: called outside the GUI thread\n");
    return false;
  }
  return true;
}
