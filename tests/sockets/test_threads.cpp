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
  std::vector<std::uint32_t> received;
  std::thread receiver([&] {
    while (auto d = peer.Receive(sending ? 2000 : 300)) {
      std::uint32_t seq = 0;
      std::memcpy(&seq, d->data(), sizeof seq);
      EXPECT_EQ(d->size(), 16 + seq % 1400) << seq;
      received.push_back(seq);
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
  PumpUntil([&] { return !sending; }, 20000);
  sender.join();
  PumpFor(50);
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
  ASSERT_TRUE(server.Accept(3000));
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
      Bytes part = server.Read(std::min<std::size_t>(4096, expected.size() - got.size()), 5000);
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
  PumpUntil([&] { return done.load(); }, 30000);
  sender.join();
  receiver.join();
  EXPECT_GT(queued.load(), 0) << "some sends would have blocked and left bytes queued";
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(ToString(got) == expected) << "bytes lost, doubled or reordered";
  s.Close();
}
