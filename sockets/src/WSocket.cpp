// The socket object: construction and destruction, the hidden notification window and its procedure, the
// dispatch of the component's messages, the select notifications, the event triggers, background exceptions,
// error reporting, the message pump, and closing, aborting, flushing and pausing.
#include "sockets/WSocket.h"

#include <exception>
#include <mutex>
#include <unordered_set>

namespace ws = WSocket;

namespace {

constexpr const char* kWindowClassName = "XSocketWindowClass";

// A window's extra bytes hold a plain pointer, and C++ cannot ask an arbitrary pointer for its class: the window
// procedure accepts a stored reference only when it names a socket object that is alive now.
struct TLiveSockets {
  std::mutex Lock;
  std::unordered_set<const TCustomWSocket*> Objects;
};

TLiveSockets& LiveSockets() {
  static TLiveSockets* live = new TLiveSockets;
  return *live;
}

void AddLiveSocket(const TCustomWSocket* obj) {
  TLiveSockets& l = LiveSockets();
  std::lock_guard<std::mutex> guard(l.Lock);
  l.Objects.insert(obj);
}

void RemoveLiveSocket(const TCustomWSocket* obj) {
  TLiveSockets& l = LiveSockets();
  std::lock_guard<std::mutex> guard(l.Lock);
  l.Objects.erase(obj);
}

bool IsLiveSocket(const TCustomWSocket* obj) {
  if (obj == nullptr) return false;
  TLiveSockets& l = LiveSockets();
  std::lock_guard<std::mutex> guard(l.Lock);
  return l.Objects.count(obj) != 0;
}

// Two threads creating their first objects at once must not both try to register the class.
std::mutex gWindowClassLock;
WNDCLASSA gWindowClass{0, SocketWindowProc, 0, 4, nullptr, nullptr, nullptr, nullptr, nullptr, kWindowClassName};

}  // namespace

// ---- Notification window ---------------------------------------------------------------------------------------

HWND AllocateSocketWindow(TCustomWSocket* Obj) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  {
    std::lock_guard<std::mutex> guard(gWindowClassLock);
    gWindowClass.hInstance = instance;
    WNDCLASSA existing{};
    if (GetClassInfoA(instance, kWindowClassName, &existing) == 0) {
      if (RegisterClassA(&gWindowClass) == 0) return nullptr;
    }
  }
  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, kWindowClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
  if (window != nullptr) SetWindowLongA(window, 0, reinterpret_cast<LONG_PTR>(Obj));
  return window;
}

void ReleaseSocketWindow(HWND Window) {
  DestroyWindow(Window);
}

LRESULT SocketWindowProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto* obj = reinterpret_cast<TCustomWSocket*>(GetWindowLongA(Window, 0));
  if (!IsLiveSocket(obj)) return DefWindowProcA(Window, Msg, wParam, lParam);
  TMessage msgRec{Msg, wParam, lParam, 0};
  obj->WndProc(msgRec);
  return msgRec.Result;
}

// ---- Construction and destruction ------------------------------------------------------------------------

TCustomWSocket::TCustomWSocket(TComponent* AOwner) : TComponent(AOwner) {
  FOwnerThread = std::this_thread::get_id();
  AddLiveSocket(this);
  NotifyWindow = AllocateSocketWindow(this);
  SendBlockSize = DefaultBlockSize;
  FDnsResultList = new TStringList;
  ResetToDefaults();
  ++InstanceCount;
}

TCustomWSocket::~TCustomWSocket() {
  Destroying();
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  // A close that fails without an OnError handler must not stop the window, the queue and the list from being
  // released.
  try {
    if (FState != wsClosed) Close();
  } catch (...) {
  }
  if (--InstanceCount < 1) {
    try {
      UnloadWinsock();
    } catch (...) {
    }
    InstanceCount = 0;
  }
  ClearSendQueue();
  delete FDnsResultList;
  FDnsResultList = nullptr;
  RemoveLiveSocket(this);
  if (NotifyWindow != nullptr) {
    SetWindowLongA(NotifyWindow, 0, 0);
    ReleaseSocketWindow(NotifyWindow);
    NotifyWindow = nullptr;
  }
}

void TCustomWSocket::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
}

void TCustomWSocket::ResetToDefaults() {
  SockAddr.sin_family = AF_INET;
  AddressFamily = AF_INET;
  PortAssigned = false;
  AddrAssigned = false;
  AddrResolved = false;
  PortResolved = false;
  ProtoResolved = false;
  LocalPortResolved = false;
  ProtoAssigned = true;
  ProtoNum = IPPROTO_TCP;
  FProto = "tcp";
  SocketType = SOCK_STREAM;
  FLocalPort = "0";
  FLocalAddr = "0.0.0.0";
  FLingerOnOff = wsLingerOn;
  FLingerTimeout = 0;
  SocketHandle = INVALID_SOCKET;
  FState = wsClosed;
  TCustomWSocket::SessionDefaults(false);
  FFlushTimeout = 60;
}

// ---- Sessions ------------------------------------------------------------------------------------------------

void TCustomWSocket::BeginSession(SOCKET Handle, bool Connecting, bool Defaults) {
  {
    std::lock_guard<std::mutex> guard(FSendGuard);
    SocketHandle = Handle;
    FSendFailed = false;
    FSession = FSession + 1 + (FSession & 1);
  }
  CloseNotified = false;
  if (Defaults) SessionDefaults(Connecting);
}

SOCKET TCustomWSocket::EndSession() {
  // Under the send guard: once the handle is taken, no send on it is in flight or can start.
  std::lock_guard<std::mutex> guard(FSendGuard);
  FSendFailed = false;
  const SOCKET handle = SocketHandle.exchange(INVALID_SOCKET);
  if (handle != INVALID_SOCKET && (FSession & 1) != 0) ++FSession;
  return handle;
}

void TCustomWSocket::SessionDefaults(bool Connecting) {
  SendQueueEmpty = true;
  FReadCount = 0;
  Paused = false;
}

void TCustomWSocket::TellUntoldEnd(WORD Error) {
  // As after a send that fails for good: the object is reset first, so that a handler may open the next session
  // at once; the mark keeps the SOCKS layer's record of a negotiation that the end cut off.
  CloseNotified = true;
  try {
    ResetToDefaults();
  } catch (...) {
  }
  TriggerSessionClosed(Error);
}

// ---- Message dispatch --------------------------------------------------------------------------------------

void TCustomWSocket::WndProc(TMessage& MsgRec) {
  // Set first: after the release message nothing of the object may be touched.
  MsgRec.Result = 0;
  try {
    if (MsgRec.Msg == WM_TRIGGER_EXCEPTION) throw ESocketException("Test exception in WSocket");
    if (!HandleOwnMessage(MsgRec))
      MsgRec.Result = DefWindowProcA(NotifyWindow, MsgRec.Msg, MsgRec.WParam, MsgRec.LParam);
  } catch (Exception& E) {
    MsgRec.Result = 0;
    HandleBgException(E);
  }
}

void TCustomWSocket::Dispatch(TMessage& Message) {
  if (!HandleOwnMessage(Message)) TComponent::Dispatch(Message);
}

bool TCustomWSocket::HandleOwnMessage(TMessage& Msg) {
  switch (Msg.Msg) {
    case WM_ASYNCSELECT: HandleSelectMessage(Msg); return true;
    case WM_ASYNCGETHOSTBYNAME: HandleHostByNameMessage(Msg); return true;
    case WM_ASYNCGETHOSTBYADDR: HandleHostByAddrMessage(Msg); return true;
    case WM_CLOSE_DELAYED: HandleCloseDelayedMessage(Msg); return true;
    case WM_SEND_FAILED: HandleSendFailedMessage(Msg); return true;
    case WM_WSOCKET_RELEASE: HandleReleaseMessage(Msg); return true;
    default: return false;
  }
}

void TCustomWSocket::HandleBgException(Exception& E) {
  bool CanClose = true;
  if (Assigned(OnBgException)) {
    try {
      OnBgException(this, E, CanClose);
    } catch (...) {
    }
  }
  if (CanClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

void TCustomWSocket::HandleSelectMessage(TMessage& Msg) {
  // Without a socket nothing is left to notify about: a write notification that Send posted before a close
  // carries INVALID_SOCKET too, and must not report a closed socket's data as sent.
  const SOCKET handle = SocketHandle;
  if (handle == INVALID_SOCKET || Msg.WParam != handle || Paused) return;
  WORD events = WSAGETSELECTEVENT(Msg.LParam);
  WORD error = WSAGETSELECTERROR(Msg.LParam);
  // The notification belongs to the session it came for. A handler that closed the socket (perhaps to open
  // another at once) has ended that session: the remaining steps would report its end a second time, or close
  // the new one.
  const TSessionGuard session(*this);
  if ((events & FD_CONNECT) != 0) {
    ChangeState(wsConnected);
    if (session.Current()) TriggerSessionConnected(error);
    if (session.Current() && error != 0 && FState != wsClosed) Close();
  }
  if ((events & FD_READ) != 0 && session.Current()) ReceiveLoop(error);
  if ((events & FD_WRITE) != 0 && session.Current()) {
    TryToSend();
    if (session.Current() && SendQueueEmpty) TriggerDataSent(error);
  }
  if ((events & FD_ACCEPT) != 0 && session.Current()) TriggerSessionAvailable(error);
  if ((events & FD_CLOSE) == 0 || !session.Current() || FState == wsConnecting) return;
  ReceiveLoop(0);
  // A call that a handler made there may have met the report of a reset or lost connection, which ends the
  // session without telling of it. Unless a handler has opened another since, that end is this notification's.
  if (session.EndedUntold()) TellUntoldEnd(error);
  if (!session.Current()) return;
  if (!CloseNotified) {
    CloseNotified = true;
    TriggerSessionClosed(error);
  }
  if (session.Current() && FState != wsClosed) Close();
}

void TCustomWSocket::HandleCloseDelayedMessage(TMessage& Msg) {
  Close();
}

void TCustomWSocket::HandleReleaseMessage(TMessage& Msg) {
  delete this;
}

void TCustomWSocket::HandleSendFailedMessage(TMessage& Msg) {
  const auto work = static_cast<std::uint16_t>(static_cast<std::uint32_t>(Msg.LParam) >> 16);
  const auto error = static_cast<WORD>(Msg.LParam & 0xFFFF);
  // A close since the failure has ended that session, and one opened since is none of this message's business.
  const bool current = FSession == static_cast<std::uint32_t>(Msg.WParam);
  if ((work & (kDeferSessionFatal | kDeferReportClose)) != 0 && current) {
    if ((work & kDeferReportClose) != 0) CloseForReport();
    if ((work & kDeferSessionFatal) != 0) {
      // The owner may have reported the session's end already (an FD_CLOSE handled while this was queued).
      const bool notify = !CloseNotified;
      CloseNotified = true;
      Close();
      if (notify) TriggerSessionClosed(error);
    }
  }
  if ((work & kDeferErrorEvent) != 0) {
    FLastError = error;
    TriggerError();
  }
}

bool TCustomWSocket::OnOwnerThread() const {
  return std::this_thread::get_id() == FOwnerThread;
}

void TCustomWSocket::DeferToOwner(std::uint16_t Work, int Error, std::uint32_t Session) {
  {
    std::lock_guard<std::mutex> guard(FSendGuard);
    if ((Work & (kDeferSessionFatal | kDeferReportClose)) != 0 && FSession == Session) FSendFailed = true;
  }
  // Posted once the guard is released: the guard is never held while another lock is taken.
  PostMessageA(NotifyWindow, WM_SEND_FAILED, Session,
               static_cast<LPARAM>((static_cast<std::uint32_t>(Work) << 16) | (static_cast<std::uint32_t>(Error) & 0xFFFF)));
}

// ---- State and triggers ------------------------------------------------------------------------------------

void TCustomWSocket::ChangeState(TSocketState NewState) {
  TSocketState oldState = FState.exchange(NewState);
  TriggerChangeState(oldState, NewState);
}

bool TCustomWSocket::TriggerDataAvailable(WORD Error) {
  if (!Assigned(OnDataAvailable)) return false;
  OnDataAvailable(this, Error);
  return true;
}

void TCustomWSocket::TriggerSessionAvailable(WORD Error) {
  if (Assigned(OnSessionAvailable)) OnSessionAvailable(this, Error);
}

void TCustomWSocket::TriggerSessionConnected(WORD Error) {
  if (Assigned(OnSessionConnected)) OnSessionConnected(this, Error);
}

void TCustomWSocket::TriggerSessionClosed(WORD Error) {
  if (Assigned(OnSessionClosed)) OnSessionClosed(this, Error);
}

void TCustomWSocket::TriggerDataSent(WORD Error) {
  if (Assigned(OnDataSent)) OnDataSent(this, Error);
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
  if (Assigned(OnChangeState)) OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::TriggerDnsLookupDone(WORD Error) {
  if (Assigned(OnDnsLookupDone)) OnDnsLookupDone(this, Error);
}

void TCustomWSocket::TriggerError() {
  if (Assigned(OnError)) OnError(this);
}

void TCustomWSocket::TriggerSendData(std::int32_t BytesSent) {
  if (Assigned(OnSendData)) OnSendData(this, BytesSent);
}

// ---- Error reporting ------------------------------------------------------------------------------------------

void TCustomWSocket::RaiseException(const std::string& Msg) {
  if (Assigned(OnError)) {
    TriggerError();
    return;
  }
  throw ESocketException(Msg);
}

void TCustomWSocket::RaiseExceptionFmt(const std::string& Fmt, std::initializer_list<TVarRec> Args) {
  if (Assigned(OnError)) {
    TriggerError();
    return;
  }
  throw ESocketException(Fmt, Args);
}

void TCustomWSocket::RaiseSocketError(const std::string& SockFunc) {
  std::int32_t code = ws::WSAGetLastError();
  std::string message =
      "Error " + std::to_string(code) + " in function " + SockFunc + "\r\n" + WSocketErrorText(code);
  const bool closes = code == WSAECONNRESET || code == WSAENOTCONN;
  if (!OnOwnerThread()) {
    // Only Send comes here from another thread: the caller learns of the failure now, the owner does the rest.
    FLastError = code;
    const bool toHandler = Assigned(OnError);
    std::uint16_t work = 0;
    if (closes) work |= kDeferReportClose;
    if (toHandler) work |= kDeferErrorEvent;
    if (work != 0) DeferToOwner(work, code, FSession);
    if (toHandler) return;
    RaiseException(message);
    return;
  }
  if (closes) CloseForReport();
  FLastError = code;
  RaiseException(message);
}

// ---- Message pump -----------------------------------------------------------------------------------------------

void TCustomWSocket::MessagePump() {
  if (FMultiThreaded)
    ProcessMessages();
  else
    ApplicationProcessMessages();
}

bool TCustomWSocket::ProcessOneMessage() {
  MSG msg{};
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == 0) return false;
  if (msg.message == WM_QUIT) {
    PumpTerminated = true;
  } else {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

void TCustomWSocket::ProcessMessages() {
  while (ProcessOneMessage()) {
  }
}

// ---- Closing, aborting, flushing, pausing ---------------------------------------------------------------------

void TCustomWSocket::CloseForReport() {
  ws::closesocket(EndSession());
  ChangeState(wsClosed);
}

void TCustomWSocket::DoClose(bool Shut, WORD Error) {
  if (SocketHandle == INVALID_SOCKET) {
    if (FState != wsClosed) {
      ChangeState(wsClosed);
      ResetToDefaults();
    }
    return;
  }
  if (FState == wsClosed) return;
  if (Shut) Shutdown(SD_SEND);
  SOCKET handle = EndSession();
  const TSessionGuard ended(*this);
  while (ws::closesocket(handle) != 0) {
    FLastError = ws::WSAGetLastError();
    if (FLastError == WSAEWOULDBLOCK) {
      MessagePump();
      continue;
    }
    if (FLastError == WSANOTINITIALISED) break;
    RaiseSocketError("Disconnect (closesocket)");
    return;
  }
  // A handler run by the pump may have opened the next session: it is not this close's to mark or change.
  if (!ended.Current()) return;
  // This close tells of the end, also when a handler opens the next session from OnChangeState.
  const bool tell = !IsDestroying() && !CloseNotified;
  CloseNotified = true;
  ChangeState(wsClosed);
  if (tell) TriggerSessionClosed(FEndError.value_or(Error));
  // A handler that opened the next session from these events keeps it: the reset would lose its settings.
  if (!ended.Current()) return;
  try {
    ResetToDefaults();
  } catch (...) {
  }
}

void TCustomWSocket::Close() {
  DoClose(true, 0);
}

void TCustomWSocket::CloseDelayed() {
  PostMessageA(NotifyWindow, WM_CLOSE_DELAYED, 0, 0);
}

void TCustomWSocket::Release() {
  PostMessageA(NotifyWindow, WM_WSOCKET_RELEASE, 0, 0);
}

void TCustomWSocket::Abort() {
  // A cancel that the library refuses (its answer is already on the way) must not keep the socket open: the
  // abort completes first, and the refusal is reported after it.
  std::exception_ptr cancelFailure;
  try {
    CancelDnsLookup();
  } catch (...) {
    cancelFailure = std::current_exception();
  }
  ClearSendQueue();
  if (FState == wsConnected && ProtoNum == IPPROTO_TCP) {
    FLingerOnOff = wsLingerOff;
    ApplyLinger();
  }
  DoClose(false, 0);
  if (cancelFailure) std::rethrow_exception(cancelFailure);
}

void TCustomWSocket::Flush() {
  // A queue without a block has nothing to send, and TryToSend never marks it empty: waiting for the mark would
  // pump until the socket closed.
  auto queueHoldsBlock = [this] {
    std::lock_guard<std::mutex> guard(FSendGuard);
    return !SendQueue.empty();
  };
  while (SocketHandle != INVALID_SOCKET && !SendQueueEmpty && queueHoldsBlock()) {
    TryToSend();
    MessagePump();
  }
}

void TCustomWSocket::WaitForClose() {
  while (SocketHandle != INVALID_SOCKET && FState != wsClosed) {
    MessagePump();
    ULONG count = 0;
    if (ws::ioctlsocket(SocketHandle, FIONREAD, &count) == SOCKET_ERROR) break;
    if (count > 0) TriggerDataAvailable(0);
    char probe = 0;
    if (DoRecv(&probe, 0, 0) < 1) {
      FLastError = ws::WSAGetLastError();
      if (FLastError != WSAEWOULDBLOCK) break;
    }
    MessagePump();
  }
}

void TCustomWSocket::Shutdown(int How) {
  if (SocketHandle != INVALID_SOCKET) ws::shutdown(SocketHandle, How);
}

void TCustomWSocket::Pause() {
  Paused = true;
  ws::WSAAsyncSelect(SocketHandle, NotifyWindow, 0, 0);
}

void TCustomWSocket::Resume() {
  Paused = false;
  ws::WSAAsyncSelect(SocketHandle, NotifyWindow, WM_ASYNCSELECT, SelectMask);
}

void TCustomWSocket::ClearSendQueue() {
  std::lock_guard<std::mutex> guard(FSendGuard);
  for (TBuffer* block : SendQueue) delete block;
  SendQueue.clear();
}

bool TCustomWSocket::TimevalIsSet(wsock32::timeval& tv) {
  return tv.tv_sec != 0 || tv.tv_usec != 0;
}

void TCustomWSocket::TimevalClear(wsock32::timeval& tv) {
  tv.tv_sec = 0;
  tv.tv_usec = 0;
}

bool TCustomWSocket::TimevalCompare(wsock32::timeval& tv, wsock32::timeval& uv, bool Equal) {
  bool same = tv.tv_sec == uv.tv_sec && tv.tv_usec == uv.tv_usec;
  return Equal ? same : !same;
}
