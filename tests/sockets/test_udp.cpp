// Datagram sockets: Connect and Listen, the cutting of sends into datagrams, the send queue when a send would
// block, and the receive loop.
#include <gtest/gtest.h>

#include <memory>
#include <algorithm>

#include "helpers.h"

namespace {

void ConnectUdp(TCustomWSocket& s, std::uint16_t port, const std::string& addr = "127.0.0.1") {
  s.SetProto("UDP");
  s.SetAddr(addr);
  s.SetPort(std::to_string(port));
  s.Connect();
}

// A datagram socket listening on 127.0.0.1 and a port that the system chooses; returns that port.
std::uint16_t ListenUdp(TCustomWSocket& s) {
  s.SetAddr("127.0.0.1");
  s.SetPort("0");
  s.SetProto("udp");
  s.Listen();
  return static_cast<std::uint16_t>(std::stoi(s.GetLocalPortText()));
}

std::vector<std::size_t> Sizes(const std::vector<Bytes>& datagrams) {
  std::vector<std::size_t> r;
  for (const auto& d : datagrams) r.push_back(d.size());
  return r;
}

Bytes Joined(const std::vector<Bytes>& datagrams) {
  Bytes all;
  for (const auto& d : datagrams) all.insert(all.end(), d.begin(), d.end());
  return all;
}

}  // namespace

TEST(UdpConnect, OpensBindsAndConnectsInsideTheCall) {
  TEventLog log;
  PlainUdp peer;
  TTestSocket s(nullptr);
  log.Attach(s);
  ConnectUdp(s, peer.Port());
  EXPECT_EQ(log.Joined(), "closed->opened, opened->connected, connected 0");
  EXPECT_EQ(s.SocketType, SOCK_DGRAM);
  EXPECT_EQ(s.ProtoNum, IPPROTO_UDP);
  EXPECT_EQ(s.SelectMask, 59);
  EXPECT_NE(s.LocalPort(), "0") << "reads the port the platform chose";
  EXPECT_EQ(s.GetLocalPortText(), s.LocalPort());
  EXPECT_EQ(SocketOption(s.SocketHandle, "SO_BROADCAST"), 0);
  s.Close();
  EXPECT_EQ(s.LocalPort(), "0");
}

TEST(UdpConnect, BroadcastIsTurnedOnForTheLimitedBroadcastAddressOnly) {
  for (const char* addr : {"192.168.1.255", "10.1.2.3", "127.0.0.1"}) {
    TTestSocket s(nullptr);
    ConnectUdp(s, 7710, addr);
    ASSERT_EQ(s.State(), wsConnected) << addr;
    EXPECT_EQ(SocketOption(s.SocketHandle, "SO_BROADCAST"), 0) << addr;
  }
  TTestSocket s(nullptr);
  ConnectUdp(s, 7710, "255.255.255.255");
  ASSERT_EQ(s.State(), wsConnected);
  EXPECT_NE(SocketOption(s.SocketHandle, "SO_BROADCAST"), 0);
  EXPECT_EQ(s.SockAddr.sin_addr.s_addr, 0xFFFFFFFFu);
}

TEST(UdpConnect, ChecksComeInOrderAndResolutionFailuresAreReported) {
  TTestSocket s(nullptr);
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No Port Specified");
  s.SetPort("9");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No IP Address Specified");
  s.SetAddr("127.0.0.1");
  s.SetProto("");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No Protocol Specified");
  s.SetProto("udp");
  s.SetPort("nosuchservice");
  std::string bad = ErrorOf([&] { s.Connect(); });
  EXPECT_EQ(bad.rfind("connect: WSocketResolvePort: Cannot convert port 'nosuchservice'", 0), 0u) << bad;
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.SocketHandle.load(), INVALID_SOCKET) << "no socket was created";
  EXPECT_TRUE(s.ProtoResolved) << "what resolved before the failure keeps its mark";
  s.SetPort("9");
  s.Connect();
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: Socket already in use");
}

TEST(UdpListen, BindsAndIsConnectedInsideTheCall) {
  TEventLog log;
  TTestSocket s(nullptr);
  log.Attach(s);
  std::uint16_t port = ListenUdp(s);
  EXPECT_EQ(log.Joined(), "closed->bound, bound->listening, listening->connected, connected 0");
  EXPECT_EQ(s.SelectMask, 43);
  EXPECT_NE(port, 0);
  // A second socket on the same port is refused at its bind, and keeps no socket.
  TTestSocket other(nullptr);
  other.SetAddr("127.0.0.1");
  other.SetPort(std::to_string(port));
  other.SetProto("udp");
  std::string bad = ErrorOf([&] { other.Listen(); });
  EXPECT_EQ(bad, "Error 10048 in function Bind\r\nAddress already in use");
  EXPECT_EQ(other.SocketHandle.load(), INVALID_SOCKET);
  EXPECT_EQ(other.State(), wsClosed);
  EXPECT_EQ(ErrorOf([&] { s.Listen(); }), "Listen: Socket already in use");
}

TEST(UdpListen, UnassignedSettingsAreReportedWithInvalidArgument) {
  TTestSocket s(nullptr);
  s.SetProto("");
  EXPECT_EQ(ErrorOf([&] { s.Listen(); }), "Error 10022 in function listen: port not assigned\r\nInvalid argument");
  s.SetPort("0");
  EXPECT_EQ(ErrorOf([&] { s.Listen(); }),
            "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
  s.SetProto("udp");
  EXPECT_EQ(ErrorOf([&] { s.Listen(); }),
            "Error 10022 in function listen: address not assigned\r\nInvalid argument");
  EXPECT_EQ(s.LastError(), 10022);
}

TEST(UdpSend, SendsAreCutIntoDatagramsOf1514Bytes) {
  struct Case {
    int len;
    std::vector<std::size_t> sizes;
  };
  const Case cases[] = {{9, {9}},
                        {1514, {1514}},
                        {1515, {1514, 1}},
                        {10240, {1514, 1514, 1514, 1514, 1514, 1514, 1156}},
                        {25000, {1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514, 1514,
                                 1514, 1514, 776}}};
  PlainUdp peer;
  peer.SetReceiveBuffer(1 << 20);
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  for (const Case& c : cases) {
    std::string data = Pattern(static_cast<std::size_t>(c.len), static_cast<std::size_t>(c.len));
    EXPECT_EQ(s.SendStr(data), c.len);
    auto got = peer.ReceiveAll(150, c.sizes.size());
    EXPECT_EQ(Sizes(got), c.sizes) << c.len;
    EXPECT_EQ(ToString(Joined(got)), data) << c.len;
  }
  EXPECT_EQ(s.SendStr(""), 0);
  EXPECT_EQ(s.Send("x", -3), 0);
  EXPECT_TRUE(peer.ReceiveAll(100).empty()) << "a send of 0 bytes sends nothing";
}

TEST(UdpSend, OnSendDataFiresPerDatagramInsideSendAndOnDataSentLater) {
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  ASSERT_TRUE(HandleFirstNotification(s));  // the platform's first write notification, which finds nothing queued
  std::vector<int> sent;
  int dataSent = 0;
  s.OnSendData = [&](TObject*, std::int32_t n) { sent.push_back(n); };
  s.OnDataSent = [&](TObject*, WORD e) {
    EXPECT_EQ(e, 0);
    ++dataSent;
  };
  s.SendStr(Pattern(1515));
  EXPECT_EQ(sent, (std::vector<int>{1514, 1}));
  EXPECT_EQ(dataSent, 0) << "OnDataSent comes from the window's messages";
  PumpUntil([&] { return dataSent == 1; });
  EXPECT_EQ(dataSent, 1);
  // An empty send with one empty block queued still posts the write notification.
  s.SendStr("");
  PumpUntil([&] { return dataSent == 2; });
  EXPECT_EQ(dataSent, 2);
}

TEST(UdpSend, AnEmptySendBeforeAnyDataPostsNothing) {
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  int dataSent = 0;
  s.OnDataSent = [&](TObject*, WORD) { ++dataSent; };
  s.SendStr("");
  PumpFor(50);
  EXPECT_EQ(dataSent, 0);
  EXPECT_FALSE(s.SendQueueEmpty);
}

TEST(UdpSend, SendOnAClosedSocketIsReported) {
  TTestSocket s(nullptr);
  EXPECT_EQ(ErrorOf([&] { s.SendStr("x"); }), "Error 10057 in function Send\r\nSocket is not connected");
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  EXPECT_EQ(s.SendStr("x"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LastError(), 10057);
}

namespace {

// The first platform send takes 10 bytes, the next fails with FailWith.
class TFailingSecondSend : public TTestSocket {
 public:
  using TTestSocket::TTestSocket;
  int FailWith = 0;
  int Calls = 0;

 protected:
  int RealSend(const void* Data, int Len) override {
    if (++Calls > 1) {
      WSocket::WSASetLastError(FailWith);
      return SOCKET_ERROR;
    }
    return TWSocket::RealSend(Data, std::min(Len, 10));
  }
};

}  // namespace

TEST(UdpSend, AnOnSendDataExceptionDoesNotSkipTheFailureOfTheSameSend) {
  {
    // A send that fails for good still closes and reports the session's end; the handler's exception leaves.
    PlainUdp peer;
    TFailingSecondSend s(nullptr);
    ConnectUdp(s, peer.Port());
    s.FailWith = WSAECONNRESET;
    std::vector<std::string> closed;
    s.OnSessionClosed = [&](TObject*, WORD e) { closed.push_back(std::to_string(e)); };
    s.OnSendData = [](TObject*, std::int32_t) { throw ESocketException("from OnSendData"); };
    EXPECT_EQ(ErrorOf([&] { s.SendStr(Pattern(100)); }), "from OnSendData");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(closed, std::vector<std::string>{"10054"});
  }
  {
    // A send that fails otherwise is still reported.
    PlainUdp peer;
    TFailingSecondSend s(nullptr);
    ConnectUdp(s, peer.Port());
    s.FailWith = WSAEMSGSIZE;
    int errors = 0;
    s.OnError = [&](TObject*) { ++errors; };
    s.OnSendData = [](TObject*, std::int32_t) { throw ESocketException("from OnSendData"); };
    EXPECT_EQ(ErrorOf([&] { s.SendStr(Pattern(100)); }), "from OnSendData");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), WSAEMSGSIZE);
    EXPECT_EQ(s.State(), wsConnected);
  }
}

TEST(UdpSend, UrgentFlagReachesEveryDatagramSend) {
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  s.SetSendFlags(wsSendUrgent);
  // A datagram socket refuses out-of-band data, and the send reports that.
  std::string bad = ErrorOf([&] { s.SendStr("x"); });
  EXPECT_EQ(bad.rfind("Error 10045 in function TryToSend failed", 0), 0u) << bad;
}

TEST(UdpQueue, WouldBlockKeepsTheBytesInOrderAndTheNextSendFillsTheLastBlock) {
  PlainUdp peer;
  peer.SetReceiveBuffer(1 << 20);
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  std::string first = Pattern(9);
  s.WouldBlock = true;
  EXPECT_EQ(s.SendStr(first), 9);
  EXPECT_EQ(s.SendQueue.size(), 1u);
  EXPECT_FALSE(s.SendQueueEmpty);
  std::string second = Pattern(10240, 9);
  EXPECT_EQ(s.SendStr(second), 10240);
  ASSERT_EQ(s.SendQueue.size(), 7u) << "9 + 1505 in the first block, then five of 1514 and one of 1165";
  EXPECT_EQ(s.SendQueue.front()->WritePos, 1514);
  EXPECT_EQ(s.SendQueue.back()->WritePos, 1165);
  EXPECT_TRUE(peer.ReceiveAll(50).empty());
  s.WouldBlock = false;
  // The platform's write notification drains the queue.
  SendMessageA(s.NotifyWindow, WM_ASYNCSELECT, s.SocketHandle, WSAMAKESELECTREPLY(FD_WRITE, 0));
  auto got = peer.ReceiveAll(150, 7);
  EXPECT_EQ(Sizes(got), (std::vector<std::size_t>{1514, 1514, 1514, 1514, 1514, 1514, 1165}));
  EXPECT_EQ(ToString(Joined(got)), first + second);
  EXPECT_TRUE(s.SendQueueEmpty);
  EXPECT_EQ(s.SendQueue.size(), 1u) << "the last block stays, empty, for the next send";
}

TEST(UdpQueue, ConnectEmptiesTheQueueOfAnEarlierSocket) {
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  s.WouldBlock = true;
  s.SendStr("stale");
  s.Close();
  s.WouldBlock = false;
  ConnectUdp(s, peer.Port());
  EXPECT_TRUE(s.SendQueue.empty());
  s.SendStr("fresh");
  EXPECT_EQ(ToString(peer.Receive(kPatienceMs).value_or(Bytes{})), "fresh");
  EXPECT_TRUE(peer.ReceiveAll(50).empty());
}

TEST(UdpQueue, FlushEndsWhenNothingIsQueued) {
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  // An empty send before any data leaves the queue without a block and without its empty mark.
  s.SendStr("");
  ASSERT_TRUE(s.SendQueue.empty());
  ASSERT_FALSE(s.SendQueueEmpty);
  // A Flush that waited for the mark would pump until something closed the socket.
  s.CloseDelayed();
  s.Flush();
  EXPECT_EQ(s.State(), wsConnected) << "Flush pumped instead of returning";
  // With bytes queued it still drains them first.
  s.WouldBlock = true;
  s.SendStr("queued");
  s.WouldBlock = false;
  s.Flush();
  EXPECT_TRUE(s.SendQueueEmpty);
  EXPECT_EQ(ToString(peer.Receive(kPatienceMs).value_or(Bytes{})), "queued");
}

TEST(UdpQueue, AbortDropsQueuedData) {
  TEventLog log;
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  s.WouldBlock = true;
  s.SendStr("dropped");
  log.Attach(s);
  s.Abort();
  EXPECT_TRUE(s.SendQueue.empty());
  EXPECT_EQ(log.Joined(), "connected->closed, closed 0");
}

TEST(UdpReceive, EachWaitingDatagramGetsAPassOfTheLoop) {
  TTestSocket s(nullptr);
  std::uint16_t port = ListenUdp(s);
  std::vector<std::string> got;
  s.OnDataAvailable = [&](TObject*, WORD e) {
    EXPECT_EQ(e, 0);
    // A notification may find everything already taken by an earlier pass: that is normal.
    if (std::string d = s.ReceiveStr(); !d.empty()) got.push_back(d);
  };
  // Both are waiting before the notification is handled.
  PlainUdp peer;
  peer.SendTo(port, ToBytes("first"));
  peer.SendTo(port, ToBytes("second"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  PumpUntil([&] { return got.size() >= 2; });
  EXPECT_EQ(got, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(s.ReadCount(), 11);
}

TEST(UdpReceive, AnEmptyDatagramDoesNotSilenceTheSocket) {
  TTestSocket s(nullptr);
  std::uint16_t port = ListenUdp(s);
  std::vector<std::string> got;
  s.OnDataAvailable = [&](TObject*, WORD) { got.push_back(s.ReceiveStr()); };
  auto has = [&](const char* text) { return std::find(got.begin(), got.end(), text) != got.end(); };
  PlainUdp peer;
  peer.SendTo(port, Bytes{});
  PumpFor(50);
  peer.SendTo(port, ToBytes("valid"));
  EXPECT_TRUE(PumpUntil([&] { return has("valid"); }));
  EXPECT_EQ(s.LastError(), 0);
  // Both waiting at once: the empty one is taken, then the valid one follows in the same loop.
  got.clear();
  peer.SendTo(port, Bytes{});
  peer.SendTo(port, ToBytes("after"));
  EXPECT_TRUE(PumpUntil([&] { return has("after"); }));
}

TEST(UdpReceive, InLineModeWithNoLinePendingReceiveStrLeavesTheDatagramWaiting) {
  TTestSocket s(nullptr);
  std::uint16_t port = ListenUdp(s);
  s.SetLineMode(true);
  PlainUdp peer;
  peer.SendTo(port, ToBytes("no line end"));
  ULONG waiting = 0;
  ASSERT_TRUE(WaitUntil([&] { return WSocket::ioctlsocket(s.SocketHandle, FIONREAD, &waiting) == 0 && waiting > 0; }));
  // No line is pending, so there is nothing to hand out; the datagram is not an empty one and must stay for the
  // line layer.
  EXPECT_EQ(s.ReceiveStr(), "");
  waiting = 0;
  WSocket::ioctlsocket(s.SocketHandle, FIONREAD, &waiting);
  EXPECT_GT(waiting, 0u) << "the datagram was taken past the line layer";
  EXPECT_EQ(s.ReadCount(), 0);
}

TEST(UdpReceive, WithoutHandlerWaitingDataIsDropped) {
  TTestSocket s(nullptr);
  std::uint16_t port = ListenUdp(s);
  PlainUdp peer;
  for (int i = 0; i < 3; ++i) peer.SendTo(port, ToBytes(Pattern(3000)));
  EXPECT_TRUE(PumpUntil([&] { return s.RcvdCount() == 0; })) << "something left waiting";
  EXPECT_EQ(s.ReadCount(), 0);
  // The socket still hears what comes next.
  std::string got;
  s.OnDataAvailable = [&](TObject*, WORD) { got = s.ReceiveStr(); };
  peer.SendTo(port, ToBytes("later"));
  EXPECT_TRUE(PumpUntil([&] { return got == "later"; }));
}

TEST(UdpReceive, NoReceiveLoopGivesOnePassPerNotification) {
  TTestSocket s(nullptr);
  std::uint16_t port = ListenUdp(s);
  s.SetComponentOptions(WSocketOptionBit(wsoNoReceiveLoop));
  int passes = 0;
  s.OnDataAvailable = [&](TObject*, WORD) {
    ++passes;
    s.ReceiveStr();
  };
  PlainUdp peer;
  peer.SendTo(port, ToBytes("a"));
  peer.SendTo(port, ToBytes("b"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // Handle exactly one read notification; a write notification (posted when the mask was given) may come first.
  MSG msg;
  bool readDispatched = false;
  WaitUntil([&] {
    if (PeekMessageA(&msg, s.NotifyWindow, WM_ASYNCSELECT, WM_ASYNCSELECT, PM_REMOVE) != 0) {
      readDispatched = (WSAGETSELECTEVENT(msg.lParam) & FD_READ) != 0;
      DispatchMessageA(&msg);
    }
    return readDispatched;
  });
  ASSERT_TRUE(readDispatched);
  EXPECT_EQ(passes, 1);
  PumpUntil([&] { return passes == 2; });
  EXPECT_EQ(passes, 2) << "the receive re-enabled the notification for the second datagram";
}

TEST(UdpReceive, AHandlerExceptionEndsTheLoopQuietly) {
  TTestSocket s(nullptr);
  std::uint16_t port = ListenUdp(s);
  int calls = 0;
  int background = 0;
  s.OnBgException = [&](TObject*, Exception&, bool&) { ++background; };
  s.OnDataAvailable = [&](TObject*, WORD) {
    ++calls;
    s.ReceiveStr();
    throw ESocketException("handler failed");
  };
  PlainUdp peer;
  peer.SendTo(port, ToBytes("a"));
  peer.SendTo(port, ToBytes("b"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  PumpUntil([&] { return calls >= 2; });
  EXPECT_EQ(background, 0);
  EXPECT_EQ(s.State(), wsConnected);
}

TEST(UdpReceive, AHandlerThatReadsNothingDoesNotSpinTheLoop) {
  TTestSocket s(nullptr);
  std::uint16_t port = ListenUdp(s);
  int calls = 0;
  s.OnDataAvailable = [&](TObject*, WORD) { ++calls; };
  PlainUdp peer;
  peer.SendTo(port, ToBytes("unread"));
  EXPECT_TRUE(PumpUntil([&] { return calls > 0; }));
  PumpFor(100);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(s.ReceiveStr(), "unread") << "the data is still there for a later read";
}

TEST(UdpReceive, ReceiveFromTellsTheSender) {
  TTestSocket s(nullptr);
  std::uint16_t port = ListenUdp(s);
  PlainUdp peer;
  std::string got;
  sockaddr_in from{};
  s.OnDataAvailable = [&](TObject*, WORD) {
    char buf[100];
    int fromLen = sizeof from;
    int n = s.ReceiveFrom(buf, sizeof buf, from, fromLen);
    if (n > 0) got.assign(buf, static_cast<std::size_t>(n));
  };
  peer.SendTo(port, ToBytes("hello"));
  ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
  EXPECT_EQ(got, "hello");
  EXPECT_EQ(WSocket::ntohs(from.sin_port), peer.Port());
  EXPECT_EQ(s.ReadCount(), 5);
}

TEST(UdpReceive, SendToBypassesTheQueue) {
  TTestSocket s(nullptr);
  ListenUdp(s);
  PlainUdp peer;
  sockaddr_in dest{};
  dest.sin_family = AF_INET;
  dest.sin_port = WSocket::htons(peer.Port());
  dest.sin_addr.s_addr = WSocket::inet_addr("127.0.0.1");
  int sentEvents = 0;
  s.OnSendData = [&](TObject*, std::int32_t n) { sentEvents += n; };
  EXPECT_EQ(s.SendTo(dest, sizeof dest, "direct", 6), 6);
  EXPECT_EQ(sentEvents, 6);
  EXPECT_EQ(ToString(peer.Receive(kPatienceMs).value_or(Bytes{})), "direct");
  EXPECT_TRUE(s.SendQueue.empty());
}
