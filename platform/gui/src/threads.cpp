// TThread (threads.h). The thread exists from construction, parked until Resume, so that its priority can be set
// while it is suspended and it can be freed without ever running its body.
#include "gui/threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

struct TThread::TImpl {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Resumed = false;
  bool Cancelled = false;  // freed before it was resumed: the body never runs
  bool Finished = false;
  std::atomic<bool> Terminated{false};
  pid_t Tid = 0;
  int BaseNice = 0;  // the thread's nice value when it started (its creator's): what tpNormal means
  std::thread Thread;
};

namespace {

int NiceOffset(TThreadPriority p) {
  switch (p) {
    case tpIdle: return 39;  // as low as it goes
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -15;
  }
  return 0;
}

// A per-thread nice value (Linux schedules threads as tasks), relative to the one the thread started with, as a
// thread's priority is relative to its process's on the original platform (a program started with nice 5 still
// gets a below-normal thread below its others). Raising it above that may be refused.
void ApplyNice(pid_t tid, int baseNice, TThreadPriority p) {
  if (tid == 0) return;
  const int nice = std::clamp(baseNice + NiceOffset(p), -20, 19);
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

int CurrentNice(pid_t tid) {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  return errno == 0 ? nice : 0;
}

}  // namespace

TThread::TThread() : FImpl(std::make_unique<TImpl>()) {
  FImpl->Thread = std::thread([this] { Body(); });
}

void TThread::Body() {
  {
    std::unique_lock<std::mutex> lock(FImpl->Lock);
    FImpl->Tid = static_cast<pid_t>(::syscall(SYS_gettid));
    FImpl->BaseNice = CurrentNice(FImpl->Tid);
    FImpl->Changed.notify_all();
    FImpl->Changed.wait(lock, [this] { return FImpl->Resumed || FImpl->Cancelled; });
    if (FImpl->Cancelled) return;
    // Under the lock, so that a SetPriority racing with the start is not undone by the value read before it.
    if (FPriority != tpNormal) ApplyNice(FImpl->Tid, FImpl->BaseNice, FPriority);
  }
  try {
    Execute();
  } catch (...) {
    // A body that fails ends its thread without a message.
  }
  std::lock_guard<std::mutex> lock(FImpl->Lock);
  FImpl->Finished = true;
  FImpl->Changed.notify_all();
}

void* TThread::operator new(std::size_t size) { return ::operator new(size); }

void TThread::operator delete(void* memory) noexcept { ::operator delete(memory); }

void TThread::operator delete(TThread* thread, std::destroying_delete_t) {
  void* memory = dynamic_cast<void*>(thread);
  thread->Terminate();
  // Wait before any destructor runs: the body may use the subclass's fields up to its end.
  thread->WaitFor();
  thread->~TThread();
  ::operator delete(memory);
}

TThread::~TThread() {
  {
    std::lock_guard<std::mutex> lock(FImpl->Lock);
    FImpl->Terminated = true;
    if (!FImpl->Resumed) FImpl->Cancelled = true;
    FImpl->Changed.notify_all();
  }
  if (FImpl->Thread.joinable()) {
    if (FImpl->Thread.get_id() == std::this_thread::get_id())
      FImpl->Thread.detach();  // freed by its own body: nothing is left to wait for
    else
      FImpl->Thread.join();
  }
}

void TThread::Resume() {
  std::lock_guard<std::mutex> lock(FImpl->Lock);
  if (FImpl->Cancelled) return;
  FImpl->Resumed = true;
  FImpl->Changed.notify_all();
}

void TThread::Terminate() { FImpl->Terminated = true; }

bool TThread::Terminated() const { return FImpl->Terminated; }

bool TThread::Suspended() const {
  std::lock_guard<std::mutex> lock(FImpl->Lock);
  return !FImpl->Resumed;
}

bool TThread::Finished() const {
  std::lock_guard<std::mutex> lock(FImpl->Lock);
  return FImpl->Finished;
}

int TThread::WaitFor() {
  std::unique_lock<std::mutex> lock(FImpl->Lock);
  if (!FImpl->Resumed) return ReturnValue;
  if (FImpl->Thread.get_id() == std::this_thread::get_id()) return ReturnValue;
  FImpl->Changed.wait(lock, [this] { return FImpl->Finished || FImpl->Cancelled; });
  return ReturnValue;
}

void TThread::SetPriority(TThreadPriority priority) {
  std::lock_guard<std::mutex> lock(FImpl->Lock);
  FPriority = priority;
  if (FImpl->Resumed && !FImpl->Finished) ApplyNice(FImpl->Tid, FImpl->BaseNice, priority);
}

std::uint32_t TThread::ThreadID() const {
  std::unique_lock<std::mutex> lock(FImpl->Lock);
  FImpl->Changed.wait(lock, [this] { return FImpl->Tid != 0; });
  return static_cast<std::uint32_t>(FImpl->Tid);
}
