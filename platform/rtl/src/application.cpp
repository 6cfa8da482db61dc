// The application hooks of classes.h and their defaults: pump the calling thread's queue, a process-wide flag.
#include <atomic>
#include <mutex>

#include "rtl/classes.h"
#include "win32/user.h"

namespace {

std::mutex gHooksLock;
TApplicationHooks gHooks;
std::atomic<bool> gTerminated{false};

void DefaultProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
    if (msg.message == WM_QUIT) {
      SetApplicationTerminated(true);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

void SetApplicationHooks(TApplicationHooks hooks) {
  std::lock_guard<std::mutex> guard(gHooksLock);
  gHooks = std::move(hooks);
}

// The hook is copied out so that it runs without the lock: a message handler may install new hooks.
void ApplicationProcessMessages() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> guard(gHooksLock);
    hook = gHooks.ProcessMessages;
  }
  if (hook)
    hook();
  else
    DefaultProcessMessages();
}

bool ApplicationTerminated() {
  std::function<bool()> hook;
  {
    std::lock_guard<std::mutex> guard(gHooksLock);
    hook = gHooks.Terminated;
  }
  return hook ? hook() : gTerminated.load();
}

void SetApplicationTerminated(bool terminated) { gTerminated.store(terminated); }
