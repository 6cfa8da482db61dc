// Handlers that re-enter the component from inside its events (close, reconnect, retry, pump messages): the rest
// of the notification must not report the old session again, close the new one, or send negotiation bytes out of
// order. Also: an abort that cannot cancel its lookup, a line piece taken outside any event, and a wait on a SOCKS
// connect whose server hangs up, and a session that the error report of a handler's own call closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "helpers.h"

namespace {

// Every wait below is for a condition; the deadline only keeps a broken build from hanging the run, so it is
// generous enough for a loaded machine and the sanitizer builds.
constexpr int kDeadline = 30000;

Bytes B(std::initializer_list<int> values) { return Bytes(values.begin(), values.end()); }

const Bytes kRequest = B({5, 1, 0, 3, 5, 'h', 'o', 's', 't', '1', 0, 80});
const Bytes kGranted = B({5, 0, 0, 1, 127, 0, 0, 1, 0, 80});

void ConnectTo(TTestSocket& c, std::uint16_t port) {
  c.SetAddr("127.0.0.1");
  c.SetPort(std::to_string(port));
  c.Connect();
}

void ThroughSocks(TTestSocket& c, const PlainTcpServer& server) {
  c.SetSocksServer("127.0.0.1");
  c.SetSocksPort(std::to_string(server.Port()));
  c.SetAddr("host1");
  c.SetPort("80");
}

// Connects through server and answers the method selection with a refusal.
void RefuseTheMethod(TTestSocket& c, const TSocksLog& log, PlainTcpServer& server) {
  ThroughSocks(c, server);
  c.Connect();
  ASSERT_TRUE(server.Accept(kDeadline));
  ASSERT_TRUE(PumpUntil([&] { return log.Has("socks connected 0"); }, kDeadline));
  server.Write(B({5, 0xFF}));
}

// Waits, without handling any message, until cond holds.
bool WaitUnpumped(const std::function<bool()>& cond) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeadline);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool Queued(TTestSocket& c, UINT message) {
  MSG msg;
  return PeekMessageA(&msg, c.NotifyWindow, message, message, PM_NOREMOVE) != 0;
}

long Count(const std::vector<std::string>& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

}  // namespace

TEST(Reentry, AHandlerThatClosesOrReconnectsAtThePeersCloseEndsThatNotification) {
  for (bool reconnect : {false, true}) {
    PlainTcpServer first;
    PlainTcpServer second;
    TEventLog log;
    std::string got;
    TTestSocket c(nullptr);
    log.Attach(c);
    // The usual reader: it closes when the stream ends, and here it may connect elsewhere at once.
    c.OnDataAvailable = [&](TObject*, WORD) {
      char buf[64];
      int n = c.Receive(buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      if (n != 0) return;
      c.Close();
      if (reconnect) ConnectTo(c, second.Port());
    };
    ConnectTo(c, first.Port());
    ASSERT_TRUE(first.Accept(kDeadline));
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
    first.Close();
    ASSERT_TRUE(PumpUntil([&] { return Count(log.Lines, "closed 0") > 0; }, kDeadline));
    EXPECT_EQ(Count(log.Lines, "closed 0"), 1) << log.Joined();
    if (!reconnect) {
      EXPECT_EQ(c.State(), wsClosed);
      continue;
    }
    ASSERT_NE(c.State(), wsClosed) << "the new session is under way";
    ASSERT_TRUE(second.Accept(kDeadline));
    second.Write(ToBytes("new session"));
    EXPECT_TRUE(PumpUntil([&] { return got == "new session"; }, kDeadline)) << log.Joined();
    EXPECT_EQ(c.State(), wsConnected);
    EXPECT_EQ(Count(log.Lines, "closed 0"), 1) << log.Joined();
  }
}

TEST(Reentry, ARetryFromAFailedConnectIsNotClosedBehindIt) {
  PlainTcpServer server;
  std::vector<int> connects;
  TTestSocket c(nullptr);
  c.OnSessionConnected = [&](TObject*, WORD e) {
    connects.push_back(e);
    if (e == 0) return;
    c.Close();
    ConnectTo(c, server.Port());
  };
  ConnectTo(c, UnusedTcpPort());
  ASSERT_TRUE(PumpUntil([&] { return connects.size() == 2; }, kDeadline));
  EXPECT_EQ(connects, (std::vector<int>{WSAECONNREFUSED, 0}));
  ASSERT_TRUE(server.Accept(kDeadline));
  c.SendStr("retried");
  EXPECT_EQ(ToString(server.Read(7, kDeadline)), "retried");
}

// The lookup's answer is already queued, so the library can no longer cancel it.
TEST(Reentry, AbortClosesEvenWhenTheLookupCanNoLongerBeCancelled) {
  PlainUdp peer;
  for (bool fromHandler : {false, true}) {
    TEventLog log;
    TTestSocket s(nullptr);
    log.Attach(s);
    s.SetProto("udp");
    ConnectTo(s, peer.Port());
    ASSERT_EQ(s.State(), wsConnected);
    s.DnsLookup("localhost");
    ASSERT_TRUE(WaitUnpumped([&] { return Queued(s, WM_ASYNCGETHOSTBYNAME); }));
    if (fromHandler) {
      // An exception that escapes a handler: its default outcome is this abort.
      SendMessageA(s.NotifyWindow, WM_TRIGGER_EXCEPTION, 0, 0);
    } else {
      EXPECT_NE(ErrorOf([&] { s.Abort(); }).find("WSACancelAsyncRequest"), std::string::npos)
          << "the refusal is still reported, after the close";
    }
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.SocketHandle, INVALID_SOCKET);
    EXPECT_EQ(Count(log.Lines, "closed 0"), 1) << log.Joined();
  }
}

TEST(Reentry, SocksErrorHandlersThatCloseOrRetry) {
  {
    // OnSessionConnected of the failed negotiation retries through another server.
    PlainTcpServer refusing;
    PlainTcpServer second;
    TSocksLog log;
    TTestSocket c(nullptr);
    log.Attach(c);
    c.OnSessionConnected = [&](TObject*, WORD e) {
      log.Lines.push_back("connected " + std::to_string(e));
      if (e == 0 || log.Has("closed 0")) return;
      c.Close();
      ThroughSocks(c, second);
      c.Connect();
    };
    ASSERT_NO_FATAL_FAILURE(RefuseTheMethod(c, log, refusing));
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }, kDeadline));
    ASSERT_TRUE(second.Accept(kDeadline));
    ASSERT_TRUE(PumpUntil([&] { return Count(log.Lines, "socks connected 0") == 2; }, kDeadline)) << log.Joined();
    EXPECT_EQ(second.Read(3, kDeadline), B({5, 1, 0})) << "the retry negotiates";
    EXPECT_EQ(log.Joined(), "socks connected 0, error 20003 authentification method not acceptable, "
                            "connected 20003, closed 0, socks connected 0");
  }
  {
    // OnSocksError closes: the attempt is over, no OnSessionConnected after its OnSessionClosed.
    PlainTcpServer server;
    TSocksLog log;
    TTestSocket c(nullptr);
    log.Attach(c);
    auto record = c.OnSocksError;
    c.OnSocksError = [&](TObject* sender, std::int32_t e, std::string m) {
      record(sender, e, m);
      c.Close();
    };
    ASSERT_NO_FATAL_FAILURE(RefuseTheMethod(c, log, server));
    ASSERT_TRUE(PumpUntil([&] { return log.HasPrefix("closed"); }, kDeadline));
    EXPECT_EQ(log.Joined(), "socks connected 0, error 20003 authentification method not acceptable, closed 0");
  }
}

// A server that answers a step before it has read it, and a handler that pumps messages meanwhile (here until
// the next request has gone out): the step that called the handler must not send its own request behind it,
// where a relay would pass it on to the destination as data.
TEST(Reentry, AHandlerThatPumpsMidNegotiationKeepsTheRequestsInOrder) {
  for (bool withAccount : {false, true}) {
    PlainTcpServer server;
    bool connected = false;
    bool requestSent = false;
    TTestSocket c(nullptr);
    c.SetMultiThreaded(true);
    c.WaitTimeout = kDeadline;
    const std::int32_t repliesRead = withAccount ? 4 : 2;
    c.OnDataSent = [&](TObject*, WORD) { requestSent = requestSent || c.ReadCount() >= repliesRead; };
    c.OnSessionConnected = [&](TObject*, WORD e) { connected = e == 0; };
    if (withAccount) {
      c.SetSocksAuthentication(socksAuthenticateUsercode);
      c.SetSocksUsercode("u");
      c.SetSocksPassword("p");
      c.OnSocksAuthState = [&](TObject*, TSocksAuthState a) {
        if (a != socksAuthStarting) return;
        server.Write(B({1, 0}));
        c.WaitUntilReady(requestSent);
      };
    } else {
      c.OnSocksConnected = [&](TObject*, WORD) { c.WaitUntilReady(requestSent); };
    }
    ThroughSocks(c, server);
    c.Connect();
    ASSERT_TRUE(server.Accept(kDeadline));
    if (withAccount) {
      ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
      EXPECT_EQ(server.Read(3, kDeadline), B({5, 1, 2}));
      server.Write(B({5, 2}));
    } else {
      server.Write(B({5, 0}));
    }
    ASSERT_TRUE(PumpUntil([&] { return requestSent; }, kDeadline));
    EXPECT_EQ(server.Read(kRequest.size(), kDeadline), kRequest);
    server.Write(kGranted);
    ASSERT_TRUE(PumpUntil([&] { return connected; }, kDeadline));
    c.SendStr("payload");
    EXPECT_EQ(ToString(server.Read(7, kDeadline)), "payload") << "nothing of the negotiation behind the request";
  }
}

// A piece handed out at the line-buffer limit and left untaken stops the layer's reading, with bytes still
// waiting at the socket. Taking it outside any event must bring those bytes in without the peer sending more.
TEST(Reentry, ALinePieceTakenOutsideAnEventBringsInWhatWaitsBehindIt) {
  PlainTcpServer peer;
  bool offered = false;
  std::string rest;
  TTestSocket c(nullptr);
  c.SetLineMode(true);
  c.OnDataAvailable = [&](TObject*, WORD) { offered = true; };
  ConnectTo(c, peer.Port());
  ASSERT_TRUE(peer.Accept(kDeadline));
  ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
  const std::int32_t limit = TTestSocket::LineBufferLimit;
  const std::string head(static_cast<std::size_t>(limit - 1024), 'x');
  std::thread writer([&] { peer.Write(ToBytes(head)); });
  ASSERT_TRUE(PumpUntil([&] { return c.RcvBufferCount == limit - 1024; }, kDeadline));
  writer.join();
  // More than fits: all of it waits at the socket before the layer reads the part that reaches the limit.
  const std::string tail = std::string(4000, 'y') + "\r\n";
  peer.Write(ToBytes(tail));
  ASSERT_TRUE(WaitUnpumped([&] {
    ULONG waiting = 0;
    return WSocket::ioctlsocket(c.SocketHandle, FIONREAD, &waiting) == 0 && waiting == tail.size();
  }));
  ASSERT_TRUE(PumpUntil([&] { return offered && !Queued(c, WM_ASYNCSELECT); }, kDeadline));
  const std::string piece = c.ReceiveStr();
  EXPECT_EQ(piece.size(), static_cast<std::size_t>(limit - 1));
  c.OnDataAvailable = [&](TObject*, WORD) { rest += c.ReceiveStr(); };
  EXPECT_TRUE(PumpUntil([&] { return piece.size() + rest.size() == head.size() + tail.size(); }, kDeadline));
  EXPECT_TRUE(piece + rest == head + tail);
}

// The usual synchronous connect: OnSessionConnected sets the flag that the wait is for.
TEST(Reentry, AWaitOnASocksConnectEndsWhenTheServerHangsUp) {
  for (bool reset : {false, true}) {
    PlainTcpServer server;
    TSocksLog log;
    bool done = false;
    TTestSocket c(nullptr);
    c.SetMultiThreaded(true);
    c.WaitTimeout = kDeadline;  // a wait that would never end fails the test instead of hanging it
    log.Attach(c);
    c.OnSessionConnected = [&](TObject*, WORD e) {
      log.Lines.push_back("connected " + std::to_string(e));
      done = true;
    };
    if (reset) {
      // Gone before the method selection is sent: the send itself fails.
      auto record = c.OnSocksConnected;
      c.OnSocksConnected = [&, record](TObject* sender, WORD e) {
        record(sender, e);
        server.Reset();
      };
    }
    ThroughSocks(c, server);
    c.Connect();
    ASSERT_TRUE(server.Accept(kDeadline));
    if (!reset) {
      ASSERT_TRUE(PumpUntil([&] { return log.Has("socks connected 0"); }, kDeadline));
      EXPECT_EQ(server.Read(3, kDeadline), B({5, 1, 0}));
      server.Close();
    }
    EXPECT_EQ(c.WaitUntilReady(done), 0);
    ASSERT_TRUE(PumpUntil([&] { return log.HasPrefix("closed"); }, kDeadline));
    EXPECT_EQ(log.Joined(), std::string("socks connected 0, connected 20004, closed ") + (reset ? "10054" : "0"));
    EXPECT_EQ(c.State(), wsClosed);
  }
}

// A reset connection that the handler only learns of through a call of its own inside the close notification:
// the report of that call (here the peer's address, asked after the failed read) closes the socket without
// telling of the session's end. The notification still tells of it, once, unless the handler has opened the next
// session already; and the next session is reported as usual.
TEST(Reentry, ASessionClosedByTheErrorReportOfAHandlersCallIsStillReported) {
  enum TMode { kToOnError, kAsException, kReconnectAfterIt };
  for (TMode mode : {kToOnError, kAsException, kReconnectAfterIt}) {
    SCOPED_TRACE(mode);
    PlainTcpServer first;
    PlainTcpServer second;
    TEventLog log;
    std::string got;
    std::string report;
    TTestSocket c(nullptr);
    log.Attach(c);
    if (mode != kAsException) c.OnError = [&](TObject*) { report = "error " + std::to_string(c.LastError()); };
    c.OnDataAvailable = [&](TObject*, WORD) {
      char buf[64];
      int n = c.Receive(buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      if (n >= 0 || !report.empty()) return;
      try {
        c.PeerAddr();
      } catch (const ESocketException& e) {
        report = e.Message();
      }
      if (mode == kReconnectAfterIt) ConnectTo(c, second.Port());
    };
    ConnectTo(c, first.Port());
    ASSERT_TRUE(first.Accept(kDeadline));
    first.Write(ToBytes("hello"));
    ASSERT_TRUE(PumpUntil([&] { return got == "hello"; }, kDeadline));
    first.Reset();
    ASSERT_TRUE(PumpUntil([&] { return !report.empty(); }, kDeadline));
    ASSERT_NE(report.find(mode == kAsException ? "10057" : "error 10057"), std::string::npos) << report;
    if (mode == kReconnectAfterIt) {
      ASSERT_TRUE(second.Accept(kDeadline));
      ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
      EXPECT_EQ(log.Joined().find("closed "), std::string::npos) << "nothing told of the old session's end now";
    } else {
      EXPECT_TRUE(PumpUntil([&] { return Count(log.Lines, "closed 10054") > 0; }, kDeadline)) << log.Joined();
      PumpFor(0);
      EXPECT_EQ(Count(log.Lines, "closed 10054"), 1) << log.Joined();
      EXPECT_EQ(c.State(), wsClosed);
      ConnectTo(c, second.Port());
      ASSERT_TRUE(second.Accept(kDeadline));
      ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
    }
    second.Close();
    ASSERT_TRUE(PumpUntil([&] { return Count(log.Lines, "closed 0") > 0; }, kDeadline)) << log.Joined();
    EXPECT_EQ(Count(log.Lines, "closed 0"), 1) << log.Joined();
    EXPECT_EQ(c.State(), wsClosed);
  }
}

// A program that closes and connects again from the close's own events (OnChangeState to wsClosed, or
// OnSessionClosed): the close must not reset the new session away behind it, and that session's end is told.
TEST(Reentry, AConnectFromTheEventsOfAProgramsCloseKeepsTheNewSession) {
  for (bool fromSessionClosed : {true, false}) {
    SCOPED_TRACE(fromSessionClosed);
    PlainTcpServer first;
    PlainTcpServer second;
    TEventLog log;
    TTestSocket c(nullptr);
    log.Attach(c);
    bool again = false;
    auto reconnect = [&] {
      if (again) return;
      again = true;
      ConnectTo(c, second.Port());
    };
    if (fromSessionClosed) {
      c.OnSessionClosed = [&](TObject*, WORD e) {
        log.Lines.push_back("closed " + std::to_string(e));
        reconnect();
      };
    } else {
      c.OnChangeState = [&](TObject*, TSocketState, TSocketState n) {
        if (n == wsClosed) reconnect();
      };
    }
    ConnectTo(c, first.Port());
    ASSERT_TRUE(first.Accept(kDeadline));
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
    c.Close();
    ASSERT_TRUE(second.Accept(kDeadline)) << log.Joined();
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline)) << log.Joined();
    EXPECT_EQ(c.Addr(), "127.0.0.1");
    second.Close();
    ASSERT_TRUE(PumpUntil([&] { return Count(log.Lines, "closed 0") == 2; }, kDeadline)) << log.Joined();
    EXPECT_EQ(c.State(), wsClosed);
  }
}

// A paused socket that a handler of its own close opens again: nothing of the paused session may reach the new
// one, so a connect completes and a datagram listen hears what comes.
TEST(Reentry, APausedSocketOpenedAgainFromItsCloseHearsTheNewSession) {
  for (bool listenUdp : {false, true}) {
    SCOPED_TRACE(listenUdp);
    PlainTcpServer first;
    PlainTcpServer second;
    PlainUdp peer;
    std::string got;
    std::uint16_t udpPort = 0;
    TTestSocket c(nullptr);
    bool again = false;
    auto reopen = [&] {
      if (again) return;
      again = true;
      if (!listenUdp) return ConnectTo(c, second.Port());
      c.SetProto("udp");
      c.SetAddr("127.0.0.1");
      c.SetPort("0");
      c.Listen();
      udpPort = static_cast<std::uint16_t>(std::stoi(c.GetLocalPortText()));
    };
    if (listenUdp)
      c.OnChangeState = [&](TObject*, TSocketState, TSocketState n) {
        if (n == wsClosed) reopen();
      };
    else
      c.OnSessionClosed = [&](TObject*, WORD) { reopen(); };
    c.OnDataAvailable = [&](TObject*, WORD) { got += c.ReceiveStr(); };
    ConnectTo(c, first.Port());
    ASSERT_TRUE(first.Accept(kDeadline));
    ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
    c.Pause();
    c.Close();
    ASSERT_TRUE(again);
    EXPECT_FALSE(c.Paused);
    if (listenUdp) {
      peer.SendTo(udpPort, ToBytes("heard"));
      EXPECT_TRUE(PumpUntil([&] { return got == "heard"; }, kDeadline));
    } else {
      ASSERT_TRUE(second.Accept(kDeadline));
      EXPECT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
      second.Write(ToBytes("heard"));
      EXPECT_TRUE(PumpUntil([&] { return got == "heard"; }, kDeadline));
    }
  }
}

// A SOCKS server that resets the connection mid-negotiation, and a handler that closes from the failure's
// OnSessionConnected: the end is told once, with the reset's own error.
TEST(Reentry, ACloseFromTheSocksHangUpsConnectedEventCarriesTheResetsError) {
  PlainTcpServer server;
  TSocksLog log;
  TTestSocket c(nullptr);
  log.Attach(c);
  c.OnSessionConnected = [&](TObject*, WORD e) {
    log.Lines.push_back("connected " + std::to_string(e));
    if (e != 0) c.Close();
  };
  ThroughSocks(c, server);
  c.Connect();
  ASSERT_TRUE(server.Accept(kDeadline));
  ASSERT_TRUE(PumpUntil([&] { return log.Has("socks connected 0"); }, kDeadline));
  EXPECT_EQ(server.Read(3, kDeadline), B({5, 1, 0}));
  server.Reset();
  ASSERT_TRUE(PumpUntil([&] { return log.HasPrefix("closed"); }, kDeadline));
  PumpFor(0);
  EXPECT_EQ(log.Joined(), "socks connected 0, connected 20004, closed 10054");
  EXPECT_EQ(c.State(), wsClosed);
}

// A SOCKS connect opened while a session ends: from OnChangeState of a program's own close, and as a retry from
// the OnSessionConnected(20004) of a server that reset the negotiation. The old session's end is told once (with
// the reset's error there), and the new attempt negotiates instead of being let through unasked.
TEST(Reentry, ASocksConnectOpenedWhileASessionEndsNegotiates) {
  for (bool fromHangUp : {false, true}) {
    SCOPED_TRACE(fromHangUp);
    PlainTcpServer first;
    PlainTcpServer second;
    TSocksLog log;
    TTestSocket c(nullptr);
    log.Attach(c);
    bool again = false;
    auto retry = [&] {
      again = true;
      ThroughSocks(c, second);
      c.Connect();
    };
    if (fromHangUp) {
      c.OnSessionConnected = [&](TObject*, WORD e) {
        log.Lines.push_back("connected " + std::to_string(e));
        if (e == 0 || again) return;
        c.Close();
        retry();
      };
      ThroughSocks(c, first);
      c.Connect();
      ASSERT_TRUE(first.Accept(kDeadline));
      ASSERT_TRUE(PumpUntil([&] { return log.Has("socks connected 0"); }, kDeadline));
      EXPECT_EQ(first.Read(3, kDeadline), B({5, 1, 0}));
      first.Reset();
    } else {
      c.OnChangeState = [&](TObject*, TSocketState, TSocketState n) {
        if (n == wsClosed && !again) retry();
      };
      ConnectTo(c, first.Port());
      ASSERT_TRUE(first.Accept(kDeadline));
      ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
      c.Close();
    }
    ASSERT_TRUE(PumpUntil([&] { return Count(log.Lines, "socks connected 0") == (fromHangUp ? 2 : 1); }, kDeadline))
        << log.Joined();
    ASSERT_TRUE(second.Accept(kDeadline));
    EXPECT_EQ(second.Read(3, kDeadline), B({5, 1, 0})) << log.Joined();
    EXPECT_EQ(log.Joined(), fromHangUp ? "socks connected 0, connected 20004, closed 10054, socks connected 0"
                                       : "connected 0, closed 0, socks connected 0");
    EXPECT_EQ(c.State(), wsConnected) << "waiting for the server's answer";
  }
}

// Dup onto an open socket only swaps the handle: a pause the program set holds until it resumes.
TEST(Reentry, APauseSurvivesADupOntoAnOpenSocket) {
  PlainTcpServer first;
  TTestSocket listener(nullptr);
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  listener.Listen();
  std::string got;
  bool dupped = false;
  TTestSocket c(nullptr);
  c.OnDataAvailable = [&](TObject*, WORD) { got += c.ReceiveStr(); };
  listener.OnSessionAvailable = [&](TObject*, WORD) {
    c.Dup(listener.Accept());
    dupped = true;
  };
  ConnectTo(c, first.Port());
  ASSERT_TRUE(first.Accept(kDeadline));
  ASSERT_TRUE(PumpUntil([&] { return c.State() == wsConnected; }, kDeadline));
  c.Pause();
  TTestSocket peer(nullptr);
  ConnectTo(peer, static_cast<std::uint16_t>(std::stoi(listener.GetLocalPortText())));
  ASSERT_TRUE(PumpUntil([&] { return dupped && peer.State() == wsConnected; }, kDeadline));
  EXPECT_TRUE(c.Paused);
  c.Resume();
  peer.SendStr("after");
  EXPECT_TRUE(PumpUntil([&] { return got == "after"; }, kDeadline));
}
