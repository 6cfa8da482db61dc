// The one place where the component is safe for a second thread: Send from another thread while the creating
// thread handles the socket's notifications. Run under the thread sanitizer too (CTest label tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "helpers.h"

TEST(SendFromAnotherThread, DatagramsLeaveWholeAndInOrder) {
  PlainUdp peer;
  peer.SetReceiveBuffer(8 << 20);
  TWSocket s(nullptr);
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(peer.Port()));
  s.Connect();
  ASSERT_EQ(s.State(), wsConnected);
  int dataSent = 0;
  s.OnDataSent = [&](TObject*, WORD) { ++dataSent; };

  constexpr int kSends = 3000;
  std::atomic<bool> sending{true};
  std::atomic<int> arrived{0};
  std::vector<std::uint32_t> received;
  std::thread receiver([&] {
    while (arrived < kSends) {
      auto d = peer.Receive(kPatienceMs);
      if (!d) break;
      std::uint32_t seq = 0;
      std::memcpy(&seq, d->data(), sizeof seq);
      EXPECT_EQ(d->size(), 16 + seq % 1400) << seq;
      received.push_back(seq);
      ++arrived;
    }
  });
  std::thread sender([&] {
    for (std::uint32_t seq = 0; seq < kSends; ++seq) {
      std::string payload = Pattern(16 + seq % 1400, seq);
      std::memcpy(payload.data(), &seq, sizeof seq);
      EXPECT_EQ(s.SendStr(payload), static_cast<int>(payload.size()));
      if (seq % 64 == 0) std::this_thread::yield();
    }
    sending = false;
  });
  PumpUntil([&] { return !sending; });
  sender.join();
  // What is still queued leaves on this thread's write notifications.
  PumpUntil([&] { return arrived == kSends; });
  receiver.join();

  ASSERT_EQ(received.size(), static_cast<std::size_t>(kSends));
  for (std::size_t i = 0; i < received.size(); ++i) ASSERT_EQ(received[i], i);
  EXPECT_GT(dataSent, 0) << "the write notifications were handled on this thread";
}

TEST(SendFromAnotherThread, AStreamThatWouldBlockDrainsInOrder) {
  PlainTcpServer server;
  server.SetReceiveBuffer(4096);
  TTestSocket s(nullptr);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(server.Port()));
  s.SetLingerOnOff(wsLingerOff);
  s.Connect();
  ASSERT_TRUE(server.Accept(kPatienceMs));
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
  SOCKET handle = s.SocketHandle;
  SetSocketOption(handle, "SO_SNDBUF", 4096);

  constexpr std::size_t kChunk = 10000;
  constexpr std::size_t kChunks = 200;
  std::string expected;
  for (std::size_t i = 0; i < kChunks; ++i) expected += Pattern(kChunk, i * kChunk);

  std::atomic<bool> done{false};
  std::atomic<int> queued{0};
  Bytes got;
  std::thread receiver([&] {
    while (got.size() < expected.size()) {
      Bytes part = server.Read(std::min<std::size_t>(4096, expected.size() - got.size()), kPatienceMs);
      if (part.empty()) break;
      got.insert(got.end(), part.begin(), part.end());
      if (got.size() % 65536 < 4096) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
  });
  std::thread sender([&] {
    for (std::size_t i = 0; i < kChunks; ++i) {
      s.SendStr(expected.substr(i * kChunk, kChunk));
      if (!s.SendQueueEmpty) ++queued;
    }
  });
  PumpUntil([&] { return done.load(); });
  sender.join();
  receiver.join();
  EXPECT_GT(queued.load(), 0) << "some sends would have blocked and left bytes queued";
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(ToString(got) == expected) << "bytes lost, doubled or reordered";
  s.Close();
}

// A send that fails on the other thread must leave the object to its owner: the close, the state change and
// OnSessionClosed happen on the owner's thread, once, while the sending thread still learns of the failure.
namespace {

struct TThreadLog {
  std::thread::id Owner = std::this_thread::get_id();
  std::atomic<int> Closed{0};
  std::atomic<int> StateChanges{0};
  std::atomic<int> OffOwner{0};
  void Attach(TCustomWSocket& s) {
    s.OnSessionClosed = [this](TObject*, WORD) {
      ++Closed;
      if (std::this_thread::get_id() != Owner) ++OffOwner;
    };
    s.OnChangeState = [this](TObject*, TSocketState, TSocketState) {
      ++StateChanges;
      if (std::this_thread::get_id() != Owner) ++OffOwner;
    };
  }
};

// Sends until Send reports the failure; returns the report's text ("" when Send returned -1).
std::string SendUntilFailure(TCustomWSocket& s, std::atomic<bool>& stop) {
  std::string chunk(3000, 'x');
  while (!stop) {
    try {
      if (s.SendStr(chunk) < 0) return "";
    } catch (const Exception& e) {
      return e.Message();
    }
  }
  return "stopped";
}

void ConnectTcp(TTestSocket& s, PlainTcpServer& server) {
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(server.Port()));
  s.SetLingerOnOff(wsLingerOff);
  s.Connect();
  ASSERT_TRUE(server.Accept(kPatienceMs));
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
}

}  // namespace

TEST(SendFromAnotherThread, AResetMeetsTheSenderWhileTheOwnerIsBusy) {
  // The owner handles nothing until the sending thread has met the reset and ended: everything that the
  // failure changes must wait for the owner.
  PlainTcpServer server;
  TTestSocket s(nullptr);
  ConnectTcp(s, server);
  TThreadLog log;
  log.Attach(s);
  server.Reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::atomic<bool> stop{false};
  std::string report;
  std::thread sender([&] { report = SendUntilFailure(s, stop); });
  sender.join();
  EXPECT_EQ(report, "Error 10057 in function Send\r\nSocket is not connected")
      << "after the failed send the thread's next Send fails as on a closed socket";
  EXPECT_EQ(s.State(), wsConnected) << "nothing changed on the sending thread";
  EXPECT_NE(s.SocketHandle.load(), INVALID_SOCKET);
  EXPECT_EQ(log.Closed.load() + log.StateChanges.load(), 0);

  PumpUntil([&] { return s.State() == wsClosed; });
  PumpFor(50);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.SocketHandle.load(), INVALID_SOCKET);
  EXPECT_EQ(log.Closed.load(), 1);
  EXPECT_EQ(log.OffOwner.load(), 0);
}

TEST(SendFromAnotherThread, AResetWhileTheOwnerHandlesNotificationsClosesOnceOnTheOwner) {
  for (int round = 0; round < 10; ++round) {
    PlainTcpServer server;
    TTestSocket s(nullptr);
    ConnectTcp(s, server);
    TThreadLog log;
    log.Attach(s);
    s.OnDataAvailable = [&](TObject*, WORD) { s.ReceiveStr(); };
    std::atomic<bool> stop{false};
    std::atomic<bool> failed{false};
    std::string report;
    std::thread sender([&] {
      report = SendUntilFailure(s, stop);
      failed = true;
    });
    PumpFor(5);
    server.Reset();
    PumpUntil([&] { return failed.load() && s.State() == wsClosed; });
    PumpFor(20);
    stop = true;
    sender.join();
    PumpFor(20);
    EXPECT_EQ(report, "Error 10057 in function Send\r\nSocket is not connected") << "round " << round;
    EXPECT_EQ(s.State(), wsClosed) << "round " << round;
    EXPECT_EQ(log.Closed.load(), 1) << "round " << round;
    EXPECT_EQ(log.OffOwner.load(), 0) << "round " << round;
  }
}

TEST(SendFromAnotherThread, SendOnASocketThatIsNotConnected) {
  TThreadLog log;
  {
    // Without OnError: the caller gets the report, the owner makes the state change.
    TTestSocket s(nullptr);
    log.Attach(s);
    std::string report;
    std::thread([&] { report = ErrorOf([&] { s.SendStr("x"); }); }).join();
    EXPECT_EQ(report, "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.LastError(), WSAENOTCONN);
    EXPECT_EQ(log.StateChanges.load(), 0);
    EXPECT_TRUE(PumpUntil([&] { return log.StateChanges.load() == 1; }));
  }
  {
    // With OnError: Send gives -1 and the handler runs on the owner.
    TTestSocket s(nullptr);
    std::atomic<int> errors{0};
    std::atomic<int> errorsOffOwner{0};
    s.OnError = [&](TObject*) {
      ++errors;
      if (std::this_thread::get_id() != log.Owner) ++errorsOffOwner;
    };
    int result = 0;
    std::thread([&] { result = s.SendStr("x"); }).join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errors.load(), 0);
    EXPECT_TRUE(PumpUntil([&] { return errors.load() == 1; }));
    EXPECT_EQ(errorsOffOwner.load(), 0);
    EXPECT_EQ(s.LastError(), WSAENOTCONN);
  }
  EXPECT_EQ(log.OffOwner.load(), 0);
}

namespace {

// Each platform send takes what it is given while sends are allowed, and would block otherwise.
class TGatedSocket : public TTestSocket {
 public:
  using TTestSocket::TTestSocket;
  std::atomic<int> Allowed{0};

 protected:
  int RealSend(const void* Data, int Len) override {
    if (Allowed.load() <= 0) {
      WSocket::WSASetLastError(WSAEWOULDBLOCK);
      return SOCKET_ERROR;
    }
    --Allowed;
    return TWSocket::RealSend(Data, Len);
  }
};

}  // namespace

TEST(SendFromAnotherThread, AQueueThatTheOwnerDrainedIsReportedSentOnce) {
  // The other thread's Send leaves bytes queued; while its OnSendData runs, the owner's write notification
  // drains the queue and reports OnDataSent. The Send must not report the owner's drain a second time.
  PlainUdp peer;
  peer.SetReceiveBuffer(1 << 20);
  TGatedSocket s(nullptr);
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(peer.Port()));
  s.Connect();
  ASSERT_EQ(s.State(), wsConnected);
  ASSERT_TRUE(HandleFirstNotification(s));  // the platform's first write notification
  const auto owner = std::this_thread::get_id();
  std::atomic<int> dataSent{0};
  std::atomic<bool> drainNow{false};
  std::atomic<bool> drained{false};
  s.OnDataSent = [&](TObject*, WORD) { ++dataSent; };
  s.OnSendData = [&](TObject*, std::int32_t) {
    if (std::this_thread::get_id() == owner || drainNow) return;
    drainNow = true;
    while (!drained) std::this_thread::yield();
  };
  s.Allowed = 1;  // the first of the two datagrams leaves, the second waits
  std::thread sender([&] { EXPECT_EQ(s.SendStr(Pattern(2000)), 2000); });
  while (!drainNow) std::this_thread::yield();
  s.Allowed = 100;
  SendMessageA(s.NotifyWindow, WM_ASYNCSELECT, s.SocketHandle, WSAMAKESELECTREPLY(FD_WRITE, 0));
  EXPECT_EQ(dataSent.load(), 1);
  drained = true;
  sender.join();
  PumpFor(100);
  EXPECT_EQ(dataSent.load(), 1);
  auto got = peer.ReceiveAll(100, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].size() + got[1].size(), 2000u);
}
