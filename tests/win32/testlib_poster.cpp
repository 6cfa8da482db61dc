// A run-time loaded module that posts window messages without linking tarvo_win32: PostMessageA stays
// undefined here and binds to the program's copy, so the message reaches the program's own queue.
#include "win32/user.h"

extern "C" __attribute__((visibility("default"))) BOOL W32PosterPost(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  return PostMessageA(hwnd, msg, w, l);
}
extern "C" __attribute__((visibility("default"))) BOOL W32PosterIsWindow(HWND hwnd) { return IsWindow(hwnd); }
