// The run-time binding of the socket library, its failures, the error texts and the socket-error report.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>

#include "helpers.h"

namespace {

// Points "wsock32.dll" at a stand-in library for one test and restores the real one afterwards.
class StandIn {
 public:
  explicit StandIn(const char* path) : FPath(path) {
    UnloadWinsock();
    FHandle = dlopen(path, RTLD_NOW | RTLD_LOCAL);  // keeps its counters alive across unloads
    SetModulePath("wsock32.dll", path);
  }
  ~StandIn() {
    UnloadWinsock();
    SetModulePath("wsock32.dll", nullptr);
    if (FHandle != nullptr) dlclose(FHandle);
  }
  int Startups() { return Counter(0); }
  int Cleanups() { return Counter(1); }
  int Version() { return Counter(2); }

 private:
  int Counter(int which) {
    auto* f = reinterpret_cast<void (*)(int*, int*, int*)>(dlsym(FHandle, "FakeWsockCounters"));
    int v[3] = {};
    f(&v[0], &v[1], &v[2]);
    return v[which];
  }
  const char* FPath;
  void* FHandle = nullptr;
};

}  // namespace

TEST(Binding, LoadsOnFirstCallStartsVersion11AndUnloadsWithTheLastComponent) {
  StandIn lib(FAKE_WSOCK32_PATH);
  auto first = std::make_unique<TWSocket>(nullptr);
  auto second = std::make_unique<TWSocket>(nullptr);
  EXPECT_EQ(lib.Startups(), 0) << "creating components loads nothing";
  EXPECT_EQ(InstanceCount.load(), 2);

  first->Pause();  // the first platform call
  EXPECT_EQ(lib.Startups(), 1);
  EXPECT_EQ(lib.Version(), 0x0101);
  second->Pause();
  EXPECT_EQ(lib.Startups(), 1) << "a second component reuses the binding";

  first.reset();
  EXPECT_EQ(lib.Cleanups(), 0) << "one component still lives";
  second.reset();
  EXPECT_EQ(lib.Cleanups(), 1);
  EXPECT_EQ(InstanceCount.load(), 0);

  // After the last destruction, a new component that calls the platform loads and starts again.
  TWSocket third(nullptr);
  third.Pause();
  EXPECT_EQ(lib.Startups(), 2);
}

TEST(Binding, AComponentThatNeverCallsThePlatformLeavesTheBindingEmpty) {
  StandIn lib(FAKE_WSOCK32_PATH);
  { TWSocket s(nullptr); }
  EXPECT_EQ(lib.Startups(), 0);
  EXPECT_EQ(lib.Cleanups(), 0);
}

TEST(Binding, AMissingEntryPointFailsEveryTimeWhileTheOthersWork) {
  StandIn lib(FAKE_WSOCK32_PATH);
  TWSocket s(nullptr);
  const std::string expected = "Procedure inet_addr not found in wsock32.dll Error #127";
  EXPECT_EQ(ErrorOf([&] { s.SetLocalAddr("10.0.0.1"); }), expected);
  EXPECT_EQ(ErrorOf([&] { s.SetLocalAddr("10.0.0.1"); }), expected) << "the entry point is looked up again";
  EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
  WSocket::WSASetLastError(4242);
  EXPECT_EQ(WSocket::WSAGetLastError(), 4242);
  // The error leaves the caller even with OnError assigned: the binding knows no component.
  int fired = 0;
  s.OnError = [&](TObject*) { ++fired; };
  EXPECT_EQ(ErrorOf([&] { s.SetLocalAddr("10.0.0.1"); }), expected);
  EXPECT_EQ(fired, 0);
}

TEST(Binding, AMissingLibraryGivesItsMessageAndIsTriedAgain) {
  StandIn lib("/nonexistent/libwsock32.so");
  TWSocket s(nullptr);
  EXPECT_EQ(ErrorOf([&] { s.Pause(); }), "Unable to load wsock32.dll Error #126");
  EXPECT_EQ(ErrorOf([] { LoadWinsockProc(""); }), "Unable to load wsock32.dll Error #126");
}

TEST(Binding, AFailedStartUpIsReportedOnceAndNotRepeatedUntilUnload) {
  StandIn lib(FAKE_WSOCK32_NOSTART_PATH);
  TWSocket s(nullptr);
  EXPECT_EQ(ErrorOf([&] { s.Pause(); }), "wsock32.dll: WSAStartup error #10091");
  EXPECT_EQ(lib.Startups(), 1);
  // The library stays loaded: later calls reach it without starting it again.
  EXPECT_EQ(ErrorOf([&] { s.Pause(); }), "");
  EXPECT_EQ(lib.Startups(), 1);
  UnloadWinsock();
  EXPECT_EQ(ErrorOf([&] { s.Pause(); }), "wsock32.dll: WSAStartup error #10091");
  EXPECT_EQ(lib.Startups(), 2);
}

TEST(Binding, AnEmptyNameLoadsAndStartsButReturnsNoAddress) {
  StandIn lib(FAKE_WSOCK32_PATH);
  EXPECT_EQ(LoadWinsockProc(""), nullptr);
  EXPECT_EQ(lib.Startups(), 1);
  EXPECT_NE(LoadWinsockProc("WSAGetLastError"), nullptr);
}

TEST(Binding, TheRealLibraryAnswersEveryBoundName) {
  const char* names[] = {"WSAStartup",    "WSACleanup",     "WSASetLastError", "WSAGetLastError",
                         "WSACancelAsyncRequest", "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr",
                         "WSAAsyncSelect", "getservbyname", "getprotobyname", "gethostbyname", "socket",
                         "shutdown",      "setsockopt",     "sendto",          "send",           "recv",
                         "recvfrom",      "ntohs",          "listen",          "ioctlsocket",    "inet_ntoa",
                         "inet_addr",     "htons",          "getsockname",     "getpeername",    "connect",
                         "closesocket",   "bind",           "accept"};
  for (const char* n : names) EXPECT_NE(LoadWinsockProc(n), nullptr) << n;
  UnloadWinsock();
}

TEST(ErrorText, KnownAndUnknownCodes) {
  EXPECT_EQ(WSocketErrorText(0), "No Error");
  EXPECT_EQ(WSocketErrorText(10057), "Socket is not connected");
  EXPECT_EQ(WSocketErrorText(10035), "Operation would block");
  EXPECT_EQ(WSocketErrorText(11004), "No Data");
  for (int code : {1, 10000, 10090, 10094, 11000, 11005, -1})
    EXPECT_EQ(WSocketErrorText(code), "Not a WinSock error") << code;
}

TEST(SocketErrorReport, ResetClosesTheSocketAndRaises) {
  TEventLog log;
  TTestSocket s(nullptr);
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort("9");
  s.Connect();
  ASSERT_EQ(s.State(), wsConnected);
  log.Attach(s);
  WSocket::WSASetLastError(WSAECONNRESET);
  EXPECT_EQ(ErrorOf([&] { s.RaiseSocketError("Send"); }),
            "Error 10054 in function Send\r\nConnection reset by peer");
  EXPECT_EQ(s.SocketHandle.load(), INVALID_SOCKET);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.LastError(), 10054);
  EXPECT_EQ(log.Joined(), "connected->closed") << "no OnSessionClosed from the report";
}

TEST(SocketErrorReport, WouldBlockLeavesTheSocketAndOnErrorTakesTheReport) {
  TTestSocket s(nullptr);
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort("9");
  s.Connect();
  SOCKET handle = s.SocketHandle;
  std::vector<TObject*> senders;
  s.OnError = [&](TObject* sender) { senders.push_back(sender); };
  WSocket::WSASetLastError(WSAEWOULDBLOCK);
  EXPECT_EQ(ErrorOf([&] { s.RaiseSocketError("Send"); }), "");
  EXPECT_EQ(senders, std::vector<TObject*>{&s});
  EXPECT_EQ(s.SocketHandle.load(), handle);
  EXPECT_EQ(s.State(), wsConnected);
  EXPECT_EQ(s.LastError(), 10035);
  // With OnError assigned the other reports return normally too, dropping their text.
  EXPECT_EQ(ErrorOf([&] { s.RaiseException("x"); }), "");
  EXPECT_EQ(ErrorOf([&] { s.RaiseExceptionFmt("%d", {std::int64_t{1}}); }), "");
  EXPECT_EQ(senders.size(), 3u);
}
