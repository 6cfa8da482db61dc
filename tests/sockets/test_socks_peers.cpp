// SOCKS negotiations with real servers on loopback, started by the tests themselves: dante for versions 4 and 5,
// microsocks for version 5 with user name and password, in front of a local echo server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "helpers.h"

namespace {

constexpr const char* kDante = "/usr/sbin/danted";
constexpr const char* kMicrosocks = "/usr/bin/microsocks";

bool Installed(const char* path) { return access(path, X_OK) == 0; }

std::string FileText(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A dante server on 127.0.0.1 that relays without authentication, by the given SOCKS rules.
struct Dante {
  TempDir Dir;
  std::uint16_t Port = UnusedTcpPort();
  std::unique_ptr<TestDaemon> Daemon;

  explicit Dante(const std::string& rules = "socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }") {
    std::string conf = "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(Port) +
                       "\nexternal: lo\nsocksmethod: none\nclientmethod: none\n";
    if (geteuid() == 0) conf += "user.privileged: root\nuser.unprivileged: nobody\n";
    conf += "client pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n" + rules + "\n";
    std::string confPath = Dir.Write("danted.conf", conf);
    Daemon = std::make_unique<TestDaemon>(std::vector<std::string>{kDante, "-f", confPath, "-N", "1"}, Log());
  }
  std::string Log() const { return Dir.Path() + "/danted.log"; }
  bool Ready() const { return Daemon->WaitForPort(Port, kPatienceMs); }
};

// A microsocks server on 127.0.0.1 that asks for the user name and password given.
struct Microsocks {
  TempDir Dir;
  std::uint16_t Port = UnusedTcpPort();
  std::unique_ptr<TestDaemon> Daemon;

  Microsocks(const std::string& user, const std::string& password) {
    Daemon = std::make_unique<TestDaemon>(
        std::vector<std::string>{kMicrosocks, "-i", "127.0.0.1", "-p", std::to_string(Port), "-u", user, "-P",
                                 password},
        Dir.Path() + "/microsocks.log");
  }
  bool Ready() const { return Daemon->WaitForPort(Port, kPatienceMs); }
};

void Through(TTestSocket& c, std::uint16_t socksPort, const std::string& level, std::uint16_t destination) {
  c.SetSocksServer("127.0.0.1");
  c.SetSocksPort(std::to_string(socksPort));
  c.SetSocksLevel(level);
  c.SetAddr("127.0.0.1");
  c.SetPort(std::to_string(destination));
}

void UseAccount(TTestSocket& c, const std::string& user, const std::string& password) {
  c.SetSocksAuthentication(socksAuthenticateUsercode);
  c.SetSocksUsercode(user);
  c.SetSocksPassword(password);
}

// Connects and waits until the session is connected or closed.
void ConnectAndWait(TTestSocket& c, TSocksLog& log) {
  log.Attach(c);
  c.Connect();
  EXPECT_TRUE(PumpUntil([&] { return log.HasPrefix("connected") || log.HasPrefix("closed"); }))
      << log.Joined();
}

void ExpectEcho(TTestSocket& c, TSocksLog& log, const std::string& text) {
  c.SendStr(text);
  EXPECT_TRUE(PumpUntil([&] { return log.Data.size() >= text.size(); }));
  EXPECT_EQ(log.Data, text);
}

#define REQUIRE_PROGRAM(path) \
  if (!Installed(path)) GTEST_SKIP() << path << " is not installed (see tools/packages)"

}  // namespace

TEST(SocksPeers, DanteRelaysVersions4And5BothWaysAndRefusedDestinationsFail) {
  REQUIRE_PROGRAM(kDante);
  EchoServer echo;
  Dante dante;
  ASSERT_TRUE(dante.Ready()) << FileText(dante.Log());
  for (const char* level : {"4", "5"}) {
    SCOPED_TRACE(level);
    TTestSocket c(nullptr);
    TSocksLog log;
    Through(c, dante.Port, level, echo.Port());
    ConnectAndWait(c, log);
    EXPECT_EQ(log.Joined(), "socks connected 0, connected 0");
    ExpectEcho(c, log, std::string("through socks ") + level + " " + Pattern(5000));
    if (std::string(level) == "5") {
      EXPECT_EQ(c.SocksBindAddr, "127.0.0.1");
    }
    c.Close();
    EXPECT_EQ(c.SocksServer(), "") << "the close switched SOCKS off";
  }
  struct Refusal {
    const char* Level;
    const char* Expected;
  };
  for (const Refusal& r : {Refusal{"5", "error 20008 connection refused, connected 20008, closed 20008"},
                           Refusal{"4", "error 20016 request rejected or failed, connected 20016, closed 20016"}}) {
    SCOPED_TRACE(r.Level);
    TTestSocket c(nullptr);
    TSocksLog log;
    Through(c, dante.Port, r.Level, UnusedTcpPort());
    ConnectAndWait(c, log);
    EXPECT_EQ(log.Joined(), std::string("socks connected 0, ") + r.Expected);
    EXPECT_EQ(c.State(), wsClosed);
  }
}

TEST(SocksPeers, DanteRefusesByItsRules) {
  REQUIRE_PROGRAM(kDante);
  Dante dante("socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }");
  ASSERT_TRUE(dante.Ready()) << FileText(dante.Log());
  EchoServer echo;
  TTestSocket c(nullptr);
  TSocksLog log;
  Through(c, dante.Port, "5", echo.Port());
  ConnectAndWait(c, log);
  EXPECT_EQ(log.Joined(),
            "socks connected 0, error 20005 connection not allowed by ruleset, connected 20005, closed 20005");
}

TEST(SocksPeers, MicrosocksTakesTheRightPasswordAndRefusesAWrongOneOrNone) {
  REQUIRE_PROGRAM(kMicrosocks);
  EchoServer echo;
  Microsocks ms("tarvo", "s3cret");
  ASSERT_TRUE(ms.Ready());
  {
    TTestSocket c(nullptr);
    TSocksLog log;
    Through(c, ms.Port, "5", echo.Port());
    UseAccount(c, "tarvo", "s3cret");
    ConnectAndWait(c, log);
    EXPECT_EQ(log.Joined(), "socks connected 0, auth 0, auth 1, connected 0");
    ExpectEcho(c, log, "authenticated " + Pattern(3000));
  }
  {
    TTestSocket c(nullptr);
    TSocksLog log;
    Through(c, ms.Port, "5", echo.Port());
    UseAccount(c, "tarvo", "wrong");
    ConnectAndWait(c, log);
    EXPECT_EQ(log.Joined(),
              "socks connected 0, auth 0, error 20015 socks authentication failed, connected 20015, closed 20015");
  }
  {
    TTestSocket c(nullptr);
    TSocksLog log;
    Through(c, ms.Port, "5", echo.Port());
    ConnectAndWait(c, log);
    EXPECT_EQ(log.Joined(),
              "socks connected 0, error 20003 authentification method not acceptable, connected 20003, closed 20003");
  }
  {
    TTestSocket c(nullptr);
    TSocksLog log;
    Through(c, ms.Port, "5", UnusedTcpPort());
    UseAccount(c, "tarvo", "s3cret");
    ConnectAndWait(c, log);
    EXPECT_EQ(log.Joined(),
              "socks connected 0, auth 0, auth 1, error 20008 connection refused, connected 20008, closed 20008");
  }
}

// A server that goes away while a negotiation runs ends the session without OnSessionConnected; during the user
// name and password step the application also learns that the authentication failed.
TEST(SocksPeers, AServerThatDiesMidNegotiationClosesTheSession) {
  REQUIRE_PROGRAM(kMicrosocks);
  REQUIRE_PROGRAM(kDante);
  EchoServer echo;
  {
    Microsocks ms("tarvo", "s3cret");
    ASSERT_TRUE(ms.Ready());
    TTestSocket c(nullptr);
    TSocksLog log;
    Through(c, ms.Port, "5", echo.Port());
    UseAccount(c, "tarvo", "s3cret");
    log.Attach(c);
    auto record = c.OnSocksAuthState;
    c.OnSocksAuthState = [&](TObject* sender, TSocksAuthState state) {
      record(sender, state);
      if (state == socksAuthStarting) ms.Daemon->Kill();
    };
    c.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.HasPrefix("closed"); })) << log.Joined();
    ASSERT_GE(log.Lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.Lines.begin(), log.Lines.begin() + 3),
              (std::vector<std::string>{"socks connected 0", "auth 0", "auth 2"}));
    EXPECT_EQ(log.Lines[3], "connected 20004") << log.Joined();
    EXPECT_EQ(c.State(), wsClosed);
  }
  {
    Dante dante;
    ASSERT_TRUE(dante.Ready()) << FileText(dante.Log());
    TTestSocket c(nullptr);
    TSocksLog log;
    Through(c, dante.Port, "5", echo.Port());
    log.Attach(c);
    c.OnSocksConnected = [&](TObject*, WORD e) {
      log.Lines.push_back("socks connected " + std::to_string(e));
      dante.Daemon->Kill();
    };
    c.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.HasPrefix("closed"); })) << log.Joined();
    EXPECT_EQ(log.Lines.front(), "socks connected 0");
    EXPECT_EQ(log.Lines.at(1), "connected 20004") << log.Joined();
    EXPECT_EQ(c.State(), wsClosed);
    EXPECT_EQ(c.SocksPhase, socksPhaseIdle);
  }
}

// The wait keeps the thread's messages flowing, so the handler that ends it runs inside it.
TEST(SocksPeers, SynchronizeWaitsForTheSessionThroughDante) {
  REQUIRE_PROGRAM(kDante);
  EchoServer echo;
  Dante dante;
  ASSERT_TRUE(dante.Ready()) << FileText(dante.Log());
  TTestSocket c(nullptr);
  bool done = true;  // left set by an earlier wait: Synchronize clears it first
  int steps = 0;
  c.OnSessionConnected = [&](TObject*, WORD e) {
    EXPECT_EQ(e, 0);
    done = true;
  };
  Through(c, dante.Port, "5", echo.Port());
  EXPECT_EQ(c.Synchronize(
                [&] {
                  ++steps;
                  EXPECT_FALSE(done);
                  c.Connect();
                },
                done),
            0);
  EXPECT_EQ(steps, 1);
  EXPECT_EQ(c.State(), wsConnected);
  EXPECT_EQ(c.SocksPhase, socksPhaseIdle);
}
