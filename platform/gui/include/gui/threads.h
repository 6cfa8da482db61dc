// The thread class: a subclass overrides Execute, the body that runs on a thread of its own.
//
//   auto* t = new TSendThread();        // created suspended
//   t->SetPriority(tpLower);            // a lower scheduling priority for that thread
//   t->Resume();                        // Execute starts
//   t->Terminate();                     // asks the body to end (it reads Terminated())
//   delete t;                           // waits until Execute has returned, then frees
//
// Deleting a thread object waits for its body before any destructor runs, so the body may use the subclass's
// fields up to its last line. A thread that was never resumed is freed without running its body. An exception
// that escapes Execute ends the thread without a message. Resume, Terminate, WaitFor and delete may be called
// from any thread but the thread itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread {
 public:
  TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  virtual ~TThread();
  // delete waits for the body first (see above); new is the pair it frees with.
  static void* operator new(std::size_t size);
  void operator delete(TThread* thread, std::destroying_delete_t);
  static void operator delete(void* memory) noexcept;  // only for a constructor that throws

  void Resume();  // starts a suspended thread; nothing once it runs
  void Terminate();
  bool Terminated() const;
  bool Suspended() const;
  bool Finished() const;  // the body has returned
  // Waits until the body has returned (at once for a thread never resumed); its ReturnValue.
  int WaitFor();

  // Maps to the nice value of that thread, relative to the one it started with (its creator's): tpLower +5,
  // tpLowest +10, tpIdle the lowest there is (19). Raising above normal needs the right to do so; without it the
  // thread stays at normal.
  TThreadPriority Priority() const { return FPriority; }
  void SetPriority(TThreadPriority priority);
  // The thread's kernel id (0 before it starts).
  std::uint32_t ThreadID() const;

  struct TImpl;

 protected:
  virtual void Execute() = 0;
  int ReturnValue = 0;

 private:
  void Body();
  TThreadPriority FPriority = tpNormal;
  std::unique_ptr<TImpl> FImpl;
};
