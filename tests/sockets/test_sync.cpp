// The synchronous wait: a flag set by a handler that runs inside the wait, termination requests, the time limit,
// and the application's message pump against a MultiThreaded socket's own.
#include <gtest/gtest.h>

#include <thread>

#include "helpers.h"

namespace {

// Counts the application's message processing while a test runs; the hooks go back to their defaults after.
struct CountingApplication {
  int Pumps = 0;
  CountingApplication() {
    SetApplicationHooks({[this] {
                           ++Pumps;
                           MSG msg;
                           while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
                             TranslateMessage(&msg);
                             DispatchMessageA(&msg);
                           }
                         },
                         nullptr});
  }
  ~CountingApplication() { SetApplicationHooks({}); }
};

// A datagram socket whose sends end in OnDataSent, posted to its window: an event that only a pump delivers.
void OpenDatagram(TTestSocket& s, PlainUdp& peer, bool& done) {
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(peer.Port()));
  s.Connect();
  s.OnDataSent = [&done](TObject*, WORD) { done = true; };
}

}  // namespace

TEST(SyncWait, AFlagAlreadySetEndsTheWaitBeforeAnyMessageIsHandled) {
  CountingApplication app;
  TTestSocket s(nullptr);
  int bgExceptions = 0;
  s.OnBgException = [&](TObject*, Exception&, bool& canClose) {
    ++bgExceptions;
    canClose = false;
  };
  PostMessageA(s.NotifyWindow, WM_TRIGGER_EXCEPTION, 0, 0);
  bool done = true;
  EXPECT_EQ(s.WaitUntilReady(done), 0);
  EXPECT_EQ(app.Pumps, 0);
  EXPECT_EQ(bgExceptions, 0) << "the waiting message was not handled";
  PumpFor(5);
  EXPECT_EQ(bgExceptions, 1);
}

TEST(SyncWait, AHandlerRunningInsideTheWaitEndsIt) {
  PlainTcpServer server;
  TTestSocket s(nullptr);
  bool done = true;  // left set by an earlier wait: Synchronize clears it first
  bool clearedFirst = false;
  s.OnSessionConnected = [&](TObject*, WORD e) {
    EXPECT_EQ(e, 0);
    done = true;
  };
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(server.Port()));
  EXPECT_EQ(s.Synchronize(
                [&] {
                  clearedFirst = !done;
                  s.Connect();
                },
                done),
            0);
  EXPECT_TRUE(clearedFirst);
  EXPECT_EQ(s.State(), wsConnected);

  // No step: the wait alone, ended by the handler of a message already waiting.
  bool flag = true;
  s.OnBgException = [&](TObject*, Exception&, bool& canClose) {
    canClose = false;
    flag = true;
  };
  PostMessageA(s.NotifyWindow, WM_TRIGGER_EXCEPTION, 0, 0);
  EXPECT_EQ(s.Synchronize(nullptr, flag), 0);
  EXPECT_EQ(s.State(), wsConnected);
}

TEST(SyncWait, TerminationRequestsEndTheWaitWith12001) {
  TTestSocket s(nullptr);
  bool done = false;
  SetApplicationTerminated(true);
  EXPECT_EQ(s.WaitUntilReady(done), 12001);
  done = true;
  EXPECT_EQ(s.WaitUntilReady(done), 0) << "the flag is looked at first";
  SetApplicationTerminated(false);

  // A WM_QUIT that the application's processing meets sets its terminate flag.
  done = false;
  PostQuitMessage(0);
  EXPECT_EQ(s.WaitUntilReady(done), 12001);
  EXPECT_TRUE(ApplicationTerminated());
  SetApplicationTerminated(false);

  // The socket's own pump takes a WM_QUIT itself and marks only the socket.
  TTestSocket own(nullptr);
  own.SetMultiThreaded(true);
  PostQuitMessage(0);
  EXPECT_EQ(own.WaitUntilReady(done), 12001);
  EXPECT_TRUE(own.PumpTerminated);
  EXPECT_FALSE(ApplicationTerminated());
}

TEST(SyncWait, ATimeLimitEndsTheWaitOnceItsDeadlinePasses) {
  TTestSocket s(nullptr);
  EXPECT_EQ(s.WaitTimeout, 0) << "no limit by default";
  s.WaitTimeout = 20;
  bool done = false;
  DWORD start = GetTickCount();
  EXPECT_EQ(s.WaitUntilReady(done), 12001);
  DWORD end = GetTickCount();
  // The deadline is the wait's start plus the limit, and the wait started between the two readings.
  EXPECT_GE(static_cast<std::int32_t>(static_cast<DWORD>(s.WaitDeadline) - (start + 20)), 0);
  EXPECT_LE(static_cast<std::int32_t>(static_cast<DWORD>(s.WaitDeadline) - (end + 20)), 0);
  EXPECT_GT(static_cast<std::int32_t>(GetTickCount() - static_cast<DWORD>(s.WaitDeadline)), 0);
}

TEST(SyncWait, TheApplicationsPumpOrAMultiThreadedSocketsOwn) {
  PlainUdp peer;
  {
    CountingApplication app;
    TTestSocket s(nullptr);
    bool done = false;
    OpenDatagram(s, peer, done);
    EXPECT_EQ(s.Synchronize([&] { s.SendStr("app"); }, done), 0);
    EXPECT_GT(app.Pumps, 0) << "the application processed the messages";
  }
  {
    CountingApplication app;
    TTestSocket s(nullptr);
    s.SetMultiThreaded(true);
    bool done = false;
    OpenDatagram(s, peer, done);
    EXPECT_EQ(s.Synchronize([&] { s.SendStr("own"); }, done), 0);
    EXPECT_EQ(app.Pumps, 0) << "the socket pumped the thread's queue itself";
  }
  // A thread without any application loop waits on a socket of its own.
  int result = -1;
  std::thread worker([&] {
    TTestSocket s(nullptr);
    s.SetMultiThreaded(true);
    bool done = false;
    OpenDatagram(s, peer, done);
    result = s.Synchronize([&] { s.SendStr("worker"); }, done);
  });
  worker.join();
  EXPECT_EQ(result, 0);
  std::vector<Bytes> got = peer.ReceiveAll(50, 3);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(ToString(got[2]), "worker");
}
