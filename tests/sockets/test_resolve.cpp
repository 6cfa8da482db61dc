// Resolution of host, port and protocol texts, and the property setters that keep the assigned and resolved
// marks.
#include <gtest/gtest.h>

#include <cstring>

#include "helpers.h"

namespace {

ULONG Addr(int a, int b, int c, int d) {
  std::uint8_t bytes[4] = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(c),
                           static_cast<std::uint8_t>(d)};
  ULONG v;
  std::memcpy(&v, bytes, 4);
  return v;
}

}  // namespace

TEST(ResolveHost, DottedAddressesAndNames) {
  EXPECT_EQ(WSocketResolveHost("10.0.0.5"), Addr(10, 0, 0, 5));
  EXPECT_EQ(WSocketResolveHost("  10.0.0.5  "), Addr(10, 0, 0, 5));
  EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(WSocketResolveHost(" 255.255.255.255 "), 0xFFFFFFFFu);
  EXPECT_EQ(WSocketResolveHost("localhost"), Addr(127, 0, 0, 1)) << "from the hosts file";
}

TEST(ResolveHost, BadTexts) {
  EXPECT_EQ(ErrorOf([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
  std::string tooLong(257, 'a');
  EXPECT_EQ(ErrorOf([&] { WSocketResolveHost(tooLong); }),
            "WSocketResolveHost: '" + tooLong + "' Invalid Hostname.");
  // 256 characters pass the length test and go to the host database, which knows no such name.
  if (!PrivateNetwork()) GTEST_SKIP() << "a lookup of an unknown name needs a private network (root)";
  std::string longest(256, 'a');
  EXPECT_EQ(ErrorOf([&] { WSocketResolveHost(longest); }).rfind("WSocketResolveHost: Cannot convert host address '" +
                                                                  longest + "', Error #", 0),
            0u);
  std::string unknown = ErrorOf([] { WSocketResolveHost("no-such-host.invalid"); });
  EXPECT_EQ(unknown.rfind("WSocketResolveHost: Cannot convert host address 'no-such-host.invalid', Error #1100", 0),
            0u)
      << unknown;
  // Not dotted (a group above 255), so it is a name, and no host has it.
  EXPECT_NE(ErrorOf([] { WSocketResolveHost("256.0.0.1"); }).find("Cannot convert host address '256.0.0.1'"),
            std::string::npos);
}

TEST(ResolvePort, NumbersServicesAndBadTexts) {
  EXPECT_EQ(WSocketResolvePort("7710", "udp"), 7710);
  EXPECT_EQ(WSocketResolvePort("7710", "nonsense"), 7710) << "a number needs no lookup";
  EXPECT_EQ(WSocketResolvePort("80x", "tcp"), 80);
  EXPECT_EQ(WSocketResolvePort("70000", "tcp"), 4464);
  EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
  // Not a digit first: trimmed, then looked up as the service name 80, which does not exist.
  EXPECT_EQ(ErrorOf([] { WSocketResolvePort(" 80", "tcp"); }).rfind("WSocketResolvePort: Cannot convert port ' 80'", 0),
            0u);
  EXPECT_EQ(WSocketResolvePort("http", ""), 80) << "no protocol: any";
  EXPECT_EQ(ErrorOf([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(ErrorOf([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(ErrorOf([] { WSocketResolvePort(std::string(31, '1'), "tcp"); }), "");
  std::string bad = ErrorOf([] { WSocketResolvePort("nosuchservice", "tcp"); });
  EXPECT_EQ(bad.rfind("WSocketResolvePort: Cannot convert port 'nosuchservice', Error #", 0), 0u) << bad;
}

TEST(ResolveProto, NumbersNamesAndBadTexts) {
  EXPECT_EQ(WSocketResolveProto("17"), 17);
  EXPECT_EQ(WSocketResolveProto(" 6 "), 6);
  EXPECT_EQ(WSocketResolveProto("udp"), 17);
  EXPECT_EQ(WSocketResolveProto("UDP"), 17) << "the protocol database knows the upper-case alias";
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(ErrorOf([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
  EXPECT_EQ(ErrorOf([] { WSocketResolveProto(std::string(32, 'u')); }), "WSocketResolveProto: Invalid Protocol.");
  std::string bad = ErrorOf([] { WSocketResolveProto(" xyz "); });
  EXPECT_EQ(bad.rfind("WSocketResolveProto: Cannot convert protocol 'xyz', Error #", 0), 0u) << bad;
  EXPECT_EQ(ErrorOf([] { WSocketResolveProto("   "); }).rfind("WSocketResolveProto: Cannot convert protocol ''", 0),
            0u);
}

TEST(Properties, AddrPortProtoKeepTheirMarks) {
  TTestSocket s(nullptr);
  s.SetAddr("  10.0.0.5  ");
  EXPECT_EQ(s.Addr(), "10.0.0.5");
  EXPECT_TRUE(s.AddrAssigned);
  s.SetPort(" 7708");
  EXPECT_EQ(s.Port(), "7708");
  s.SetAddr("   ");
  EXPECT_EQ(s.Addr(), "");
  EXPECT_FALSE(s.AddrAssigned);
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No IP Address Specified");
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_TRUE(s.ProtoAssigned);
}

TEST(Properties, SettersRefuseWhileOpenUnlessTheTextIsUnchanged) {
  TTestSocket s(nullptr);
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort("9");
  s.Connect();
  ASSERT_EQ(s.State(), wsConnected);
  EXPECT_EQ(ErrorOf([&] { s.SetAddr("127.0.0.1"); }), "") << "the same text while connected: nothing happens";
  EXPECT_EQ(ErrorOf([&] { s.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
  EXPECT_EQ(s.Addr(), "127.0.0.1");
  EXPECT_EQ(ErrorOf([&] { s.SetPort("10"); }), "Cannot change Port if not closed");
  EXPECT_EQ(ErrorOf([&] { s.SetProto("tcp"); }), "Cannot change Proto if not closed");
  EXPECT_EQ(ErrorOf([&] { s.SetLocalPort("0"); }), "Cannot change LocalPort if not closed");
  EXPECT_EQ(ErrorOf([&] { s.SetLocalAddr("0.0.0.0"); }), "Cannot change LocalAddr if not closed");
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  s.SetPort("10");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.Port(), "9");
}

TEST(Properties, CloseResetsTheDefaultsAndClearsTheMarks) {
  TTestSocket s(nullptr);
  s.SetProto("UDP");
  s.SetAddr("127.0.0.1");
  s.SetPort("9");
  s.SetLocalAddr("127.0.0.1");
  s.Connect();
  ASSERT_EQ(s.State(), wsConnected);
  EXPECT_NE(s.LocalPort(), "0") << "the bound port is read back";
  s.Close();
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
  EXPECT_EQ(s.LocalPort(), "0");
  EXPECT_EQ(s.Addr(), "127.0.0.1");
  EXPECT_EQ(s.Port(), "9");
  EXPECT_FALSE(s.AddrAssigned);
  EXPECT_FALSE(s.PortAssigned);
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No Port Specified");
  s.SetPort("9");  // the same text assigns it again
  EXPECT_TRUE(s.PortAssigned);
}

TEST(Properties, LocalAddrAndLocalPort) {
  TTestSocket s(nullptr);
  s.SetLocalAddr("");
  EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
  s.SetLocalAddr("127.000.0.1");
  EXPECT_EQ(s.LocalAddr(), "127.0.0.1") << "normalised";
  EXPECT_EQ(ErrorOf([&] { s.SetLocalAddr("255.255.255.255"); }), "SetLocalAddr(): Invalid IP address");
  EXPECT_EQ(ErrorOf([&] { s.SetLocalAddr("abc"); }), "SetLocalAddr(): Invalid IP address");
  EXPECT_EQ(s.LocalAddr(), "127.0.0.1");
  s.SetLocalPort(" 80");
  EXPECT_EQ(s.LocalPort(), " 80") << "stored untrimmed";
  EXPECT_FALSE(s.LocalPortResolved);
}

TEST(Properties, SendFlagsAndPeerNames) {
  TTestSocket s(nullptr);
  EXPECT_EQ(s.SendFlags(), wsSendNormal);
  s.SetSendFlags(wsSendUrgent);
  EXPECT_EQ(s.SendFlagsValue, 1);
  EXPECT_EQ(s.SendFlags(), wsSendUrgent);
  EXPECT_EQ(ErrorOf([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(7)); }), "Invalid SendFlags");
  EXPECT_EQ(s.SendFlagsValue, 1);
  s.SendFlagsValue = 5;
  EXPECT_EQ(ErrorOf([&] { s.SendFlags(); }), "Invalid internal SendFlags");
  s.OnError = [](TObject*) {};
  EXPECT_EQ(s.SendFlags(), wsSendNormal);
  s.OnError = nullptr;
  EXPECT_EQ(s.PeerAddr(), "error");
  EXPECT_EQ(s.PeerPort(), "error");
  EXPECT_EQ(s.GetLocalPortText(), "error");
  sockaddr_in name{};
  EXPECT_EQ(s.GetPeerName(name, sizeof name), -1);
}
