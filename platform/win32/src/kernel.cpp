// Last error, clocks, sleeps and thread ids of platform/win32 (kernel.h).
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "win32/kernel.h"

namespace {
// Trivially destructible on purpose: readable from any thread_local destructor that runs at thread exit.
thread_local DWORD tLastError = 0;
thread_local DWORD tThreadId = 0;

// A forked child's only thread has a new id; the cached one belongs to the parent.
const bool kForkHandler = [] {
  pthread_atfork(nullptr, nullptr, [] { tThreadId = 0; });
  return true;
}();
}  // namespace

extern "C" {

DWORD GetLastError() { return tLastError; }

void SetLastError(DWORD code) { tLastError = code; }

std::uint64_t GetTickCount64() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }  // the wrap at 2^32 is the truncation

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

DWORD GetCurrentThreadId() {
  if (tThreadId == 0) tThreadId = static_cast<DWORD>(syscall(SYS_gettid));
  return tThreadId;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

}  // extern "C"
