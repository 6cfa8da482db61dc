// What crosses a network, on the simulated LAN: broadcasts between hosts, and the own address of a host. Each
// host's part runs in a child forked onto that host; the test process itself never starts the socket library,
// so the children start it afresh.
#include <cstdio>
#include <functional>

#include "helpers.h"
#include "lan_gtest.h"
#include "sockets/LocalIP.h"

namespace {

int Fail(const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  return 1;
}

// Listens for one datagram on UDP port 7712 with a TWSocket, as the sender's announcement socket does.
int ReceiveOneDatagram(ReadyPipe& ready, const std::string& expected) {
  TWSocket s(nullptr);
  std::string got;
  s.OnDataAvailable = [&](TObject*, WORD) {
    if (std::string d = s.ReceiveStr(); !d.empty()) got = d;
  };
  s.SetAddr("0.0.0.0");
  s.SetPort("7712");
  s.SetProto("udp");
  s.Listen();
  if (s.State() != wsConnected) return Fail("listen failed");
  ready.Signal();
  if (!PumpUntil([&] { return !got.empty(); })) return Fail("nothing arrived");
  return got == expected ? 0 : Fail("got " + got);
}

class SocketLan : public tarvo::lan::TLanTest {
 protected:
  SocketLan() : TLanTest(3, /*twoAddressHost=*/2) {}
};

}  // namespace

TEST_F(SocketLan, ABroadcastConnectReachesEveryOtherHost) {
  ReadyPipe ready2, ready3;
  pid_t host2 = Lan().Fork(2, [&] { return ReceiveOneDatagram(ready2, "login_mp4_cw"); });
  pid_t host3 = Lan().Fork(3, [&] { return ReceiveOneDatagram(ready3, "login_mp4_cw"); });
  ASSERT_TRUE(ready2.Wait(kPatienceMs));
  ASSERT_TRUE(ready3.Wait(kPatienceMs));
  int sent = Lan().RunFunction(1, [] {
    TWSocket s(nullptr);
    s.SetProto("UDP");
    s.SetAddr("255.255.255.255");
    s.SetPort("7712");
    s.Connect();
    if (s.State() != wsConnected) return Fail("connect failed");
    if (s.SendStr("login_mp4_cw") != 12) return Fail("send failed");
    PumpFor(50);
    return 0;
  });
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(Lan().Wait(host2), 0);
  EXPECT_EQ(Lan().Wait(host3), 0);
}

TEST_F(SocketLan, ASubnetBroadcastGetsNoBroadcastPermission) {
  int status = Lan().RunFunction(1, [] {
    TWSocket s(nullptr);
    s.SetProto("udp");
    s.SetAddr("10.77.0.255");
    s.SetPort("7712");
    s.Connect();
    std::string error = ErrorOf([&] { s.SendStr("x"); });
    return error == "Error 10013 in function TryToSend failed\r\nPermission denied" ? 0 : Fail(error);
  });
  EXPECT_EQ(status, 0);
}

TEST_F(SocketLan, GetLocalIPGivesTheHostsOwnAddress) {
  std::string expected = Lan().Address(1);
  EXPECT_EQ(Lan().RunFunction(1, [&] {
    std::string got = GetLocalIP();
    return got == expected ? 0 : Fail("got '" + got + "'");
  }),
            0);
}

TEST_F(SocketLan, GetLocalIPOfAHostWithTwoAddressesGivesTheSecond) {
  ASSERT_EQ(Lan().Addresses(2).size(), 2u);
  std::string expected = Lan().Addresses(2)[1];
  EXPECT_EQ(Lan().RunFunction(2, [&] {
    std::string got = GetLocalIP();
    return got == expected ? 0 : Fail("got '" + got + "'");
  }),
            0);
}

TEST_F(SocketLan, GetLocalIPOfAHostWhoseNameDoesNotResolveIsEmpty) {
  EXPECT_EQ(Lan().RunFunction(1, [] {
    if (!RenameHostPrivately("nowhere")) return Fail("cannot rename the host");
    std::string got = GetLocalIP();
    return got.empty() ? 0 : Fail("got '" + got + "'");
  }),
            0);
}
