// The thread class's life cycle: created suspended, priority, resume, terminate request, wait, and destruction
// that waits for the body before anything of the object goes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "gui/threads.h"

namespace {

std::atomic<int> gBodyEnded{0};

class TWorker : public TThread {
 public:
  std::atomic<bool> Running{false};
  std::atomic<bool> Started{false};
  std::atomic<int> Nice{-100};
  std::atomic<bool> SawTerminate{false};
  std::vector<int> Payload = std::vector<int>(1000, 7);  // used by the body after the loop

 protected:
  void Execute() override {
    Started = true;
    Nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    while (Running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Lingers after its loop, still using the object, as a sender finishing its last frame does.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SawTerminate = Terminated();
    long sum = 0;
    for (int v : Payload) sum += v;
    ReturnValue = static_cast<int>(sum);
    gBodyEnded.fetch_add(1);
  }
};

}  // namespace

TEST(Thread, RunsOnlyOnceResumedAndWaitForGivesItsResult) {
  auto* t = new TWorker();
  t->Running = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(t->Suspended());
  EXPECT_FALSE(t->Started.load());
  t->Resume();
  while (!t->Started) std::this_thread::yield();
  EXPECT_FALSE(t->Suspended());
  EXPECT_NE(t->ThreadID(), static_cast<std::uint32_t>(syscall(SYS_gettid)));
  t->Running = false;
  t->Terminate();
  EXPECT_EQ(t->WaitFor(), 7000);
  EXPECT_TRUE(t->Finished());
  EXPECT_TRUE(t->SawTerminate.load());
  delete t;
}

TEST(Thread, LowerPriorityMeansAHigherNiceValueOfThatThreadOnly) {
  // Relative to the nice value its creator runs at (a program may be started with nice 5 or so).
  const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  auto* lower = new TWorker();
  auto* normal = new TWorker();
  lower->SetPriority(tpLower);
  EXPECT_EQ(lower->Priority(), tpLower);
  lower->Resume();
  normal->Resume();
  while (!lower->Started || !normal->Started) std::this_thread::yield();
  while (lower->Nice == -100 || normal->Nice == -100) std::this_thread::yield();
  EXPECT_EQ(lower->Nice.load(), std::min(base + 5, 19));
  EXPECT_EQ(normal->Nice.load(), base);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))), base);  // the caller is untouched
  // Changed while running, it applies at once.
  lower->SetPriority(tpIdle);
  EXPECT_EQ(getpriority(PRIO_PROCESS, lower->ThreadID()), 19);
  delete lower;
  delete normal;
}

TEST(Thread, DeleteWaitsForTheBodyBeforeTheObjectGoes) {
  int before = gBodyEnded.load();
  auto* t = new TWorker();
  t->Running = true;
  t->Resume();
  while (!t->Started) std::this_thread::yield();
  t->Running = false;
  t->Terminate();
  delete t;  // the body still sleeps and then reads Payload: delete must wait for it
  EXPECT_EQ(gBodyEnded.load(), before + 1) << "delete returned before the body ended";
}

TEST(Thread, AThreadNeverResumedIsFreedWithoutRunningItsBody) {
  int before = gBodyEnded.load();
  auto* t = new TWorker();
  t->SetPriority(tpLower);
  EXPECT_EQ(t->WaitFor(), 0);
  delete t;
  EXPECT_EQ(gBodyEnded.load(), before);
}
