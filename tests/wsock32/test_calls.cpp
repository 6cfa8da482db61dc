// Start-up, the last error and its translation, datagrams, options and commands, and bad input.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "kernel_view.h"
#include "testutil.h"

using namespace wstest;

namespace {

TEST(Startup, IsCountedAndCallsBeforeItFail) {
  EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  // The pure conversions need no start-up.
  EXPECT_EQ(htons(0x1234), 0x3412);
  in_addr a;
  a.s_addr = inet_addr("1.2.3.4");
  EXPECT_EQ(a.S_un.S_un_b.s_b1, 1);  // network order: the first byte is the first number
  EXPECT_EQ(a.S_un.S_un_b.s_b4, 4);
  EXPECT_STREQ(inet_ntoa(a), "1.2.3.4");

  WSADATA d;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &d), 0);
  EXPECT_EQ(d.wVersion, MAKEWORD(1, 1));
  EXPECT_EQ(d.wHighVersion, MAKEWORD(1, 1));
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);  // a newer request is offered 1.1
  EXPECT_EQ(d.wVersion, MAKEWORD(1, 1));
  EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &d), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), nullptr), WSAEFAULT);

  EXPECT_EQ(WSACleanup(), 0);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_NE(s, INVALID_SOCKET);  // one start-up is still counted
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);  // the last clean-up closed it, and the layer is down
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

class Calls : public TWinsock {};

TEST_F(Calls, LastErrorIsPerThreadAndSurvivesSuccess) {
  WSASetLastError(12345);
  SOCKET s = BoundUdp();
  ULONG n = 0;
  EXPECT_EQ(ioctlsocket(s, FIONREAD, &n), 0);
  EXPECT_EQ(WSAGetLastError(), 12345);
  int other = -1;
  std::thread([&] {
    char b;
    recv(INVALID_SOCKET, &b, 1, 0);
    other = WSAGetLastError();
  }).join();
  EXPECT_EQ(other, WSAENOTSOCK);
  EXPECT_EQ(WSAGetLastError(), 12345);
}

TEST_F(Calls, ErrnoIsTranslated) {
  SOCKET a = BoundUdp();
  SOCKET b = Open(SOCK_DGRAM);
  sockaddr_in taken = Loopback(PortOf(a));
  EXPECT_EQ(bind(b, Sa(taken), sizeof taken), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEADDRINUSE);  // datagram sockets get no address reuse of their own

  sockaddr_in foreign = Loopback(0);
  foreign.sin_addr.s_addr = inet_addr("192.0.2.1");
  EXPECT_EQ(bind(b, Sa(foreign), sizeof foreign), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEADDRNOTAVAIL);

  sockaddr_in bcast = Loopback(9);
  bcast.sin_addr.s_addr = INADDR_BROADCAST;
  EXPECT_EQ(sendto(a, "x", 1, 0, Sa(bcast), sizeof bcast), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEACCES);  // broadcasting is off until SO_BROADCAST

  EXPECT_EQ(listen(a, 5), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEOPNOTSUPP);

  SOCKET probe = Listener();
  u_short closedPort = PortOf(probe);
  Close(probe);
  SOCKET c = Open(SOCK_STREAM);
  sockaddr_in to = Loopback(closedPort);
  EXPECT_EQ(connect(c, Sa(to), sizeof to), SOCKET_ERROR);  // blocking
  EXPECT_EQ(Err(), WSAECONNREFUSED);

  char buf[4];
  SOCKET fresh = Open(SOCK_STREAM);
  EXPECT_EQ(recv(fresh, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAENOTCONN);
  EXPECT_EQ(send(a, "x", 1, 0), SOCKET_ERROR);  // an unconnected datagram socket
  EXPECT_EQ(Err(), WSAENOTCONN);

  ULONG on = 1;
  ASSERT_EQ(ioctlsocket(a, FIONBIO, &on), 0);
  EXPECT_EQ(recv(a, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEWOULDBLOCK);

  EXPECT_EQ(socket(99, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(Err(), WSAEAFNOSUPPORT);
  EXPECT_EQ(socket(AF_INET, 3, 0), INVALID_SOCKET);
  EXPECT_EQ(Err(), WSAESOCKTNOSUPPORT);
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_UDP), INVALID_SOCKET);
  EXPECT_EQ(Err(), WSAEPROTOTYPE);
}

TEST_F(Calls, NonBlockingConnectAndShutdown) {
  SOCKET l = Listener();
  SOCKET c = Open(SOCK_STREAM);
  ULONG on = 1;
  ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
  sockaddr_in a = Loopback(PortOf(l));
  ASSERT_EQ(connect(c, Sa(a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEWOULDBLOCK);
  // Without notifications the caller learns the end by asking again (WSAEALREADY while under way), as there.
  int err = WSAEALREADY;
  WaitUntil([&] {
    if (connect(c, Sa(a), sizeof a) == SOCKET_ERROR) err = Err();
    return err != WSAEALREADY;
  });
  EXPECT_EQ(err, WSAEISCONN);
  EXPECT_EQ(send(c, "ok", 2, 0), 2);

  Close(l);
  SOCKET refused = Open(SOCK_STREAM);
  ASSERT_EQ(ioctlsocket(refused, FIONBIO, &on), 0);
  ASSERT_EQ(connect(refused, Sa(a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEWOULDBLOCK);
  err = WSAEWOULDBLOCK;
  WaitUntil([&] {
    if (connect(refused, Sa(a), sizeof a) == SOCKET_ERROR) err = Err();
    return err != WSAEWOULDBLOCK && err != WSAEALREADY;
  });
  EXPECT_EQ(err, WSAECONNREFUSED);

  auto [x, y] = Pair();
  ASSERT_EQ(shutdown(x, SD_SEND), 0);
  EXPECT_EQ(send(x, "x", 1, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAESHUTDOWN);
  char b;
  EXPECT_EQ(recv(y, &b, 1, 0), 0);  // the peer sees the orderly end
  ASSERT_EQ(shutdown(y, SD_RECEIVE), 0);
  EXPECT_EQ(recv(y, &b, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAESHUTDOWN);
  EXPECT_EQ(send(y, "z", 1, 0), 1);  // sending still works
  EXPECT_EQ(shutdown(y, 3), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);
}

TEST_F(Calls, ZeroLengthReceiveProbesAStreamWithoutTakingAnything) {
  // The socket component's wait for a close probes with a receive of no bytes: "would block" means the
  // connection is quiet and still there.
  auto [c, s] = Pair();
  ULONG on = 1;
  ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
  char b = 0;
  EXPECT_EQ(recv(c, &b, 0, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEWOULDBLOCK);
  ASSERT_EQ(send(s, "x", 1, 0), 1);
  ULONG n = 0;
  EXPECT_TRUE(WaitUntil([&] { return ioctlsocket(c, FIONREAD, &n) == 0 && n > 0; }));
  EXPECT_EQ(recv(c, &b, 0, 0), 0);
  EXPECT_EQ(recv(c, &b, 1, 0), 1) << "the probe took nothing";
  Close(s);
  int r = SOCKET_ERROR, err = WSAEWOULDBLOCK;
  WaitUntil([&] {
    r = recv(c, &b, 0, 0);
    err = r == SOCKET_ERROR ? Err() : 0;
    return err != WSAEWOULDBLOCK;
  });
  EXPECT_EQ(err, 0);
  EXPECT_EQ(r, 0) << "the peer's end";
}

TEST_F(Calls, DatagramLargerThanTheBufferFillsItAndDropsTheRest) {
  SOCKET rx = BoundUdp();
  SOCKET tx = BoundUdp();
  sockaddr_in a = Loopback(PortOf(rx));
  std::string big(100, '\0');
  for (int i = 0; i < 100; ++i) big[i] = static_cast<char>('A' + i % 26);
  ASSERT_EQ(sendto(tx, big.data(), 100, 0, Sa(a), sizeof a), 100);
  ASSERT_EQ(sendto(tx, "small", 5, 0, Sa(a), sizeof a), 5);

  ULONG waiting = 0;
  EXPECT_TRUE(WaitUntil([&] { return ioctlsocket(rx, FIONREAD, &waiting) == 0 && waiting >= 100; }))
      << "at least the next datagram";

  char buf[10 + 4];
  std::memset(buf, '#', sizeof buf);
  sockaddr_in from{};
  int fromlen = sizeof from;
  EXPECT_EQ(recvfrom(rx, buf, 10, 0, Sa(from), &fromlen), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEMSGSIZE);
  EXPECT_EQ(std::string(buf, 10), big.substr(0, 10));
  EXPECT_EQ(std::string(buf + 10, 4), "####");  // not one byte past the length given
  EXPECT_EQ(from.sin_port, htons(PortOf(tx)));
  EXPECT_EQ(fromlen, 16);

  EXPECT_EQ(recvfrom(rx, buf, 10, 0, Sa(from), &fromlen), 5);  // the rest of the big one is gone
  EXPECT_EQ(std::string(buf, 5), "small");
}

TEST_F(Calls, StreamFionreadCountsWaitingBytes) {
  auto [c, s] = Pair();
  ASSERT_EQ(send(s, "0123456789", 10, 0), 10);
  ULONG n = 0;
  WaitUntil([&] { return ioctlsocket(c, FIONREAD, &n) == 0 && n >= 10; });
  EXPECT_EQ(n, 10u);
}

TEST_F(Calls, StreamPortsInTimeWaitCanBeBoundAgain) {
  SOCKET l = Listener();
  u_short port = PortOf(l);
  SOCKET c = Open(SOCK_STREAM);
  sockaddr_in a = Loopback(port);
  ASSERT_EQ(connect(c, Sa(a), sizeof a), 0);
  SOCKET s = accept(l, nullptr, nullptr);
  ASSERT_NE(s, INVALID_SOCKET);
  Close(s);  // the server's side closes first and waits in TIME_WAIT
  char b;
  EXPECT_EQ(recv(c, &b, 1, 0), 0);
  Close(c);
  Close(l);

  SOCKET again = Open(SOCK_STREAM);
  EXPECT_EQ(bind(again, Sa(a), sizeof a), 0) << Err();
  EXPECT_EQ(listen(again, 5), 0) << Err();
}

TEST_F(Calls, OptionsAreTranslated) {
  SOCKET t = Open(SOCK_STREAM);
  SOCKET u = Open(SOCK_DGRAM);
  int one = 1;
  const char* v = reinterpret_cast<const char*>(&one);
  EXPECT_EQ(setsockopt(u, SOL_SOCKET, SO_BROADCAST, v, 4), 0);
  EXPECT_EQ(setsockopt(t, SOL_SOCKET, SO_KEEPALIVE, v, 4), 0);
  EXPECT_EQ(setsockopt(t, SOL_SOCKET, SO_REUSEADDR, v, 4), 0);
  EXPECT_EQ(setsockopt(t, IPPROTO_TCP, TCP_NODELAY, v, 4), 0);
  linger l{0, 0};
  EXPECT_EQ(setsockopt(t, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), 4), 0);

  EXPECT_EQ(setsockopt(t, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), 3), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(setsockopt(u, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), 4), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAENOPROTOOPT);
  EXPECT_EQ(setsockopt(t, SOL_SOCKET, 0x7777, v, 4), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAENOPROTOOPT);
  EXPECT_EQ(setsockopt(t, 1234, SO_KEEPALIVE, v, 4), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);
  EXPECT_EQ(setsockopt(t, SOL_SOCKET, SO_KEEPALIVE, v, 2), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(setsockopt(t, SOL_SOCKET, SO_KEEPALIVE, nullptr, 4), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
}

TEST_F(Calls, OptionsReachTheKernelAsLinuxSpellsThem) {
  using K = TKernelOption;
  SOCKET t = Open(SOCK_STREAM);
  SOCKET u = Open(SOCK_DGRAM);
  EXPECT_EQ(KernelOption(t, K::ReuseAddr), 1) << "stream sockets reuse addresses from the start";
  EXPECT_EQ(KernelOption(u, K::ReuseAddr), 0) << "datagram sockets do not, until asked";

  auto set = [](SOCKET s, int level, int name, int value) {
    return setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
  };
  // All bits set is how the socket component says "on".
  ASSERT_EQ(set(t, SOL_SOCKET, SO_KEEPALIVE, -1), 0);
  EXPECT_EQ(KernelOption(t, K::KeepAlive), 1);
  ASSERT_EQ(set(t, IPPROTO_TCP, TCP_NODELAY, 1), 0);
  EXPECT_EQ(KernelOption(t, K::NoDelay), 1);
  ASSERT_EQ(set(t, SOL_SOCKET, SO_OOBINLINE, 1), 0);
  EXPECT_EQ(KernelOption(t, K::OobInline), 1);
  ASSERT_EQ(set(u, SOL_SOCKET, SO_BROADCAST, 1), 0);
  EXPECT_EQ(KernelOption(u, K::Broadcast), 1);
  ASSERT_EQ(set(u, SOL_SOCKET, SO_REUSEADDR, 1), 0);
  EXPECT_EQ(KernelOption(u, K::ReuseAddr), 1);
  ASSERT_EQ(set(u, SOL_SOCKET, SO_DONTROUTE, 1), 0);
  EXPECT_EQ(KernelOption(u, K::DontRoute), 1);
  ASSERT_EQ(set(u, SOL_SOCKET, SO_RCVBUF, 6000), 0);
  EXPECT_GE(KernelOption(u, K::RcvBuf), 6000);  // Linux keeps twice what it is given
  ASSERT_EQ(set(u, SOL_SOCKET, SO_SNDBUF, 7000), 0);
  EXPECT_GE(KernelOption(u, K::SndBuf), 7000);
  EXPECT_EQ(KernelOption(u, K::KeepAlive), 0) << "no option landed on another";

  // The 4-byte record's 16-bit fields become the kernel's full-width ones.
  int onoff = -1, seconds = -1;
  linger l{1, 0x1234};
  ASSERT_EQ(setsockopt(t, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l), 0);
  ASSERT_TRUE(KernelLinger(t, onoff, seconds));
  EXPECT_EQ(onoff, 1);
  EXPECT_EQ(seconds, 0x1234);
  l = {0, 5};
  ASSERT_EQ(setsockopt(t, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l), 0);
  ASSERT_TRUE(KernelLinger(t, onoff, seconds));
  EXPECT_EQ(onoff, 0);
}

TEST_F(Calls, BadHandlesAreNotSockets) {
  SOCKET closed = Open(SOCK_DGRAM);
  Close(closed);
  char b[4];
  sockaddr_in a = Loopback(9);
  int len = sizeof a;
  ULONG n;
  int one = 1;
  for (SOCKET s : {INVALID_SOCKET, closed, static_cast<SOCKET>(0), static_cast<SOCKET>(0x12345678ABCDull)}) {
    SCOPED_TRACE(s);
    EXPECT_EQ(send(s, b, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(sendto(s, b, 1, 0, Sa(a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(recv(s, b, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(recvfrom(s, b, 1, 0, Sa(a), &len), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(bind(s, Sa(a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(connect(s, Sa(a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(listen(s, 5), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(accept(s, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(shutdown(s, SD_BOTH), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(ioctlsocket(s, FIONREAD, &n), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), 4), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(getsockname(s, Sa(a), &len), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(getpeername(s, Sa(a), &len), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(Err(), WSAENOTSOCK);
  }
}

TEST_F(Calls, NullOrShortBuffersAndBadLengthsAreRefused) {
  SOCKET u = BoundUdp();
  auto [c, s] = Pair();
  sockaddr_in a = Loopback(PortOf(u));
  EXPECT_EQ(send(c, nullptr, 5, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(send(c, "x", -1, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);
  EXPECT_EQ(recv(s, nullptr, 5, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(recv(s, reinterpret_cast<char*>(&a), -3, 0), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);
  EXPECT_EQ(sendto(u, "x", 1, 0, Sa(a), 8), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(bind(u, nullptr, 16), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(connect(c, Sa(a), 15), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(send(c, "x", 1, 0x100), SOCKET_ERROR);  // an unknown flag
  EXPECT_EQ(Err(), WSAEINVAL);
  sockaddr_in wrongFamily = a;
  wrongFamily.sin_family = 23;
  EXPECT_EQ(sendto(u, "x", 1, 0, Sa(wrongFamily), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEAFNOSUPPORT);
  sockaddr_in nobody = Loopback(0);
  EXPECT_EQ(sendto(u, "x", 1, 0, Sa(nobody), sizeof nobody), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEADDRNOTAVAIL);

  // Output records: a short length is refused before anything is written.
  struct {
    sockaddr_in Rec;
    char Guard[8];
  } out;
  std::memset(&out, '#', sizeof out);
  int len = 8;
  EXPECT_EQ(getsockname(u, Sa(out.Rec), &len), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&out.Rec)[0], '#');
  EXPECT_EQ(getsockname(u, Sa(out.Rec), nullptr), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  len = sizeof out;  // longer than the record: only 16 bytes are written
  EXPECT_EQ(getpeername(c, Sa(out.Rec), &len), 0);
  EXPECT_EQ(len, 16);
  EXPECT_EQ(std::string(out.Guard, 8), "########");
  len = 4;
  EXPECT_EQ(recvfrom(u, reinterpret_cast<char*>(&a), 1, 0, Sa(out.Rec), &len), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);

  EXPECT_EQ(ioctlsocket(u, FIONREAD, nullptr), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  ULONG n;
  EXPECT_EQ(ioctlsocket(u, 0x1234, &n), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);

  SOCKET unbound = Open(SOCK_DGRAM);
  len = sizeof a;
  EXPECT_EQ(getsockname(unbound, Sa(a), &len), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEINVAL);

  char name[2] = {'x', 'x'};
  EXPECT_EQ(gethostname(name, 1), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  EXPECT_EQ(name[0], '\0');  // never garbage for a caller that goes on
  EXPECT_EQ(name[1], 'x');
  EXPECT_EQ(gethostname(nullptr, 64), SOCKET_ERROR);
  EXPECT_EQ(Err(), WSAEFAULT);
  char host[256];
  EXPECT_EQ(gethostname(host, 256), 0);
  EXPECT_GT(std::strlen(host), 0u);
}

TEST_F(Calls, ConversionsUsePerThreadStorage) {
  in_addr a;
  a.s_addr = inet_addr("10.20.30.40");
  EXPECT_STREQ(inet_ntoa(a), "10.20.30.40");
  EXPECT_EQ(inet_addr("255.255.255.255"), INADDR_NONE);
  EXPECT_EQ(inet_addr("not an address"), INADDR_NONE);
  EXPECT_EQ(inet_addr(""), INADDR_NONE);
  char* mine = inet_ntoa(a);
  std::thread([&] {
    in_addr b;
    b.s_addr = inet_addr("1.1.1.1");
    EXPECT_NE(inet_ntoa(b), mine);
  }).join();
  EXPECT_STREQ(mine, "10.20.30.40");
}

}  // namespace

namespace {

TEST(Binding, LinkingAndLoadingReachTheSameCopy) {
  HMODULE m = LoadLibraryA("wsock32.dll");
  ASSERT_NE(m, nullptr) << GetLastError();
  EXPECT_EQ(GetProcAddress(m, "TarvoModuleProc"), reinterpret_cast<FARPROC>(&TarvoModuleProc));
  EXPECT_EQ(TarvoModuleProc("socket"), reinterpret_cast<FARPROC>(&wsock32_socket));
  EXPECT_EQ(TarvoModuleProc("gethostname"), reinterpret_cast<FARPROC>(&wsock32_gethostname));
  // One start-up count for both roads.
  auto startup = reinterpret_cast<int (*)(WORD, LPWSADATA)>(TarvoModuleProc("WSAStartup"));
  WSADATA d;
  ASSERT_EQ(startup(MAKEWORD(1, 1), &d), 0);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_TRUE(FreeLibrary(m));
}

}  // namespace

namespace {

class Lifetime : public TWinsock {};

// Whether thread tid of this process sleeps in the kernel in a receive.
bool SleepsInReceive(pid_t tid) {
  std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  return f >> number && number == SYS_recvmsg;
}

TEST_F(Lifetime, ClosingWakesABlockedReceiveOnAnotherThread) {
  SOCKET s = BoundUdp();
  int result = 0, error = 0;
  std::atomic<pid_t> tid{0};
  std::thread blocked([&] {
    tid = gettid();
    char b[8];
    result = recv(s, b, sizeof b, 0);
    error = WSAGetLastError();
  });
  EXPECT_TRUE(WaitUntil([&] { return tid != 0 && SleepsInReceive(tid); }));
  Close(s);
  blocked.join();
  EXPECT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(error, WSAEINTR);
}

TEST(LifetimeDeathTest, AProgramMayEndWithoutTheLastCleanup) {
  // The layer's threads may still run while the program's static objects go: that must be a clean exit.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        WSADATA d;
        WSAStartup(MAKEWORD(1, 1), &d);
        TNotes notes;
        SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
        WSAAsyncSelect(s, notes.Wnd, WM_SOCKET, FD_READ | FD_WRITE);
        char buf[MAXGETHOSTSTRUCT];
        WSAAsyncGetHostByName(notes.Wnd, WM_LOOKUP, "localhost", buf, sizeof buf);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
