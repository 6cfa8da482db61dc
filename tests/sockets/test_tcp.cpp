// Stream sockets: a session from connect through data both ways to an orderly close and to a reset, a refused
// connect, listen, accept and duplicate, lingering and aborting.
#include <gtest/gtest.h>

#include <memory>

#include "helpers.h"

namespace {

// A listening component, the component that takes over each accepted connection, and a connecting one.
struct Session {
  // The logs outlive the sockets, whose destruction still fires state changes.
  TEventLog ServerLog, ClientLog, AcceptedLog;
  TTestSocket Server{nullptr};
  TTestSocket Accepted{nullptr};
  TTestSocket Client{nullptr};
  std::string ServerGot, ClientGot;
  int ServerClosed = 0, ClientClosed = 0;
  WORD ServerCloseError = 0;

  void Open(TSocketLingerOnOff clientLinger) {
    Server.SetAddr("127.0.0.1");
    Server.SetPort("0");
    Server.Listen();
    EXPECT_EQ(Server.State(), wsListening);
    Server.OnSessionAvailable = [this](TObject*, WORD e) {
      EXPECT_EQ(e, 0);
      Accepted.Dup(Server.Accept());
    };
    AcceptedLog.Attach(Accepted);
    Accepted.OnDataAvailable = [this](TObject*, WORD) { ServerGot += Accepted.ReceiveStr(); };
    Accepted.OnSessionClosed = [this](TObject*, WORD e) {
      ++ServerClosed;
      ServerCloseError = e;
    };
    ClientLog.Attach(Client);
    Client.OnDataAvailable = [this](TObject*, WORD) { ClientGot += Client.ReceiveStr(); };
    Client.OnSessionClosed = [this](TObject*, WORD) { ++ClientClosed; };
    Client.SetAddr("127.0.0.1");
    Client.SetPort(Server.GetLocalPortText());
    Client.SetLingerOnOff(clientLinger);
    Client.Connect();
    EXPECT_EQ(Client.State(), wsConnecting);
    EXPECT_TRUE(PumpUntil([this] { return Client.State() == wsConnected && Accepted.State() == wsConnected; }));
  }
};

}  // namespace

TEST(TcpSession, DataBothWaysThenAnOrderlyClose) {
  Session s;
  s.Open(wsLingerOff);
  EXPECT_EQ(s.ClientLog.Joined().rfind("closed->opened, opened->connecting, connecting->connected, connected 0", 0), 0u)
      << s.ClientLog.Joined();
  EXPECT_EQ(s.Accepted.SelectMask, 51);
  EXPECT_EQ(s.Client.LocalPort(), "0") << "no explicit bind for a default local address and port";
  EXPECT_EQ(s.Client.PeerAddr(), "127.0.0.1");
  EXPECT_EQ(s.Client.PeerPort(), s.Server.GetLocalPortText());
  EXPECT_EQ(s.Accepted.PeerPort(), s.Client.GetLocalPortText());

  std::string up = Pattern(100000);
  EXPECT_EQ(s.Client.SendStr(up), 100000);
  s.Accepted.SendStr("reply");
  EXPECT_TRUE(PumpUntil([&] { return s.ServerGot.size() == up.size() && s.ClientGot == "reply"; }));
  EXPECT_EQ(s.ServerGot, up);

  s.Client.Close();
  EXPECT_EQ(s.ClientClosed, 1);
  EXPECT_TRUE(PumpUntil([&] { return s.Accepted.State() == wsClosed; }));
  EXPECT_EQ(s.ServerClosed, 1) << "once, though both the notification and the close could fire it";
  EXPECT_EQ(s.ServerCloseError, 0);
  EXPECT_EQ(s.Server.State(), wsListening) << "the listener keeps listening";
}

TEST(TcpSession, APeerResetEndsTheSessionOnceWithConnectionReset) {
  PlainTcpServer server;
  TTestSocket c(nullptr);
  std::vector<int> closed;
  c.OnSessionClosed = [&](TObject*, WORD e) { closed.push_back(e); };
  std::string got;
  c.OnDataAvailable = [&](TObject*, WORD) { got += c.ReceiveStr(); };
  c.SetAddr("127.0.0.1");
  c.SetPort(std::to_string(server.Port()));
  c.Connect();
  ASSERT_TRUE(server.Accept(kPatienceMs));
  ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }));
  server.Write(ToBytes("before the reset"));
  ASSERT_TRUE(PumpUntil([&] { return got == "before the reset"; }));
  server.Reset();
  EXPECT_TRUE(PumpUntil([&] { return c.State() == wsClosed; }));
  PumpFor(20);
  EXPECT_EQ(closed, std::vector<int>{WSAECONNRESET});
}

TEST(TcpSession, CloseWithTheDefaultLingerEndsThePeersSessionToo) {
  Session s;
  s.Open(wsLingerOn);  // on, 0 seconds
  s.Client.Close();
  EXPECT_TRUE(PumpUntil([&] { return s.Accepted.State() == wsClosed; }));
  EXPECT_EQ(s.ServerClosed, 1);
}

TEST(TcpSession, PeerClosingWithDataWaitingDeliversTheDataFirst) {
  Session s;
  s.Open(wsLingerOff);
  std::vector<std::string> order;
  s.Accepted.OnDataAvailable = [&](TObject*, WORD) {
    std::string got = s.Accepted.ReceiveStr();
    if (!got.empty()) order.push_back("data " + got);
  };
  s.Accepted.OnSessionClosed = [&](TObject*, WORD e) { order.push_back("closed " + std::to_string(e)); };
  s.Client.SendStr("last words");
  s.Client.Close();
  EXPECT_TRUE(PumpUntil([&] { return s.Accepted.State() == wsClosed; }));
  EXPECT_EQ(order, (std::vector<std::string>{"data last words", "closed 0"}));
}

TEST(TcpSession, AbortDropsTheQueueClosesWithoutShutdownAndResetsTheLinger) {
  Session s;
  s.Open(wsLingerOn);
  s.Client.SetLingerTimeout(5);
  s.Client.WouldBlock = true;
  s.Client.SendStr("never sent");
  s.Client.Abort();
  EXPECT_EQ(s.ClientClosed, 1);
  EXPECT_TRUE(s.Client.SendQueue.empty());
  EXPECT_EQ(s.Client.LingerOnOff(), wsLingerOn);
  EXPECT_EQ(s.Client.LingerTimeout(), 0);
  EXPECT_TRUE(PumpUntil([&] { return s.Accepted.State() == wsClosed; }));
  EXPECT_EQ(s.ServerGot, "");
}

TEST(TcpSession, APartialSendGoesOnWithTheRestAtOnce) {
  PlainTcpServer server;
  TTestSocket c(nullptr);
  c.SetAddr("127.0.0.1");
  c.SetPort(std::to_string(server.Port()));
  c.Connect();
  ASSERT_TRUE(server.Accept(kPatienceMs));
  ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }));
  PumpFor(20);
  c.PartialLimit = 100;
  std::string data = Pattern(1000);
  c.SendStr(data);
  // No write notification follows a partial send, so nothing but Send itself may be relied on here.
  EXPECT_EQ(ToString(server.Read(data.size(), kPatienceMs)), data);
  EXPECT_EQ(c.RealSendCalls, 10);
  EXPECT_TRUE(c.SendQueueEmpty);
}

TEST(TcpSession, WaitForCloseOffersWaitingDataWhileThePeerCloses) {
  Session s;
  s.Open(wsLingerOff);
  s.Client.SendStr("bye");
  s.Client.Close();
  // The wait pumps messages: the data and the peer's close are handled inside it or by the pump after it.
  s.Accepted.WaitForClose();
  EXPECT_TRUE(PumpUntil([&] { return s.Accepted.State() == wsClosed; }));
  EXPECT_EQ(s.ServerGot, "bye");
  EXPECT_EQ(s.ServerClosed, 1);
}

TEST(TcpConnect, ARefusedConnectReportsThenCloses) {
  TEventLog log;
  TTestSocket c(nullptr);
  log.Attach(c);
  c.SetAddr("127.0.0.1");
  c.SetPort(std::to_string(UnusedTcpPort()));
  c.Connect();
  ASSERT_TRUE(PumpUntil([&] { return c.State() == wsClosed; }));
  EXPECT_EQ(log.Joined(),
            "closed->opened, opened->connecting, connecting->connected, connected 10061, connected->closed, "
            "closed 0");
}

TEST(TcpConnect, OptionsOfAStreamSocket) {
  PlainTcpServer server;
  TTestSocket c(nullptr);
  c.SetAddr("127.0.0.1");
  c.SetPort(std::to_string(server.Port()));
  c.SetLocalAddr("127.0.0.1");
  c.Connect();
  EXPECT_NE(SocketOption(c.SocketHandle, "SO_REUSEADDR"), 0);
  EXPECT_NE(SocketOption(c.SocketHandle, "SO_KEEPALIVE"), 0);
  EXPECT_NE(c.LocalPort(), "0") << "a local address makes an explicit bind";
  c.Abort();
}

TEST(TcpListen, AcceptAndDupRefuseWhatDoesNotFit) {
  TTestSocket s(nullptr);
  EXPECT_EQ(ErrorOf([&] { s.Accept(); }),
            "Error 10022 in function not a listening socket\r\nInvalid argument");
  s.OnError = [](TObject*) {};
  EXPECT_EQ(s.Accept(), INVALID_SOCKET);
  s.OnError = nullptr;
  EXPECT_EQ(ErrorOf([&] { s.Dup(0); }), "Error 10022 in function Dup\r\nInvalid argument");
  EXPECT_EQ(ErrorOf([&] { s.Dup(INVALID_SOCKET); }), "Error 10022 in function Dup\r\nInvalid argument");
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(TcpListen, LingerSettingTakesEffectAtTheNextApply) {
  TTestSocket s(nullptr);
  s.SetLingerOnOff(wsLingerNoSet);
  EXPECT_EQ(ErrorOf([&] { s.ApplyLinger(); }), "") << "nothing to apply, even without a socket";
  s.SetLingerOnOff(wsLingerOff);
  EXPECT_EQ(ErrorOf([&] { s.ApplyLinger(); }), "Cannot set linger option at this time");
}
