// Last error, ticks, sleeps and thread ids.
#include <gtest/gtest.h>

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
    ASSERT_LE(static_cast<DWORD>(now - last), 1000u) << "went backwards";  // modular: survives the wrap
    last = now;
  }
  DWORD before = GetTickCount();
  Sleep(30);
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - before), 29u);
}

TEST(Kernel, TickCountIsTheLow32BitsOfTheSameClock) {
  std::uint64_t wide = GetTickCount64();
  DWORD narrow = GetTickCount();
  EXPECT_LE(static_cast<DWORD>(narrow - static_cast<DWORD>(wide)), 1000u);
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
