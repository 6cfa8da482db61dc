// Unattended runs and the diagnostics writer of platform/win32 (diagnostics.h).
#include "win32/diagnostics.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {

BOOL Unattended() {
  const char* v = std::getenv("TARVO_UNATTENDED");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

void WriteDiagnosticLine(LPCSTR line) {
  if (line == nullptr) return;
  std::string whole(line);
  if (whole.empty() || whole.back() != '\n') whole += '\n';
  // A short write (a pipe that is nearly full) goes on with the rest; a failing one gives up, since there is
  // nowhere else to report it.
  const char* p = whole.data();
  std::size_t left = whole.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // extern "C"
