// Last error, ticks, sleeps and thread ids.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "win32/win32.h"

TEST(Kernel, LastErrorIsPerThread) {
  SetLastError(1234);
  DWORD other = 0;
  std::thread t([&] {
    other = GetLastError();
    SetLastError(99);
  });
  t.join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST(Kernel, TickCountIsMonotonicAndFollowsSleep) {
  DWORD last = GetTickCount();
  for (int i = 0; i < 100000; ++i) {
    DWORD now = GetTickCount();
    // Modular, so that it survives the wrap; a thread preempted between two calls sees a step forwards.
    ASSERT_GE(static_cast<std::int32_t>(now - last), 0) << "went backwards";
    last = now;
  }
  DWORD before = GetTickCount();
  Sleep(30);
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - before), 29u);
}

TEST(Kernel, TickCountIsTheLow32BitsOfTheSameClock) {
  std::uint64_t wide = GetTickCount64();
  DWORD narrow = GetTickCount();
  // Read one after the other: the same clock differs by the time between the two calls, another by far more.
  EXPECT_LE(static_cast<DWORD>(narrow - static_cast<DWORD>(wide)), 60000u);
}

TEST(Kernel, SleepZeroReturns) { Sleep(0); }

TEST(Kernel, ThreadIdsDiffer) {
  DWORD mine = GetCurrentThreadId();
  DWORD other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(mine, 0u);
  EXPECT_NE(other, 0u);
  EXPECT_NE(mine, other);
  EXPECT_EQ(mine, GetCurrentThreadId());
  EXPECT_NE(GetCurrentProcessId(), 0u);
}
