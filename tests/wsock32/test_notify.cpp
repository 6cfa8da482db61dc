// The select notifications: which events are posted, when they are re-enabled, and in which order.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "testutil.h"

using namespace wstest;

namespace {

class Notify : public TWinsock {
 protected:
  TNotes Notes;

  void Select(SOCKET s, LONG events) { ASSERT_EQ(WSAAsyncSelect(s, Notes.Wnd, WM_SOCKET, events), 0) << Err(); }
  void SendTo(SOCKET from, SOCKET to, const std::string& data) {
    sockaddr_in a = Loopback(PortOf(to));
    ASSERT_EQ(sendto(from, data.data(), static_cast<int>(data.size()), 0, Sa(a), sizeof a),
              static_cast<int>(data.size()))
        << Err();
  }
  WORD NextEvent(SOCKET s) {
    auto n = Notes.Next(s);
    EXPECT_TRUE(n.has_value()) << "no notification";
    return n ? n->Event : 0;
  }
};

TEST_F(Notify, DatagramWriteAtOnceAndReadReenabledByReceive) {
  SOCKET rx = BoundUdp();
  SOCKET tx = BoundUdp();
  Select(rx, FD_READ | FD_WRITE);
  auto first = Notes.Next(rx);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Event, FD_WRITE);  // a datagram socket can send from the start
  EXPECT_EQ(first->Error, 0);

  SendTo(tx, rx, "one");
  SendTo(tx, rx, "two");
  EXPECT_EQ(NextEvent(rx), FD_READ);
  EXPECT_TRUE(Notes.Drain(rx).empty()) << "FD_READ again before any receive";

  char buf[16];
  ASSERT_EQ(recvfrom(rx, buf, sizeof buf, 0, nullptr, nullptr), 3);
  EXPECT_EQ(NextEvent(rx), FD_READ);  // one datagram is still waiting
  ASSERT_EQ(recv(rx, buf, sizeof buf, 0), 3);
  EXPECT_TRUE(Notes.Drain(rx).empty()) << "FD_READ with nothing left";

  // The socket became non-blocking with the selection.
  EXPECT_EQ(recv(rx, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEWOULDBLOCK);
}

TEST_F(Notify, AReceiveThatFindsNothingLeavesReadEnabledForWhatComesNext) {
  SOCKET rx = BoundUdp();
  SOCKET tx = BoundUdp();
  Select(rx, FD_READ);
  char buf[16];
  EXPECT_EQ(recv(rx, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEWOULDBLOCK);
  EXPECT_TRUE(Notes.Drain(rx).empty()) << "FD_READ with nothing waiting";
  SendTo(tx, rx, "late");
  EXPECT_EQ(NextEvent(rx), FD_READ);

  // A loop that drains the socket leaves one FD_READ behind; the receive that then finds nothing still
  // re-enables it, so the next datagram is announced.
  ASSERT_EQ(recv(rx, buf, sizeof buf, 0), 4);
  SendTo(tx, rx, "one");
  SendTo(tx, rx, "two");
  EXPECT_EQ(NextEvent(rx), FD_READ);
  ASSERT_EQ(recv(rx, buf, sizeof buf, 0), 3);
  ASSERT_EQ(recv(rx, buf, sizeof buf, 0), 3);
  EXPECT_EQ(recv(rx, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEWOULDBLOCK);
  std::vector<TNote> left = Notes.Drain(rx);
  ASSERT_EQ(left.size(), 1u) << "one for the datagram that waited after the first receive";
  EXPECT_EQ(left[0].Event, FD_READ);
  SendTo(tx, rx, "three");
  EXPECT_EQ(NextEvent(rx), FD_READ);
}

TEST_F(Notify, ReceivesWhileAnFdReadStillWaitsUnreadAddNoSecondOne) {
  SOCKET rx = BoundUdp();
  SOCKET tx = BoundUdp();
  Select(rx, FD_READ);
  for (const char* d : {"one", "two", "six", "ten"}) SendTo(tx, rx, d);
  EXPECT_EQ(NextEvent(rx), FD_READ);
  // Drained in one go, as the component's receive loop does: the FD_READ posted after the first receive
  // stands for the data behind it.
  char buf[16];
  for (int i = 0; i < 4; ++i) ASSERT_EQ(recv(rx, buf, sizeof buf, 0), 3) << i;
  std::vector<TNote> left = Notes.Drain(rx);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].Event, FD_READ);
  // Taken from the queue, it no longer stands for anything: the next datagram is announced.
  SendTo(tx, rx, "new");
  EXPECT_EQ(NextEvent(rx), FD_READ);
}

TEST_F(Notify, DataWaitingBeforeTheSelectionIsPostedAtOnce) {
  SOCKET rx = BoundUdp();
  SOCKET tx = BoundUdp();
  SendTo(tx, rx, "early");
  ULONG waiting = 0;
  ASSERT_TRUE(WaitUntil([&] { return ioctlsocket(rx, FIONREAD, &waiting) == 0 && waiting > 0; }));
  Select(rx, FD_READ);
  EXPECT_EQ(NextEvent(rx), FD_READ);
}

TEST_F(Notify, MaskZeroSwitchesOff) {
  SOCKET rx = BoundUdp();
  SOCKET tx = BoundUdp();
  Select(rx, FD_READ);
  Select(rx, 0);
  SendTo(tx, rx, "x");
  EXPECT_TRUE(Notes.Drain(rx).empty());
  // A new selection sees what waits.
  Select(rx, FD_READ);
  EXPECT_EQ(NextEvent(rx), FD_READ);
}

TEST_F(Notify, RefusedConnectPostsFdConnectWithItsErrorAndNothingElse) {
  SOCKET probe = Listener();
  u_short port = PortOf(probe);
  Close(probe);  // nothing listens on that port now

  SOCKET c = Open(SOCK_STREAM);
  Select(c, FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE);  // the component's mask 59
  sockaddr_in a = Loopback(port);
  ASSERT_EQ(connect(c, Sa(a), sizeof a), SOCKET_ERROR);
  ASSERT_EQ(Err(), WSAEWOULDBLOCK);  // never WSAEINPROGRESS
  auto n = Notes.Next(c);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->Event, FD_CONNECT);
  EXPECT_EQ(n->Error, WSAECONNREFUSED);
  EXPECT_TRUE(Notes.Drain(c, 250).empty()) << "notifications after a failed connect";
}

TEST_F(Notify, FdConnectComesBeforeEverythingElse) {
  SOCKET l = Listener();
  SOCKET c = Open(SOCK_STREAM);
  Select(c, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
  sockaddr_in a = Loopback(PortOf(l));
  ASSERT_EQ(connect(c, Sa(a), sizeof a), SOCKET_ERROR);
  ASSERT_EQ(Err(), WSAEWOULDBLOCK);
  SOCKET s = accept(l, nullptr, nullptr);
  ASSERT_NE(s, INVALID_SOCKET);
  Owned.push_back(s);
  ASSERT_EQ(send(s, "hello", 5, 0), 5);  // data races the connect's completion to the client

  auto first = Notes.Next(c);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Event, FD_CONNECT);
  EXPECT_EQ(first->Error, 0);
  std::vector<WORD> rest{NextEvent(c), NextEvent(c)};
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<WORD>{FD_READ, FD_WRITE}));
  EXPECT_TRUE(Notes.Drain(c).empty());
}

TEST_F(Notify, StreamReadReenabledByReceiveWhileDataRemain) {
  auto [c, s] = Pair();
  Select(c, FD_READ | FD_CLOSE);
  ASSERT_EQ(send(s, "0123456789", 10, 0), 10);
  EXPECT_EQ(NextEvent(c), FD_READ);
  ASSERT_EQ(send(s, "abcdefghij", 10, 0), 10);
  EXPECT_TRUE(Notes.Drain(c).empty()) << "more data is no new FD_READ before a receive";

  char buf[32];
  ASSERT_EQ(recv(c, buf, 5, 0), 5);
  EXPECT_EQ(NextEvent(c), FD_READ);
  ASSERT_EQ(recv(c, buf, sizeof buf, 0), 15);
  EXPECT_TRUE(Notes.Drain(c).empty());
}

TEST_F(Notify, FdWriteOnlyAfterASendThatWouldBlock) {
  auto [c, s] = Pair();
  int small = 2048;
  ASSERT_EQ(setsockopt(c, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small), 0);
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small), 0);
  Select(c, FD_WRITE);
  EXPECT_EQ(NextEvent(c), FD_WRITE);  // connected: it can send at once
  EXPECT_TRUE(Notes.Drain(c).empty());

  ASSERT_EQ(send(c, "x", 1, 0), 1);
  EXPECT_TRUE(Notes.Drain(c).empty()) << "FD_WRITE after a send that went through";

  // Fill the path on another thread while the peer does not read. Room appears while the bytes move on to
  // the peer's buffer, and each send that would block earns one FD_WRITE then; once the peer's buffer is
  // full too, a send that would block gets no answer until the peer reads.
  long sent = 1;
  auto fill = [&] {
    int lastError = 0;
    std::thread filler([&] {
      std::string block(1024, 'x');
      for (;;) {
        int r = send(c, block.data(), static_cast<int>(block.size()), 0);
        if (r == SOCKET_ERROR) {
          lastError = WSAGetLastError();
          return;
        }
        sent += r;
      }
    });
    filler.join();
    EXPECT_EQ(lastError, WSAEWOULDBLOCK);
  };
  int rounds = 0;
  for (; rounds < 50; ++rounds) {
    fill();
    auto notes = Notes.Drain(c, 100);
    // Nothing within a moment may also be a notifier that a busy machine holds up: a while longer, before the
    // path counts as full.
    if (notes.empty()) {
      if (auto late = Notes.Next(c, 2000)) notes.push_back(*late);
    }
    if (notes.empty()) break;
    EXPECT_EQ(Events(notes), std::vector<WORD>{FD_WRITE});
  }
  ASSERT_LT(rounds, 50) << "the path never filled";

  std::vector<char> sink(65536);
  long got = 0;
  while (got < sent) {
    int r = recv(s, sink.data(), static_cast<int>(sink.size()), 0);
    ASSERT_GT(r, 0) << Err();
    got += r;
  }
  EXPECT_EQ(NextEvent(c), FD_WRITE);
  EXPECT_TRUE(Notes.Drain(c).empty()) << "one FD_WRITE per send that would block";
}

TEST_F(Notify, FdAcceptReenabledByAccept) {
  SOCKET l = Listener();
  Select(l, FD_ACCEPT);
  sockaddr_in a = Loopback(PortOf(l));
  SOCKET c1 = Open(SOCK_STREAM);
  SOCKET c2 = Open(SOCK_STREAM);
  ASSERT_EQ(connect(c1, Sa(a), sizeof a), 0);
  ASSERT_EQ(connect(c2, Sa(a), sizeof a), 0);
  EXPECT_EQ(NextEvent(l), FD_ACCEPT);
  EXPECT_TRUE(Notes.Drain(l).empty());

  sockaddr_in peer{};
  int len = sizeof peer;
  SOCKET s1 = accept(l, Sa(peer), &len);
  ASSERT_NE(s1, INVALID_SOCKET);
  Owned.push_back(s1);
  EXPECT_EQ(len, 16);
  EXPECT_EQ(peer.sin_port, htons(PortOf(c1)));
  EXPECT_EQ(NextEvent(l), FD_ACCEPT);  // the second one still waits
  SOCKET s2 = accept(l, nullptr, nullptr);
  ASSERT_NE(s2, INVALID_SOCKET);
  Owned.push_back(s2);
  EXPECT_TRUE(Notes.Drain(l).empty());

  // Accepted sockets are selected like their listening socket (FD_ACCEPT only: nothing to post) and are
  // non-blocking like it.
  char b;
  EXPECT_EQ(recv(s2, &b, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEWOULDBLOCK);
}

TEST_F(Notify, OrderlyCloseGivesReadThenOneFdCloseWithoutError) {
  auto [c, s] = Pair();
  Select(c, FD_READ | FD_WRITE | FD_CLOSE);
  EXPECT_EQ(NextEvent(c), FD_WRITE);
  ASSERT_EQ(send(s, "bye", 3, 0), 3);
  Close(s);

  std::vector<TNote> notes;
  while (auto n = Notes.Next(c)) {
    notes.push_back(*n);
    if (n->Event == FD_CLOSE) break;
  }
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.front().Event, FD_READ);
  EXPECT_EQ(notes.back().Event, FD_CLOSE);
  EXPECT_EQ(notes.back().Error, 0);
  char buf[8];
  EXPECT_EQ(recv(c, buf, sizeof buf, 0), 3);  // the data are still there after FD_CLOSE
  EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0);
  for (const TNote& n : Notes.Drain(c)) EXPECT_NE(n.Event, FD_CLOSE) << "FD_CLOSE twice";
}

TEST_F(Notify, ResetCloseGivesFdCloseWithTheError) {
  auto [c, s] = Pair();
  Select(c, FD_READ | FD_CLOSE);
  linger hard{1, 0};  // the 4-byte record: on, no time
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard), 0);
  Close(s);
  auto n = Notes.Next(c);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->Event, FD_CLOSE);
  EXPECT_EQ(n->Error, WSAECONNRESET);
  char buf[4];
  EXPECT_EQ(recv(c, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAECONNRESET);
  EXPECT_EQ(recv(c, buf, sizeof buf, 0), SOCKET_ERROR);  // and stays so
  EXPECT_EQ(Err(), WSAECONNRESET);
  EXPECT_TRUE(Notes.Drain(c).empty());
}

TEST_F(Notify, NothingReachesANewSocketThatReusesAClosedOnesNumber) {
  SOCKET old = BoundUdp();
  SOCKET tx = BoundUdp();
  Select(old, FD_READ);
  SendTo(tx, old, "for the old one");
  MSG queued;  // its FD_READ is queued, not yet dispatched
  ASSERT_TRUE(WaitUntil([&] { return PeekMessageA(&queued, Notes.Wnd, WM_SOCKET, WM_SOCKET, PM_NOREMOVE) != 0; }));
  Close(old);

  SOCKET fresh = BoundUdp();  // usually the same descriptor number
  EXPECT_NE(fresh, old) << "a handle was given out twice";
  ASSERT_EQ(WSAAsyncSelect(fresh, Notes.Wnd, WM_SOCKET, FD_READ), 0);
  // The queued notification carries the old handle, so it can never be taken for the new socket, and the
  // new socket gets nothing: it has no data.
  EXPECT_TRUE(Notes.Drain(fresh).empty());
  Notes.Seen.clear();

  // No notification for the old handle is posted after its closing; the new one gets its own.
  SendTo(tx, fresh, "for the new one");
  auto n = Notes.Next(fresh);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->Event, FD_READ);
  EXPECT_TRUE(Notes.Drain(old).empty());
}

TEST_F(Notify, ReselectionAfterThePeersEndPostsFdCloseAgain) {
  auto [c, s] = Pair();
  Select(c, FD_CLOSE);
  Close(s);
  EXPECT_EQ(NextEvent(c), FD_CLOSE);
  // Switching off and on again (the component's pause and resume) loses nothing.
  Select(c, 0);
  Select(c, FD_CLOSE);
  EXPECT_EQ(NextEvent(c), FD_CLOSE);
}

TEST_F(Notify, SelectionRefusesBadWindowsEventsAndBlockingMode) {
  SOCKET s = BoundUdp();
  EXPECT_EQ(WSAAsyncSelect(s, reinterpret_cast<HWND>(0x7777), WM_SOCKET, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);
  EXPECT_EQ(WSAAsyncSelect(s, Notes.Wnd, WM_SOCKET, 0x40), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);
  EXPECT_EQ(WSAAsyncSelect(INVALID_SOCKET, Notes.Wnd, WM_SOCKET, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAENOTSOCK);

  Select(s, FD_READ);
  ULONG blocking = 0;
  EXPECT_EQ(ioctlsocket(s, FIONBIO, &blocking), SOCKET_ERROR);  // not while notifications are on
  EXPECT_EQ(Err(), WSAEINVAL);
  Select(s, 0);
  EXPECT_EQ(ioctlsocket(s, FIONBIO, &blocking), 0);
}

TEST_F(Notify, SocketsClosedByTheLastCleanupPostNothing) {
  SOCKET rx = BoundUdp();
  SOCKET tx = BoundUdp();
  Select(rx, FD_READ);
  u_short port = PortOf(rx);
  // Shut the layer down under the fixture's own start-up; the fixture starts it again for its TearDown.
  ASSERT_EQ(WSACleanup(), 0);
  Owned.clear();
  WSADATA d;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &d), 0);
  EXPECT_EQ(closesocket(rx), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAENOTSOCK);
  SOCKET again = BoundUdp();
  sockaddr_in a = Loopback(port);
  EXPECT_EQ(sendto(again, "x", 1, 0, Sa(a), sizeof a), 1);
  EXPECT_TRUE(Notes.Drain(rx).empty());
  (void)tx;
}

}  // namespace
