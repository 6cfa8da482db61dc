// Name lookups, synchronous and asynchronous, against the test's own host database.
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "private_hosts.h"
#include "testutil.h"

using namespace wstest;

namespace {

class Lookups : public TWinsock {
 protected:
  void SetUp() override {
    if (const char* why = PrivateHostsMissing()) GTEST_SKIP() << "private host database: " << why;
    TWinsock::SetUp();
  }
  TNotes Notes;
};

std::vector<std::string> Addresses(const hostent* h) {
  std::vector<std::string> out;
  for (char** a = h->h_addr_list; *a; ++a) {
    in_addr v;
    std::memcpy(&v, *a, 4);
    out.push_back(inet_ntoa(v));
  }
  return out;
}

TEST_F(Lookups, HostsKeepTheDatabaseOrder) {
  hostent* h = gethostbyname("multi");
  ASSERT_NE(h, nullptr) << Err();
  EXPECT_STREQ(h->h_name, "multi");
  EXPECT_EQ(h->h_addrtype, AF_INET);
  EXPECT_EQ(h->h_length, 4);
  EXPECT_EQ(Addresses(h), (std::vector<std::string>{"10.9.9.2", "10.9.9.1"}));
  ASSERT_NE(h->h_aliases[0], nullptr);
  EXPECT_STREQ(h->h_aliases[0], "multi-alias");

  EXPECT_EQ(gethostbyname("nowhere"), nullptr);
  EXPECT_EQ(Err(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(gethostbyname(nullptr), nullptr);
  EXPECT_EQ(Err(), WSAEFAULT);
}

TEST_F(Lookups, ServicesAndProtocols) {
  servent* s = getservbyname("http", "tcp");
  ASSERT_NE(s, nullptr) << Err();
  EXPECT_EQ(s->s_port, static_cast<short>(htons(80)));
  EXPECT_STREQ(s->s_proto, "tcp");
  EXPECT_NE(getservbyname("domain", nullptr), nullptr);  // any protocol
  EXPECT_EQ(getservbyname("no-such-service", "udp"), nullptr);
  EXPECT_EQ(Err(), WSANO_DATA);

  protoent* p = getprotobyname("udp");
  ASSERT_NE(p, nullptr) << Err();
  EXPECT_EQ(p->p_proto, 17);
  EXPECT_EQ(getprotobyname("no-such-protocol"), nullptr);
  EXPECT_EQ(Err(), WSANO_DATA);
}

TEST_F(Lookups, ResultsBelongToTheCallingThread) {
  hostent* mine = gethostbyname("multi");
  ASSERT_NE(mine, nullptr);
  std::thread([&] {
    hostent* theirs = gethostbyname("localhost");
    ASSERT_NE(theirs, nullptr);
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(Addresses(theirs), (std::vector<std::string>{"127.0.0.1"}));
  }).join();
  EXPECT_STREQ(mine->h_name, "multi");
  EXPECT_EQ(Addresses(mine).size(), 2u);
}

TEST_F(Lookups, AsyncReplyLaysTheEntryOutInTheCallersBuffer) {
  alignas(8) char storage[MAXGETHOSTSTRUCT + 8];
  char* buf = storage + 3;  // an odd start: the entry inside must still be aligned
  HANDLE h = WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, "multi", buf, MAXGETHOSTSTRUCT);
  ASSERT_NE(h, nullptr) << Err();
  EXPECT_LE(reinterpret_cast<std::uintptr_t>(h), 0xFFFFFFFFu);
  auto n = Notes.Next(static_cast<SOCKET>(reinterpret_cast<std::uintptr_t>(h)), kPatienceMs, WM_LOOKUP);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->Error, 0);  // high half: the error
  WORD length = n->Event;  // low half: the length used
  EXPECT_GT(length, sizeof(hostent));
  EXPECT_LE(length, MAXGETHOSTSTRUCT);

  auto inside = [&](const void* p) { return p >= buf && p < buf + length; };
  char* start = buf + ((8 - reinterpret_cast<std::uintptr_t>(buf) % 8) % 8);
  const hostent* e = reinterpret_cast<const hostent*>(start);
  ASSERT_TRUE(inside(e));
  EXPECT_TRUE(inside(e->h_name));
  EXPECT_TRUE(inside(e->h_addr_list));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(e->h_addr_list) % alignof(char*), 0u);
  EXPECT_STREQ(e->h_name, "multi");
  EXPECT_EQ(Addresses(e), (std::vector<std::string>{"10.9.9.2", "10.9.9.1"}));
}

TEST_F(Lookups, AsyncReplyForAShortBufferTellsTheLengthNeeded) {
  char storage[64];
  std::memset(storage, '#', sizeof storage);
  HANDLE h = WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, "multi", storage, 16);
  ASSERT_NE(h, nullptr);
  auto n = Notes.Next(static_cast<SOCKET>(reinterpret_cast<std::uintptr_t>(h)), kPatienceMs, WM_LOOKUP);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->Error, WSAENOBUFS);
  EXPECT_GT(n->Event, 16);
  for (char c : storage) EXPECT_EQ(c, '#');  // nothing written

  HANDLE bad = WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, "nowhere", storage, sizeof storage);
  ASSERT_NE(bad, nullptr);
  n = Notes.Next(static_cast<SOCKET>(reinterpret_cast<std::uintptr_t>(bad)), kPatienceMs, WM_LOOKUP);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->Error, WSAHOST_NOT_FOUND);
}

TEST_F(Lookups, AsyncByAddress) {
  alignas(8) char buf[MAXGETHOSTSTRUCT];
  ULONG addr = inet_addr("127.0.0.1");
  HANDLE h =
      WSAAsyncGetHostByAddr(Notes.Wnd, WM_LOOKUP, reinterpret_cast<const char*>(&addr), 4, AF_INET, buf, sizeof buf);
  ASSERT_NE(h, nullptr) << Err();
  auto n = Notes.Next(static_cast<SOCKET>(reinterpret_cast<std::uintptr_t>(h)), kPatienceMs, WM_LOOKUP);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->Error, 0);
  EXPECT_STREQ(reinterpret_cast<hostent*>(buf)->h_name, "localhost");
}

TEST_F(Lookups, NoReplyFollowsASuccessfulCancel) {
  int cancelled = 0, completed = 0;
  for (int i = 0; i < 40; ++i) {
    alignas(8) char buf[MAXGETHOSTSTRUCT];
    HANDLE h = WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, "multi", buf, sizeof buf);
    ASSERT_NE(h, nullptr);
    if (i % 2) Sleep(1);
    auto id = static_cast<SOCKET>(reinterpret_cast<std::uintptr_t>(h));
    if (WSACancelAsyncRequest(h) == 0) {
      ++cancelled;
      EXPECT_TRUE(Notes.Drain(id, 30, WM_LOOKUP).empty()) << "a reply after a successful cancel";
    } else {
      EXPECT_EQ(Err(), WSAEALREADY);
      ++completed;
      EXPECT_TRUE(Notes.Next(id, kPatienceMs, WM_LOOKUP)) << "a lookup that could not be cancelled never replied";
    }
    EXPECT_EQ(WSACancelAsyncRequest(h), SOCKET_ERROR);  // gone either way
  }
  EXPECT_GT(cancelled, 0);
  EXPECT_EQ(cancelled + completed, 40);
}

TEST_F(Lookups, AsyncBadInput) {
  char buf[MAXGETHOSTSTRUCT];
  EXPECT_EQ(WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, nullptr, buf, sizeof buf), nullptr);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, "multi", nullptr, 10), nullptr);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, "multi", buf, -1), nullptr);
  EXPECT_EQ(Err(), WSAEINVAL);
  EXPECT_EQ(WSAAsyncGetHostByName(reinterpret_cast<HWND>(0x5555), WM_LOOKUP, "multi", buf, sizeof buf), nullptr);
  EXPECT_EQ(Err(), WSAEINVAL);
  ULONG addr = inet_addr("127.0.0.1");
  const char* a = reinterpret_cast<const char*>(&addr);
  EXPECT_EQ(WSAAsyncGetHostByAddr(Notes.Wnd, WM_LOOKUP, a, 3, AF_INET, buf, sizeof buf), nullptr);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(WSAAsyncGetHostByAddr(Notes.Wnd, WM_LOOKUP, a, 4, 23, buf, sizeof buf), nullptr);
  EXPECT_EQ(Err(), WSAEAFNOSUPPORT);
  EXPECT_EQ(WSACancelAsyncRequest(nullptr), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);
  EXPECT_EQ(WSACancelAsyncRequest(reinterpret_cast<HANDLE>(0x7FFFFFF0)), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);  // never given out
}

TEST_F(Lookups, TheLastCleanupDropsPendingReplies) {
  alignas(8) char buf[MAXGETHOSTSTRUCT];
  HANDLE h = WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, "multi", buf, sizeof buf);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(WSACleanup(), 0);  // returns only once the lookup threads have stopped
  auto id = static_cast<SOCKET>(reinterpret_cast<std::uintptr_t>(h));
  Notes.Drain(id, 0, WM_LOOKUP);  // a reply posted before the clean-up may be queued
  EXPECT_TRUE(Notes.Drain(id, 100, WM_LOOKUP).empty());
  WSADATA d;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &d), 0);  // for the fixture's TearDown
  EXPECT_EQ(WSAAsyncGetHostByName(Notes.Wnd, WM_LOOKUP, "multi", buf, sizeof buf) != nullptr, true);
}

}  // namespace

int main(int argc, char** argv) {
  wstest::SetUpPrivateHosts();  // before any thread: a mount namespace is per process here
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
