// SOCKS negotiations with a scripted server, for what a real server will not send: every reply code, replies cut
// into single bytes, bound names, bytes behind the reply; and the requests' exact bytes.
#include <gtest/gtest.h>

#include "helpers.h"

namespace {

Bytes B(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The component connects to this server as its SOCKS server; each test reads the requests and writes the replies.
struct Scripted {
  PlainTcpServer Server;
  TTestSocket C{nullptr};
  TSocksLog Log;

  explicit Scripted(const std::string& level, const std::string& addr = "host1") {
    Log.Attach(C);
    C.SetSocksServer("127.0.0.1");
    C.SetSocksPort(std::to_string(Server.Port()));
    C.SetSocksLevel(level);
    C.SetAddr(addr);
    C.SetPort("80");
  }
  void UseAccount(const std::string& user, const std::string& password) {
    C.SetSocksAuthentication(socksAuthenticateUsercode);
    C.SetSocksUsercode(user);
    C.SetSocksPassword(password);
  }
  void Start() {
    C.Connect();
    EXPECT_TRUE(Server.Accept(kPatienceMs));
  }
  // The next n bytes that the client sends; its messages are handled meanwhile.
  Bytes Take(std::size_t n) {
    Bytes all;
    PumpUntil(
        [&] {
          Bytes b = Server.Read(n - all.size(), 1);
          all.insert(all.end(), b.begin(), b.end());
          return all.size() >= n;
        });
    return all;
  }
  // Each byte on its own, handled by the client before the next one is written.
  void AnswerByteByByte(const Bytes& reply) {
    for (std::uint8_t b : reply) {
      std::int32_t before = C.ReadCount();
      Server.Write(Bytes{b});
      EXPECT_TRUE(PumpUntil([&] { return C.ReadCount() > before; }));
    }
  }
  bool WaitFor(const std::string& prefix) {
    return PumpUntil([&] { return Log.HasPrefix(prefix); });
  }
};

enum class Phase { Method, Auth, Request };

// Runs a level 5 negotiation up to the given phase, answers it with reply (or closes), and returns the events.
std::string FailAt(Phase phase, const Bytes& reply, bool closeInstead = false) {
  Scripted s("5");
  if (phase == Phase::Auth) s.UseAccount("u", "p");
  s.Start();
  s.Take(3);
  if (phase == Phase::Auth) {
    s.Server.Write(B({5, 2}));
    s.Take(5);
  } else if (phase == Phase::Request) {
    s.Server.Write(B({5, 0}));
    s.Take(12);
  }
  if (closeInstead)
    s.Server.Close();
  else
    s.Server.Write(reply);
  EXPECT_TRUE(s.WaitFor("closed")) << s.Log.Joined();
  EXPECT_EQ(s.C.State(), wsClosed);
  EXPECT_EQ(s.C.SocksServer(), "") << "the close switched SOCKS off";
  EXPECT_EQ(s.C.SocksPhase, socksPhaseIdle);
  return s.Log.Joined();
}

std::string Failed(int code, const std::string& text, const std::string& before = "socks connected 0, ") {
  std::string c = std::to_string(code);
  return before + "error " + c + " " + text + ", connected " + c + ", closed " + c;
}

// A level 4 negotiation to 10.0.0.2:80 answered with reply.
std::string Fail4(const Bytes& reply) {
  Scripted s("4", "10.0.0.2");
  s.Start();
  EXPECT_EQ(s.Take(9), B({4, 1, 0, 80, 10, 0, 0, 2, 0}));
  s.Server.Write(reply);
  EXPECT_TRUE(s.WaitFor("closed")) << s.Log.Joined();
  return s.Log.Joined();
}

}  // namespace

TEST(Socks5, RequestsCarryTheNameAndTheReplyCompletesOnlyWithItsLastByte) {
  Scripted s("5");
  s.Start();
  EXPECT_EQ(s.Take(3), B({5, 1, 0}));
  s.AnswerByteByByte(B({5, 0}));
  EXPECT_EQ(s.Take(12), B({5, 1, 0, 3, 5, 'h', 'o', 's', 't', '1', 0, 80}));
  Bytes reply = B({5, 0, 0, 1, 10, 1, 2, 3, 0x12, 0x34});
  s.AnswerByteByByte(Bytes(reply.begin(), reply.end() - 1));
  EXPECT_EQ(s.Log.Joined(), "socks connected 0");
  s.AnswerByteByByte(Bytes{reply.back()});
  EXPECT_EQ(s.Log.Joined(), "socks connected 0, connected 0");
  EXPECT_EQ(s.C.SocksBindAddr, "10.1.2.3");
  EXPECT_EQ(s.C.SocksBindPort, "4660");
  s.C.SendStr("payload");
  EXPECT_EQ(ToString(s.Take(7)), "payload");
}

TEST(Socks5, BytesBehindTheReplyComeFirstAndAloneEvenWhenMoreWaits) {
  Scripted s("5");
  s.Start();
  s.Take(3);
  s.Server.Write(B({5, 0}));
  s.Take(12);
  std::vector<std::string> order;
  s.C.OnSessionConnected = [&](TObject*, WORD e) {
    order.push_back("connected " + std::to_string(e));
    EXPECT_EQ(s.C.RcvdCount(), 3);
    s.Server.Write(ToBytes("defg"));  // waits at the socket behind the three bytes set aside
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  s.C.OnDataAvailable = [&](TObject*, WORD) {
    char buf[100];
    if (order.size() == 1) {
      EXPECT_EQ(s.C.RcvdCount(), 3);
    }
    int n = s.C.Receive(buf, sizeof buf);
    if (n > 0) order.push_back(std::string(buf, static_cast<std::size_t>(n)));
  };
  s.Server.Write(B({5, 0, 0, 1, 127, 0, 0, 1, 0, 80}) + ToBytes("abc"));
  EXPECT_TRUE(PumpUntil([&] { return order.size() >= 3; }));
  EXPECT_EQ(order, (std::vector<std::string>{"connected 0", "abc", "defg"}));
}

TEST(Socks5, BytesBehindTheReplyAreOfferedUntilTakenInSmallReads) {
  Scripted s("5");
  s.Start();
  s.Take(3);
  s.Server.Write(B({5, 0}));
  s.Take(12);
  std::vector<std::string> reads;
  s.C.OnDataAvailable = [&](TObject*, WORD) {
    char buf[2];
    int n = s.C.Receive(buf, sizeof buf);
    if (n > 0) reads.push_back(std::string(buf, static_cast<std::size_t>(n)));
  };
  s.Server.Write(B({5, 0, 0, 1, 127, 0, 0, 1, 0, 80}) + ToBytes("abc"));
  EXPECT_TRUE(PumpUntil([&] { return reads.size() >= 2; }));
  EXPECT_EQ(reads, (std::vector<std::string>{"ab", "c"}));
  EXPECT_EQ(s.C.SocksExtraCount, 0);
}

TEST(Socks5, UserNameAndPasswordSplitRepliesAndABoundName) {
  Scripted s("5");
  s.UseAccount("user", "pass");
  s.Start();
  EXPECT_EQ(s.Take(3), B({5, 1, 2}));
  s.Server.Write(B({5, 2}));
  EXPECT_EQ(s.Take(11), B({1, 4, 'u', 's', 'e', 'r', 4, 'p', 'a', 's', 's'}));
  s.AnswerByteByByte(B({1}));
  EXPECT_EQ(s.Log.Joined(), "socks connected 0, auth 0");
  s.AnswerByteByByte(B({0}));
  EXPECT_EQ(s.Take(12).size(), 12u);
  s.Server.Write(B({5, 0, 0, 3, 5, 'p', 'r', 'o', 'x', 'y', 0x04, 0x38}));
  EXPECT_TRUE(s.WaitFor("connected"));
  EXPECT_EQ(s.Log.Joined(), "socks connected 0, auth 0, auth 1, connected 0");
  EXPECT_EQ(s.C.SocksBindAddr, "proxy");
  EXPECT_EQ(s.C.SocksBindPort, "1080");
}

TEST(Socks5, AServerThatWaivesTheOfferedAuthenticationGetsTheRequestAtOnce) {
  Scripted s("5");
  s.UseAccount("user", "pass");
  s.Start();
  EXPECT_EQ(s.Take(3), B({5, 1, 2}));
  s.Server.Write(B({5, 0}));
  EXPECT_EQ(s.Take(12), B({5, 1, 0, 3, 5, 'h', 'o', 's', 't', '1', 0, 80}));
  EXPECT_EQ(s.Log.Joined(), "socks connected 0, auth 3");
}

TEST(Socks5, EveryFailureClosesWithItsCodeAndText) {
  const std::pair<int, std::string> codes[] = {
      {1, "general SOCKS server failure"}, {2, "connection not allowed by ruleset"}, {3, "network unreachable"},
      {4, "host unreachable"},             {5, "connection refused"},                {6, "time to live expired"},
      {7, "command not supported"},        {8, "address type not supported"},       {9, "unassigned error #9"},
      {255, "unassigned error #255"}};
  for (const auto& [reply, text] : codes) {
    int expected = reply >= 9 ? 20012 : 20003 + reply;
    EXPECT_EQ(FailAt(Phase::Request, B({5, reply, 0, 1, 0, 0, 0, 0, 0, 0})), Failed(expected, text));
  }
  EXPECT_EQ(FailAt(Phase::Method, B({5, 0xFF})), Failed(20003, "authentification method not acceptable"));
  EXPECT_EQ(FailAt(Phase::Method, B({4, 0})), Failed(20002, "socks version error"));
  EXPECT_EQ(FailAt(Phase::Request, B({4})), Failed(20002, "socks version error")) << "at once, on one byte";
  EXPECT_EQ(FailAt(Phase::Request, B({5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})),
            Failed(20011, "address type not supported"));
  EXPECT_EQ(FailAt(Phase::Request, B({5, 0, 0, 3, 200, 'a', 'b'})), Failed(20011, "bound address too long"))
      << "a name that cannot be gathered whole is refused as soon as its length is known";
  EXPECT_EQ(FailAt(Phase::Auth, B({1, 1})), Failed(20015, "socks authentication failed", "socks connected 0, auth 0, "));
  EXPECT_EQ(FailAt(Phase::Auth, B({2, 0})), Failed(20002, "socks version error", "socks connected 0, auth 0, "));
  EXPECT_EQ(FailAt(Phase::Auth, B({1, 0, 0})), Failed(20001, "too much data availaible", "socks connected 0, auth 0, "));
  EXPECT_EQ(FailAt(Phase::Auth, {}, true), "socks connected 0, auth 0, auth 2, connected 20004, closed 0");
  EXPECT_EQ(FailAt(Phase::Request, {}, true), "socks connected 0, connected 20004, closed 0")
      << "the connecting caller learns of the server's end before the close";
}

TEST(Socks5, AReceiveErrorDuringTheNegotiationFailsIt) {
  Scripted s("5");
  s.Start();
  s.Take(3);
  EXPECT_FALSE(s.C.TriggerDataAvailable(WSAECONNABORTED));
  EXPECT_EQ(s.Log.Joined(), Failed(WSAECONNABORTED, "data receive error"));
}

TEST(Socks4, RequestsOfBothLevelsAndRepliesWholeOrInPieces) {
  {
    Scripted s("4a");
    s.C.SetSocksUsercode("u");
    EXPECT_EQ(s.C.SocksLevel(), "4A");
    s.Start();
    EXPECT_EQ(s.Take(16), B({4, 1, 0, 80, 0, 0, 0, 1, 'u', 0, 'h', 'o', 's', 't', '1', 0}));
    s.Server.Write(B({0, 90, 1, 2, 3, 4, 5, 6}) + ToBytes("xyz"));
    EXPECT_TRUE(PumpUntil([&] { return s.Log.Data == "xyz"; }));
    EXPECT_EQ(s.Log.Joined(), "socks connected 0, connected 0");
  }
  {
    Scripted s("4", "10.0.0.2");
    s.C.SetSocksUsercode("u");
    s.Start();
    EXPECT_EQ(s.Take(10), B({4, 1, 0, 80, 10, 0, 0, 2, 'u', 0}));
    s.AnswerByteByByte(B({0, 90, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s.Log.Joined(), "socks connected 0");
    s.AnswerByteByByte(B({0}));
    EXPECT_EQ(s.Log.Joined(), "socks connected 0, connected 0");
  }
}

TEST(Socks4, EveryFailureClosesWithItsCodeAndText) {
  EXPECT_EQ(Fail4(B({0, 91, 0, 0, 0, 0, 0, 0})), Failed(20016, "request rejected or failed"));
  EXPECT_EQ(Fail4(B({0, 92, 0, 0, 0, 0, 0, 0})), Failed(20008, "connection refused"));
  EXPECT_EQ(Fail4(B({0, 93, 0, 0, 0, 0, 0, 0})), Failed(20015, "authentification failed"));
  EXPECT_EQ(Fail4(B({0, 0x90, 0, 0, 0, 0, 0, 0})), Failed(20012, "unassigned error #144"));
  EXPECT_EQ(Fail4(B({1, 90, 0, 0, 0, 0, 0, 0})), Failed(20002, "socks version error"));
}

TEST(Socks4, ADestinationThatDoesNotResolveClosesWithoutASession) {
  if (!PrivateNetwork()) GTEST_SKIP() << "needs the private network namespace (root), so that no lookup leaves";
  Scripted s("4", "nowhere.invalid");
  s.Start();
  EXPECT_TRUE(s.WaitFor("closed"));
  ASSERT_EQ(s.Log.Lines.size(), 3u) << s.Log.Joined();
  EXPECT_EQ(s.Log.Lines[1].rfind("error 20017 ESocketException ", 0), 0u) << s.Log.Lines[1];
  EXPECT_EQ(s.Log.Lines[2], "closed 20017");
  EXPECT_EQ(s.C.State(), wsClosed);
}

TEST(SocksConnect, RefusalsBeforeAnythingIsOpened) {
  Scripted s("5");
  s.C.SetProto("udp");
  EXPECT_EQ(ErrorOf([&] { s.C.Connect(); }), "tcp is the only protocol supported thru socks server");
  EXPECT_EQ(ErrorOf([&] { s.C.Listen(); }), "Listening is not supported thru socks server");
  s.C.SetProto("TCP");
  s.C.SetSocksPort("");
  EXPECT_EQ(ErrorOf([&] { s.C.Connect(); }), "connect: WSocketResolvePort: Invalid Port.");
  s.C.SetSocksPort(std::to_string(s.Server.Port()));
  s.C.SetAddr(std::string(256, 'a'));
  EXPECT_EQ(ErrorOf([&] { s.C.Connect(); }), "connect: Addr longer than 255 bytes");
  EXPECT_EQ(s.C.State(), wsClosed);
  EXPECT_EQ(s.C.SocksPhase, socksPhaseIdle);

  // A connect that the base refuses leaves no negotiation behind for the next, direct, connection.
  TTestSocket fresh(nullptr);
  fresh.SetSocksServer("127.0.0.1");
  fresh.SetSocksPort(std::to_string(s.Server.Port()));
  fresh.SetPort("80");
  EXPECT_EQ(ErrorOf([&] { fresh.Connect(); }), "Connect: No IP Address Specified");
  EXPECT_EQ(fresh.SocksPhase, socksPhaseIdle);
  PlainTcpServer direct;
  std::string got;
  fresh.OnDataAvailable = [&](TObject*, WORD) { got += fresh.ReceiveStr(); };
  fresh.SetSocksServer(" ");
  fresh.SetAddr("127.0.0.1");
  fresh.SetPort(std::to_string(direct.Port()));
  fresh.Connect();
  ASSERT_TRUE(direct.Accept(kPatienceMs));
  direct.Write(ToBytes("direct data"));
  EXPECT_TRUE(PumpUntil([&] { return got == "direct data"; })) << "taken as data, not as a SOCKS reply";
}

TEST(SocksConnect, AServerThatCannotBeReachedFailsBothConnectEvents) {
  TTestSocket c(nullptr);
  TSocksLog log;
  log.Attach(c);
  c.SetSocksServer("127.0.0.1");
  c.SetSocksPort(std::to_string(UnusedTcpPort()));
  c.SetAddr("host1");
  c.SetPort("80");
  c.Connect();
  EXPECT_TRUE(PumpUntil([&] { return log.HasPrefix("closed"); }));
  EXPECT_EQ(log.Joined(), "socks connected 10061, connected 10061, closed 0");
}

TEST(SocksConnect, AConnectRefusedOnAnEstablishedSessionLeavesItWorking) {
  Scripted s("5");
  s.Start();
  s.Take(3);
  s.Server.Write(B({5, 0}));
  s.Take(12);
  s.Server.Write(B({5, 0, 0, 1, 127, 0, 0, 1, 0, 80}));
  ASSERT_TRUE(s.WaitFor("connected"));
  EXPECT_EQ(ErrorOf([&] { s.C.Connect(); }), "Connect: Socket already in use");
  s.Server.Write(ToBytes("still a session"));
  EXPECT_TRUE(PumpUntil([&] { return s.Log.Data == "still a session"; }));
  EXPECT_EQ(s.C.State(), wsConnected);
}

TEST(SocksConnect, LinesBehindTheReplyAreSplitLikeAnyOthers) {
  Scripted s("5");
  s.C.SetLineMode(true);
  std::vector<std::string> lines;
  s.C.OnDataAvailable = [&](TObject*, WORD) { lines.push_back(s.C.ReceiveStr()); };
  s.Start();
  s.Take(3);
  s.Server.Write(B({5, 0}));
  s.Take(12);
  s.Server.Write(B({5, 0, 0, 1, 127, 0, 0, 1, 0, 80}) + ToBytes("hello\r\nwor"));
  EXPECT_TRUE(PumpUntil([&] { return lines.size() == 1; }));
  s.Server.Write(ToBytes("ld\r\n"));
  EXPECT_TRUE(PumpUntil([&] { return lines.size() == 2; }));
  EXPECT_EQ(lines, (std::vector<std::string>{"hello\r\n", "world\r\n"}));
}
