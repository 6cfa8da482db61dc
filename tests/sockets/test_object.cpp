// The socket object: its window and the window procedure's test of the stored reference, the dispatch of its
// messages, background exceptions, its own message pump, and closing, pausing and the delayed operations.
#include <gtest/gtest.h>

#include <memory>

#include "helpers.h"

namespace {

// A datagram socket that sends to a plain receiver and is connected at once.
void ConnectUdp(TCustomWSocket& s, std::uint16_t port) {
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.Connect();
}

LPARAM Select(WORD events, WORD error = 0) { return WSAMAKESELECTREPLY(events, error); }

}  // namespace

TEST(Object, CreatesItsWindowOnceRegisteringTheClassAndCountsInstances) {
  int before = InstanceCount;
  auto a = std::make_unique<TTestSocket>(nullptr);
  auto b = std::make_unique<TTestSocket>(nullptr);
  EXPECT_EQ(InstanceCount.load(), before + 2);
  WNDCLASSA wc{};
  ASSERT_NE(GetClassInfoA(GetModuleHandleA(nullptr), "XSocketWindowClass", &wc), 0);
  EXPECT_EQ(wc.cbWndExtra, 4);
  EXPECT_EQ(wc.lpfnWndProc, &SocketWindowProc);
  ASSERT_NE(a->NotifyWindow, nullptr);
  EXPECT_NE(a->NotifyWindow, b->NotifyWindow);
  EXPECT_EQ(GetWindowLongA(a->NotifyWindow, 0), reinterpret_cast<LONG_PTR>(a.get()));
  EXPECT_EQ(a->State(), wsClosed);
  EXPECT_EQ(a->Proto(), "tcp");
  EXPECT_EQ(a->LocalAddr(), "0.0.0.0");
  EXPECT_EQ(a->FlushTimeout(), 60);
  EXPECT_EQ(a->LingerOnOff(), wsLingerOn);
  EXPECT_EQ(a->SendBlockSize, 1514);
  EXPECT_EQ(a->SocksLevel(), "5");
  EXPECT_EQ(a->LineEnd(), "\r\n");
  EXPECT_FALSE(a->LineMode());
  HWND window = a->NotifyWindow;
  a.reset();
  EXPECT_FALSE(IsWindow(window));
}

TEST(Object, TheWindowProcedureServesOnlyLiveSocketObjects) {
  // A window of the class whose stored reference is not a live socket gets the default handling: nothing of
  // the component runs, whatever the message.
  TTestSocket registersTheClass(nullptr);
  HWND stray = CreateWindowExA(0, "XSocketWindowClass", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(stray, nullptr);
  int dummy = 0;
  SetWindowLongA(stray, 0, reinterpret_cast<LONG_PTR>(&dummy));
  EXPECT_EQ(SendMessageA(stray, WM_TRIGGER_EXCEPTION, 0, 0), 0);
  auto dead = std::make_unique<TTestSocket>(nullptr);
  TCustomWSocket* gone = dead.get();
  dead.reset();
  SetWindowLongA(stray, 0, reinterpret_cast<LONG_PTR>(gone));
  EXPECT_EQ(SendMessageA(stray, WM_ASYNCSELECT, 0, Select(FD_READ)), 0);
  DestroyWindow(stray);
}

TEST(Object, TestMessageWithoutHandlerAbortsTheSocket) {
  TEventLog log;
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  log.Attach(s);
  PostMessageA(s.NotifyWindow, WM_TRIGGER_EXCEPTION, 0, 0);
  PumpUntil([&] { return s.State() == wsClosed; });
  EXPECT_EQ(log.Joined(), "connected->closed, closed 0");
}

TEST(Object, BackgroundExceptionHandlerCanKeepTheSocketOpen) {
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  std::string seen;
  s.OnBgException = [&](TObject* sender, Exception& E, bool& CanClose) {
    EXPECT_EQ(sender, &s);
    seen = E.Message();
    CanClose = false;
  };
  PostMessageA(s.NotifyWindow, WM_TRIGGER_EXCEPTION, 0, 0);
  PumpUntil([&] { return !seen.empty(); });
  EXPECT_EQ(seen, "Test exception in WSocket");
  PumpFor(20);
  EXPECT_EQ(s.State(), wsConnected);
}

TEST(Object, AnExceptionInTheBackgroundHandlerIsSwallowedAndTheAbortFollows) {
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  s.OnBgException = [](TObject*, Exception&, bool&) { throw ESocketException("handler failed"); };
  PostMessageA(s.NotifyWindow, WM_TRIGGER_EXCEPTION, 0, 0);
  EXPECT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
}

TEST(Object, NotificationHandlerExceptionsGoToBgExceptionAndAbort) {
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  std::string seen;
  s.OnDataSent = [](TObject*, WORD) { throw ESocketException("from OnDataSent"); };
  s.OnBgException = [&](TObject*, Exception& E, bool&) { seen = E.Message(); };
  s.SendStr("x");  // its write notification fires OnDataSent later
  EXPECT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
  EXPECT_EQ(seen, "from OnDataSent");
}

TEST(Object, SelectNotificationsForAnotherSocketOrWhilePausedChangeNothing) {
  TEventLog log;
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  log.Attach(s);
  SendMessageA(s.NotifyWindow, WM_ASYNCSELECT, s.SocketHandle + 1, Select(FD_CLOSE | FD_WRITE | FD_CONNECT));
  s.Pause();
  EXPECT_TRUE(s.Paused);
  SendMessageA(s.NotifyWindow, WM_ASYNCSELECT, s.SocketHandle, Select(FD_CLOSE | FD_WRITE | FD_CONNECT));
  EXPECT_EQ(log.Joined(), "");
  EXPECT_EQ(s.State(), wsConnected);
  s.Resume();
  EXPECT_FALSE(s.Paused);
}

TEST(Object, SelectNotificationsWithoutASocketChangeNothing) {
  // A write notification that a Send posted just before a close names no socket by the time it is handled.
  TEventLog log;
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  s.Close();
  ASSERT_EQ(s.SocketHandle.load(), INVALID_SOCKET);
  log.Attach(s);
  SendMessageA(s.NotifyWindow, WM_ASYNCSELECT, INVALID_SOCKET, Select(FD_WRITE | FD_CLOSE | FD_CONNECT));
  EXPECT_EQ(log.Joined(), "");
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(Object, ANotificationQueuedBeforePauseIsDroppedNotKept) {
  TTestSocket s(nullptr);
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort("0");
  s.Listen();
  ASSERT_EQ(s.State(), wsConnected);
  std::vector<std::string> got;
  s.OnDataAvailable = [&](TObject*, WORD) { got.push_back(s.ReceiveStr()); };
  PlainUdp peer;
  peer.SendTo(static_cast<std::uint16_t>(std::stoi(s.GetLocalPortText())), ToBytes("waiting"));
  ASSERT_TRUE(WaitNotificationQueued(s));  // its read notification
  s.Pause();
  PumpFor(100);
  EXPECT_TRUE(got.empty());
  // Selecting again makes the platform report the data that is still waiting; the component replays nothing.
  s.Resume();
  PumpUntil([&] { return !got.empty(); });
  EXPECT_EQ(got, std::vector<std::string>{"waiting"});
}

TEST(Object, FdCloseWhileConnectingIsIgnored) {
  TEventLog log;
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  s.ChangeState(wsConnecting);
  log.Attach(s);
  SendMessageA(s.NotifyWindow, WM_ASYNCSELECT, s.SocketHandle, Select(FD_CLOSE));
  EXPECT_EQ(log.Joined(), "");
  EXPECT_EQ(s.State(), wsConnecting);
}

TEST(Object, ChangeStateAlwaysFiresAndTriggersNeedHandlers) {
  TEventLog log;
  TTestSocket s(nullptr);
  log.Attach(s);
  s.ChangeState(wsClosed);
  EXPECT_EQ(log.Joined(), "closed->closed");
  EXPECT_FALSE(s.TriggerDataAvailable(0));
  s.OnDataAvailable = [](TObject*, WORD) {};
  EXPECT_TRUE(s.TriggerDataAvailable(0));
}

TEST(Object, OwnPumpConsumesQuitAndMarksItself) {
  TTestSocket s(nullptr);
  s.SetMultiThreaded(true);
  PostQuitMessage(0);
  s.MessagePump();
  EXPECT_TRUE(s.PumpTerminated);
  MSG msg;
  EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), 0) << "the quit message is not posted again";
}

TEST(Object, DispatchReachesTheMessageHandlers) {
  TTestSocket s(nullptr);
  PlainUdp peer;
  ConnectUdp(s, peer.Port());
  TMessage m{WM_CLOSE_DELAYED, 0, 0, 0};
  s.Dispatch(m);
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(Close, ClosingAClosedSocketFiresNothing) {
  TEventLog log;
  TTestSocket s(nullptr);
  log.Attach(s);
  s.Close();
  s.Close();
  EXPECT_EQ(log.Joined(), "");
}

TEST(Close, ClosingADatagramSocketFiresOnceAndResets) {
  TEventLog log;
  PlainUdp peer;
  TTestSocket s(nullptr);
  ConnectUdp(s, peer.Port());
  log.Attach(s);
  s.Close();
  s.Close();
  EXPECT_EQ(log.Joined(), "connected->closed, closed 0");
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_FALSE(s.AddrAssigned);
  EXPECT_FALSE(s.PortAssigned);
  EXPECT_EQ(s.SocketHandle.load(), INVALID_SOCKET);
}

TEST(Close, DestroyingAnOpenSocketFiresTheStateChangeButNotSessionClosed) {
  TEventLog log;
  PlainUdp peer;
  {
    TTestSocket s(nullptr);
    ConnectUdp(s, peer.Port());
    log.Attach(s);
  }
  EXPECT_EQ(log.Joined(), "connected->closed");
}

TEST(Close, CloseDelayedAndReleaseHappenWhenMessagesAreDispatched) {
  PlainUdp peer;
  auto* s = new TTestSocket(nullptr);
  ConnectUdp(*s, peer.Port());
  s->CloseDelayed();
  EXPECT_EQ(s->State(), wsConnected);
  PumpUntil([&] { return s->State() == wsClosed; });
  EXPECT_EQ(s->State(), wsClosed);
  int before = InstanceCount;
  HWND window = s->NotifyWindow;
  s->Release();
  EXPECT_TRUE(IsWindow(window)) << "Release returns before anything happens";
  PumpUntil([&] { return !IsWindow(window); });
  EXPECT_EQ(InstanceCount.load(), before - 1);
}

TEST(Close, ReleaseOfAnOwnedSocketTakesItOutOfItsOwner) {
  TComponent owner(nullptr);
  auto* s = new TTestSocket(&owner);
  ASSERT_EQ(owner.ComponentCount(), 1);
  s->Release();
  PumpUntil([&] { return owner.ComponentCount() == 0; });
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(Close, FlushWithoutSocketOrQueueReturnsAtOnce) {
  TTestSocket s(nullptr);
  s.Flush();
  PlainUdp peer;
  ConnectUdp(s, peer.Port());
  s.Flush();
  s.SendStr("abc");
  s.Flush();
  EXPECT_EQ(peer.Receive(kPatienceMs).value_or(Bytes{}), ToBytes("abc"));
}

TEST(Close, TimevalHelpers) {
  TTestSocket s(nullptr);
  wsock32::timeval a{1, 2}, b{1, 2}, c{1, 3};
  EXPECT_TRUE(s.TimevalIsSet(a));
  EXPECT_TRUE(s.TimevalCompare(a, b, true));
  EXPECT_FALSE(s.TimevalCompare(a, b, false));
  EXPECT_TRUE(s.TimevalCompare(a, c, false));
  s.TimevalClear(a);
  EXPECT_FALSE(s.TimevalIsSet(a));
}

TEST(Layers, SocksSettingsAreCheckedAndEveryCloseSwitchesSocksOff) {
  TTestSocket s(nullptr);
  s.SetSocksLevel("4a");
  EXPECT_EQ(s.SocksLevel(), "4A");
  EXPECT_EQ(ErrorOf([&] { s.SetSocksLevel("6"); }), "Invalid socks level. Must be 4, 4A or 5.");
  EXPECT_EQ(ErrorOf([&] { s.SetSocksLevel(" 5"); }), "Invalid socks level. Must be 4, 4A or 5.");
  EXPECT_EQ(s.SocksLevel(), "4A");
  s.SetSocksServer("   ");
  EXPECT_FALSE(s.SocksServerSet) << "blanks count as empty";
  s.SetSocksServer(" proxy ");
  s.SetSocksPort(" 1080 ");
  s.SetSocksUsercode("u");
  EXPECT_EQ(s.SocksServer(), "proxy");
  EXPECT_EQ(s.SocksPort(), "1080");
  s.SetAddr("127.0.0.1");
  s.SetPort("80");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }).rfind("connect: ", 0), 0u) << "the server name resolves nowhere";
  EXPECT_EQ(s.State(), wsClosed) << "nothing was opened";
  EXPECT_EQ(s.SocksPhase, socksPhaseIdle);
  EXPECT_EQ(ErrorOf([&] { s.Listen(); }), "Listening is not supported thru socks server");

  // A close puts the SOCKS settings back; the user code stays.
  s.SetSocksServer("");
  s.SetProto("udp");
  s.SetPort("9");
  s.Connect();
  ASSERT_EQ(s.State(), wsConnected);
  EXPECT_EQ(ErrorOf([&] { s.SetSocksServer("y"); }), "Can't change socks server if not closed");
  EXPECT_EQ(ErrorOf([&] { s.SetSocksPort("1"); }), "Can't change socks port if not closed");
  EXPECT_EQ(ErrorOf([&] { s.SetSocksLevel("5"); }), "Can't change socks level if not closed");
  s.Close();
  EXPECT_EQ(s.SocksServer(), "");
  EXPECT_EQ(s.SocksPort(), "");
  EXPECT_EQ(s.SocksLevel(), "5");
  EXPECT_EQ(s.SocksUsercode(), "u");
  EXPECT_EQ(s.SocksPhase, socksPhaseIdle);
}
