// MessageBoxA of platform/win32 (user.h): through the presenter the GUI toolkit installs, or unattended on
// standard error with the default button as the answer.
#include <atomic>
#include <string>

#include "win32/diagnostics.h"
#include "win32/kernel.h"
#include "win32/user.h"

namespace {

std::atomic<MessageBoxPresenter> gPresenter{nullptr};

const char* ButtonName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "?";
  }
}

// The buttons of each type, in order; 0 ends the list.
const int* Buttons(UINT kind) {
  static const int ok[] = {IDOK, 0};
  static const int okCancel[] = {IDOK, IDCANCEL, 0};
  static const int abortRetryIgnore[] = {IDABORT, IDRETRY, IDIGNORE, 0};
  static const int yesNoCancel[] = {IDYES, IDNO, IDCANCEL, 0};
  static const int yesNo[] = {IDYES, IDNO, 0};
  static const int retryCancel[] = {IDRETRY, IDCANCEL, 0};
  switch (kind) {
    case MB_OK: return ok;
    case MB_OKCANCEL: return okCancel;
    case MB_ABORTRETRYIGNORE: return abortRetryIgnore;
    case MB_YESNOCANCEL: return yesNoCancel;
    case MB_YESNO: return yesNo;
    case MB_RETRYCANCEL: return retryCancel;
    default: return nullptr;
  }
}

void OneLine(std::string& out, const char* s) {
  for (; *s; ++s) {
    if (*s == '\r' || *s == '\n') {
      if (*s == '\r' && s[1] == '\n') ++s;
      out += ' ';
    } else {
      out += *s;
    }
  }
}

}  // namespace

extern "C" {

void SetMessageBoxPresenter(MessageBoxPresenter presenter) { gPresenter.store(presenter); }

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  const int* buttons = Buttons(type & MB_TYPEMASK);
  if (!buttons) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (owner && !IsWindow(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!text) text = "";
  if (!caption) caption = "Error";
  MessageBoxPresenter presenter = gPresenter.load();
  if (presenter && !Unattended()) return presenter(owner, text, caption, type);

  int count = 0;
  while (buttons[count]) ++count;
  int index = static_cast<int>((type & MB_DEFMASK) >> 8);
  int answer = buttons[index < count ? index : 0];
  std::string line = "MessageBox [";
  OneLine(line, caption);
  line += "]: ";
  OneLine(line, text);
  line += " -> ";
  line += ButtonName(answer);
  WriteDiagnosticLine(line.c_str());
  return answer;
}

}  // extern "C"
