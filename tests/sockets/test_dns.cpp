// Asynchronous name and address lookups.
#include <gtest/gtest.h>

#include "helpers.h"

namespace {

struct Lookup {
  TTestSocket S{nullptr};
  std::vector<int> Done;
  Lookup() {
    S.OnDnsLookupDone = [this](TObject* sender, WORD e) {
      EXPECT_EQ(sender, &S);
      Done.push_back(e);
    };
  }
  bool Wait(std::size_t n = 1) {
    return PumpUntil([&] { return Done.size() >= n; });
  }
};

}  // namespace

TEST(DnsLookup, ADottedAddressAnswersAtOnce) {
  Lookup l;
  l.S.DnsLookup("192.168.1.10");
  EXPECT_EQ(l.Done, std::vector<int>{0}) << "before DnsLookup returns";
  EXPECT_EQ(l.S.DnsResult(), "192.168.1.10");
  EXPECT_EQ(l.S.DnsResultList()->Count(), 0);
}

TEST(DnsLookup, ANameFromTheHostsFile) {
  Lookup l;
  l.S.DnsLookup("localhost");
  EXPECT_TRUE(l.Done.empty()) << "the answer comes as a message";
  ASSERT_TRUE(l.Wait());
  EXPECT_EQ(l.Done, std::vector<int>{0});
  EXPECT_EQ(l.S.DnsResult(), "127.0.0.1");
  ASSERT_GE(l.S.DnsResultList()->Count(), 1);
  EXPECT_EQ(l.S.DnsResultList()->Strings(0), "127.0.0.1");
}

TEST(DnsLookup, TheBroadcastTextIsLookedUpAsAName) {
  if (!PrivateNetwork()) GTEST_SKIP() << "a lookup of an unknown name needs a private network (root)";
  Lookup l;
  l.S.DnsLookup("255.255.255.255");
  EXPECT_TRUE(l.Done.empty());
  ASSERT_TRUE(l.Wait());
}

TEST(DnsLookup, ANameThatDoesNotResolve) {
  if (!PrivateNetwork()) GTEST_SKIP() << "a lookup of an unknown name needs a private network (root)";
  Lookup l;
  l.S.DnsResultList()->Add("stale");
  l.S.DnsLookup("no-such-host.invalid");
  EXPECT_EQ(l.S.DnsResultList()->Count(), 0) << "a lookup with a text empties the results first";
  ASSERT_TRUE(l.Wait());
  ASSERT_EQ(l.Done.size(), 1u);
  EXPECT_NE(l.Done[0], 0);
  EXPECT_EQ(l.S.DnsResult(), "");
}

TEST(DnsLookup, AnAddressLookupGivesTheHostName) {
  Lookup l;
  l.S.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(l.Wait());
  EXPECT_EQ(l.Done, std::vector<int>{0});
  EXPECT_EQ(l.S.DnsResult(), "localhost");
  ASSERT_EQ(l.S.DnsResultList()->Count(), 1);
  EXPECT_EQ(l.S.DnsResultList()->Strings(0), "localhost");
  // A text far longer than an address is cut, never written past the buffer. Its answer is awaited, not
  // cancelled: a cancel that comes after the reply has been posted is refused (10037), which is a race.
  l.S.ReverseDnsLookup(std::string(1000, '1'));
  ASSERT_TRUE(l.Wait(2));
}

TEST(DnsLookup, CancelBeforeTheReplyFiresInterruptedAndTheLateAnswerChangesNothing) {
  Lookup l;
  l.S.CancelDnsLookup();
  EXPECT_TRUE(l.Done.empty()) << "nothing pending: nothing happens";
  l.S.DnsLookup("localhost");
  l.S.CancelDnsLookup();
  EXPECT_EQ(l.Done, std::vector<int>{WSAEINTR}) << "before CancelDnsLookup returns";
  PumpFor(200);
  EXPECT_EQ(l.Done, std::vector<int>{WSAEINTR});
  EXPECT_EQ(l.S.DnsResult(), "");
}

TEST(DnsLookup, ANewLookupCancelsThePendingOneSilently) {
  Lookup l;
  l.S.DnsLookup("localhost");
  l.S.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(l.Wait());
  PumpFor(200);
  EXPECT_EQ(l.Done, std::vector<int>{0});
  EXPECT_EQ(l.S.DnsResult(), "localhost");
}

TEST(DnsLookup, AnAnswerForAnotherRequestIsIgnored) {
  Lookup l;
  l.S.ReverseDnsLookup("127.0.0.1");
  SendMessageA(l.S.NotifyWindow, WM_ASYNCGETHOSTBYADDR, 12345, 0);
  SendMessageA(l.S.NotifyWindow, WM_ASYNCGETHOSTBYNAME, 12345, 0);
  EXPECT_TRUE(l.Done.empty());
  ASSERT_TRUE(l.Wait());
  EXPECT_EQ(l.Done, std::vector<int>{0});
}

TEST(DnsLookup, AnEmptyTextRaisesOrWithOnErrorFiresInvalidArgument) {
  Lookup l;
  EXPECT_EQ(ErrorOf([&] { l.S.DnsLookup(""); }), "DNS lookup: invalid host name.");
  EXPECT_TRUE(l.Done.empty());
  l.S.OnError = [](TObject*) {};
  l.S.ReverseDnsLookup("");
  EXPECT_EQ(l.Done, std::vector<int>{WSAEINVAL});
}

TEST(DnsLookup, DestroyingWithALookupPendingFiresNothing) {
  std::vector<int> done;
  {
    TTestSocket s(nullptr);
    s.OnDnsLookupDone = [&](TObject*, WORD e) { done.push_back(e); };
    s.DnsLookup("localhost");
  }
  PumpFor(100);
  EXPECT_TRUE(done.empty());
}
