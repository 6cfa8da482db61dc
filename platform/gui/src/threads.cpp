// TThread (threads.h). The thread exists from construction, parked until Resume, so that its priority can be set
// while it is suspended and it can be freed without ever running its body.
#include "gui/threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
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
  std::thread Thread;
};

namespace {

int NiceOf(TThreadPriority p) {
  switch (p) {
    case tpIdle: return 19;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -15;
  }
  return 0;
}

void ApplyNice(pid_t tid, TThreadPriority p) {
  // A per-thread nice value (Linux schedules threads as tasks); raising it above normal may be refused.
  if (tid != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceOf(p));
}

}  // namespace

TThread::TThread() : FImpl(std::make_unique<TImpl>()) {
  FImpl->Thread = std::thread([this] { Body(); });
}

void TThread::Body() {
  TThreadPriority priority;
  {
    std::unique_lock<std::mutex> lock(FImpl->Lock);
    FImpl->Tid = static_cast<pid_t>(::syscall(SYS_gettid));
    FImpl->Changed.notify_all();
    FImpl->Changed.wait(lock, [this] { return FImpl->Resumed || FImpl->Cancelled; });
    if (FImpl->Cancelled) return;
    priority = FPriority;
  }
  ApplyNice(FImpl->Tid, priority);
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
  pid_t tid;
  {
    std::lock_guard<std::mutex> lock(FImpl->Lock);
    FPriority = priority;
    tid = FImpl->Resumed ? FImpl->Tid : 0;
  }
  ApplyNice(tid, priority);
}

std::uint32_t TThread::ThreadID() const {
  std::unique_lock<std::mutex> lock(FImpl->Lock);
  FImpl->Changed.wait(lock, [this] { return FImpl->Tid != 0; });
  return static_cast<std::uint32_t>(FImpl->Tid);
}
