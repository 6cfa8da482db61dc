// The event-driven socket component of the suite: TWSocket and its class family, over the platform's Winsock 1.1
// library ("wsock32.dll"), which this unit binds at run time.
//
// What it offers:
// - TCustomWSocket, the base class: one non-blocking socket whose platform notifications arrive as window
//   messages on a hidden window and become events (OnDataAvailable, OnSessionConnected ...); connect, listen,
//   accept, duplicate, send through a queue of 1514-byte blocks, receive, close, pause, asynchronous name lookups.
// - TCustomSocksWSocket: an outgoing TCP connection through a SOCKS 4, 4A or 5 server (CONNECT only; user name and
//   password for version 5). OnSessionConnected comes once the server reports the destination reached; bytes that
//   the server sent behind its reply are handed out first. Set SocksServer, SocksPort and SocksLevel again before
//   each Connect: every close switches SOCKS off.
// - TCustomLineWSocket: with LineMode on, received data is handed out one line (up to and including LineEnd) per
//   OnDataAvailable, optionally echoed (LineEcho) and edited for backspace and tab (LineEdit). A peer that never
//   sends the terminator cannot make the buffer grow past LineBufferLimit: what is held then is handed out as it
//   is, without a terminator.
// - TCustomSyncWSocket: WaitUntilReady and Synchronize, which keep the thread's messages flowing until a flag that
//   an event handler sets comes true (0), or the application or the socket's own pump is asked to end (12001).
// - TWSocket, which publishes the family's properties and events for stored form descriptions;
//   RegisterSocketClasses() makes the classes known to the form reader.
// - The run-time binding (LoadWinsockProc, UnloadWinsock, the bound routines in namespace WSocket), the error
//   texts (WSocketErrorText), the resolution routines (WSocketResolveHost/Port/Proto) and ESocketException.
// With SocksServer empty and LineMode off (the suite's only use) the three layers pass everything to the base.
//
// Threads. The component belongs to the thread that creates it (its owner): the notifications are handled there,
// the events fire there, and every operation is called there, with ONE exception: one other thread may call Send,
// SendStr and ClearSendQueue (nothing else) on the object while the owner handles its notifications and makes its
// own calls (the broadcast sender's frame thread does: it drops what a failed frame left queued). What makes that safe is the send guard, a mutex over the send queue, the
// taking of the socket handle and the mark of a send that failed on the other thread. It is held by Send and by
// the write notification's TryToSend while they fill and drain the queue, by Flush's look at the queue, by the
// closes and Abort while they take the handle, by Abort, Connect, Listen and the destructor while they empty the
// queue; it is never held while an event handler runs, it is released when an exception leaves, and Send never
// waits for the owner's message handling.
// On the other thread Send changes nothing outside the guard: OnSendData fires on that thread (after the guard is
// released, before Send returns), but a send that fails for good, or finds the socket not connected, only marks
// the socket under the guard so that nothing more is sent on it, and posts the rest to the owner's notification
// window: the close, the state change, OnSessionClosed (still at most once per session) and OnError. The caller
// still gets at once what the owner would get: the ESocketException of the report (or -1 when OnError is
// assigned), and from then on every Send fails as on a socket that is not connected.
// Not guarded: the properties, their setters and the event references. They must not change while the other
// thread may send; State, SocketHandle and LastError are atomic, so that thread may read them.
//
// Errors: operations report through RaiseException/RaiseSocketError: an ESocketException, or the OnError event
// when a handler is assigned. An exception that escapes an event handler during notification handling goes to
// OnBgException (the socket is aborted unless the handler clears CanClose); one that escapes OnDataAvailable in the
// receive loop ends the loop and is dropped; one raised inside the program's own call reaches that call.
//
// Order of virtual operations: each class declares its virtual operations in the order that its vtable keeps them.
// What C++ cannot keep: the constructor cannot be virtual (the class registry's factories create components by
// class name instead), and the component-notification override is the class library's Notification. A base
// constructor or destructor runs only its own class's versions of virtual operations, so each layer's constructor
// sets its own defaults after the base constructor's ResetToDefaults, and the destruction steps of TCustomWSocket
// (cancel the lookup, close, unload, free) run with the base versions: none of the layers' overrides does anything
// observable while an object is being destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "rtl/classes.h"
#include "rtl/sysutils.h"
#include "rtl/typinfo.h"
#include "sockets/WSockbuf.h"
#include "win32/win32.h"
#include "wsock32/winsock.h"

TARVO_DECLARE_EXCEPTION(ESocketException, Exception);

// ---- Types ------------------------------------------------------------------------------------------------

enum TSocketState : std::uint8_t {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};
enum TSocketSendFlags : std::uint8_t { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff : std::uint8_t { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TWSocketOption : std::uint8_t { wsoNoReceiveLoop };
// A set of TWSocketOption: member m is the bit 1 << m.
using TWSocketOptions = std::uint8_t;
constexpr TWSocketOptions WSocketOptionBit(TWSocketOption option) {
  return static_cast<TWSocketOptions>(1u << option);
}
enum TSocksAuthentication : std::uint8_t { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState : std::uint8_t { socksAuthStarting, socksAuthSucceeded, socksAuthFailed, socksAuthNotRequired };

// Events. Every event receives the component as Sender first; Error is a Winsock error code, 0 = none.
using TDataAvailable = TEvent<TObject* /*Sender*/, WORD /*Error*/>;
using TDataSent = TEvent<TObject*, WORD>;
using TSessionClosed = TEvent<TObject*, WORD>;
using TSessionAvailable = TEvent<TObject*, WORD>;
using TSessionConnected = TEvent<TObject*, WORD>;
using TDnsLookupDone = TEvent<TObject*, WORD>;
using TSendData = TEvent<TObject*, std::int32_t /*BytesSent*/>;
using TChangeState = TEvent<TObject*, TSocketState /*OldState*/, TSocketState /*NewState*/>;
using TBgExceptionEvent = TEvent<TObject*, Exception& /*E*/, bool& /*CanClose*/>;
using TSocksErrorEvent = TEvent<TObject*, std::int32_t /*Error*/, std::string /*Msg*/>;
using TSocksAuthStateEvent = TEvent<TObject*, TSocksAuthState>;

// The component's private window messages, posted to each object's hidden window.
constexpr UINT WM_ASYNCSELECT = WM_USER + 1;
constexpr UINT WM_ASYNCGETHOSTBYNAME = WM_USER + 2;
constexpr UINT WM_ASYNCGETHOSTBYADDR = WM_USER + 3;
constexpr UINT WM_CLOSE_DELAYED = WM_USER + 4;
constexpr UINT WM_WSOCKET_RELEASE = WM_USER + 5;
constexpr UINT WM_TRIGGER_EXCEPTION = WM_USER + 6;
// What a Send on another thread left for the owner (see the top of this file): wParam the session it failed
// in, lParam the work (low 16 bits: the error, high 16 bits: TCustomWSocket's deferred-work bits).
constexpr UINT WM_SEND_FAILED = WM_USER + 7;
constexpr UINT WM_TRIGGER_DATA_AVAILABLE = WM_USER + 20;

class TCustomWSocket;

// ---- The run-time binding of the socket library ------------------------------------------------------------

// Loads and starts "wsock32.dll" (Winsock 1.1) when it is not loaded yet, then returns the entry point named
// Name; null, without an error, for an empty Name. Raises ESocketException when the library cannot be loaded,
// does not start, or lacks the entry point.
FARPROC LoadWinsockProc(const std::string& Name);
// Stops and releases the library and forgets every bound entry point; sets InstanceCount to 0.
void UnloadWinsock();
// The number of live objects of the family. The last destruction unloads the library.
extern std::atomic<std::int32_t> InstanceCount;

// The bound routines: the Winsock 1.1 functions that the component uses, with their prototypes. Each binds its
// entry point by name on its first call (raising ESocketException as LoadWinsockProc does) and then passes its
// arguments and result through unchanged. They live in this namespace because wsock32/winsock.h declares the
// same names for the programs' direct link, which the component does not use.
namespace WSocket {
int WSAStartup(WORD wVersionRequired, LPWSADATA lpWSAData);
int WSACleanup();
void WSASetLastError(int iError);
int WSAGetLastError();
int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle);
HANDLE WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf, int buflen);
int WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, LONG lEvent);
struct servent* getservbyname(const char* name, const char* proto);
struct protoent* getprotobyname(const char* name);
struct hostent* gethostbyname(const char* name);
SOCKET socket(int af, int type, int protocol);
int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen);
u_short ntohs(u_short netshort);
int listen(SOCKET s, int backlog);
int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp);
char* inet_ntoa(struct in_addr in);
ULONG inet_addr(const char* cp);
u_short htons(u_short hostshort);
int getsockname(SOCKET s, struct sockaddr* name, int* namelen);
int getpeername(SOCKET s, struct sockaddr* name, int* namelen);
int connect(SOCKET s, const struct sockaddr* name, int namelen);
int closesocket(SOCKET s);
int bind(SOCKET s, const struct sockaddr* addr, int namelen);
SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrlen);
}  // namespace WSocket

// ---- Unit routines ---------------------------------------------------------------------------------------------

// English text of a Winsock error code; "Not a WinSock error" for any code it does not know.
std::string WSocketErrorText(std::int32_t ErrCode);
// Host name or dotted address to an IPv4 address in network byte order; "255.255.255.255" gives 0xFFFFFFFF.
ULONG WSocketResolveHost(const std::string& InAddr);
// Port number (leading digits, modulo 65536) or service name to a port in host byte order.
u_short WSocketResolvePort(const std::string& Port, const std::string& Proto);
// Protocol number or name to the protocol number.
std::int32_t WSocketResolveProto(const std::string& Proto);
// The decimal value of the leading digits after leading blanks (0 when there are none); beyond 32 bits the
// value wraps, which keeps ports right modulo 65536.
std::int32_t ParseLeadingInt(const std::string& S);
bool IsDigit(char Ch);
// Four groups of decimal digits of value at most 255, separated by single dots, blanks allowed around.
bool IsDottedIP(const std::string& S);
// The first of the Len bytes at Data equal to Value, or null.
const std::uint8_t* FindByte(const void* Data, std::int32_t Len, std::uint8_t Value);
// Appends every address of the host entry to the list as dotted text.
void HostEntToList(const hostent* HostEnt, TStrings* ToList);

// The hidden notification window of an object, and the procedure of every such window.
HWND AllocateSocketWindow(TCustomWSocket* Obj);
void ReleaseSocketWindow(HWND Window);
LRESULT SocketWindowProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam);

// Makes TCustomWSocket, the three layers and TWSocket known to the form reader (idempotent).
void RegisterSocketClasses();

// ---- TCustomWSocket ------------------------------------------------------------------------------------------

class TCustomWSocket : public TComponent {
 public:
  TARVO_PUBLISHED(TCustomWSocket)
  explicit TCustomWSocket(TComponent* AOwner);
  ~TCustomWSocket() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // The class library's message dispatch finds the component's message handlers through this.
  void Dispatch(TMessage& Message) override;

  // Virtual operations, in slot order. -------------------------------------------------------------------
  virtual void WndProc(TMessage& MsgRec);

 protected:
  virtual void ResetToDefaults();
  virtual void DoClose(bool Shut, WORD Error);

 public:
  virtual void SetPort(const std::string& sPort);
  virtual void SetProto(const std::string& sProto);

 protected:
  virtual std::int32_t GetRcvdCount();
  virtual void BindSocket();
  // One platform send of the given bytes (sendto on a datagram socket, send otherwise). Called by TryToSend
  // with the send guard held, so its OnSendData is fired by TryToSend once the guard is released.
  virtual int RealSend(const void* Data, int Len);

 public:
  virtual void RaiseExceptionFmt(const std::string& Fmt, std::initializer_list<TVarRec> Args);
  virtual void RaiseException(const std::string& Msg);

 protected:
  virtual void HandleBgException(Exception& E);
  virtual bool TriggerDataAvailable(WORD Error);
  virtual void TriggerSessionAvailable(WORD Error);
  virtual void TriggerSessionConnected(WORD Error);
  virtual void TriggerSessionClosed(WORD Error);
  virtual void TriggerDataSent(WORD Error);
  virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
  virtual void TriggerDnsLookupDone(WORD Error);
  virtual void TriggerError();
  virtual int DoRecv(void* Buffer, int BufferSize, int Flags);
  virtual int DoRecvFrom(SOCKET FHSocket, void* Buffer, int BufferSize, int Flags, sockaddr_in& From,
                         int& FromLen);

 public:
  virtual void Connect();
  virtual void Close();
  virtual void CloseDelayed();
  virtual void Release();
  virtual void Abort();
  virtual void Flush();
  virtual void WaitForClose();
  virtual void Listen();
  virtual SOCKET Accept();
  virtual int Receive(void* Buffer, int BufferSize);
  virtual std::string ReceiveStr();
  virtual int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen);
  // Safe from one thread besides the creating one (see the top of this file).
  virtual int Send(const void* Data, int Len);
  virtual int SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len);
  virtual int SendStr(const std::string& Str);
  virtual void DnsLookup(const std::string& HostName);
  virtual void ReverseDnsLookup(const std::string& HostAddr);
  virtual void CancelDnsLookup();
  virtual std::string GetPeerAddr();
  virtual std::string GetPeerPort();
  virtual int GetPeerName(sockaddr_in& Name, int NameLen);
  virtual std::string GetLocalPortText();
  virtual bool TimevalIsSet(wsock32::timeval& tv);
  virtual void TimevalClear(wsock32::timeval& tv);
  virtual bool TimevalCompare(wsock32::timeval& tv, wsock32::timeval& uv, bool Equal);
  virtual int GetSockName(sockaddr_in& saddr, int& saddrlen);
  virtual void Dup(SOCKET NewHSocket);
  virtual void Shutdown(int How);
  virtual void Pause();
  virtual void Resume();
  virtual void MessagePump();

  // Non-virtual operations. -----------------------------------------------------------------------------------
  // Reports the failure of the platform call just made on this thread: "Error <code> in function <SockFunc>",
  // CR LF, the error's text. 10054 and 10057 also close the handle and enter wsClosed.
  void RaiseSocketError(const std::string& SockFunc);
  bool ProcessOneMessage();
  void ProcessMessages();
  void ChangeState(TSocketState NewState);
  void TriggerSendData(std::int32_t BytesSent);
  void ClearSendQueue();
  void TryToSend();
  void ApplyLinger();

  // Properties. ------------------------------------------------------------------------------------------------
  const std::string& GetAddr() const { return FAddr; }
  const std::string& Addr() const { return FAddr; }
  void SetAddr(const std::string& InAddr);
  const std::string& GetPort() const { return FPort; }
  const std::string& Port() const { return FPort; }
  const std::string& GetProto() const { return FProto; }
  const std::string& Proto() const { return FProto; }
  const std::string& LocalAddr() const { return FLocalAddr; }
  void SetLocalAddr(const std::string& sLocalAddr);
  const std::string& LocalPort() const { return FLocalPort; }
  void SetLocalPort(const std::string& sLocalPort);
  std::string PeerAddr() { return GetPeerAddr(); }
  std::string PeerPort() { return GetPeerPort(); }
  const std::string& DnsResult() const { return FDnsResult; }
  TStrings* DnsResultList() const { return FDnsResultList; }
  TSocketState State() const { return FState; }
  std::int32_t ReadCount() const { return FReadCount; }
  std::int32_t RcvdCount() { return GetRcvdCount(); }
  std::int32_t LastError() const { return FLastError; }
  bool MultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
  TWSocketOptions ComponentOptions() const { return FComponentOptions; }
  void SetComponentOptions(TWSocketOptions Value) { FComponentOptions = Value; }
  std::int32_t FlushTimeout() const { return FFlushTimeout; }
  void SetFlushTimeout(std::int32_t Value) { FFlushTimeout = Value; }
  TSocketSendFlags GetSendFlags();
  TSocketSendFlags SendFlags() { return GetSendFlags(); }
  void SetSendFlags(TSocketSendFlags newValue);
  TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
  void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
  std::int32_t LingerTimeout() const { return FLingerTimeout; }
  void SetLingerTimeout(std::int32_t Value) { FLingerTimeout = Value; }

 protected:
  // Message handlers (also reached through Dispatch); HandleOwnMessage picks one by number, false for a message
  // that is not the component's.
  bool HandleOwnMessage(TMessage& Msg);
  void HandleSelectMessage(TMessage& Msg);
  void HandleHostByNameMessage(TMessage& Msg);
  void HandleHostByAddrMessage(TMessage& Msg);
  void HandleCloseDelayedMessage(TMessage& Msg);
  void HandleReleaseMessage(TMessage& Msg);
  void HandleSendFailedMessage(TMessage& Msg);

  void AppendToSendQueue(const void* Data, int Len);
  void ReceiveLoop(WORD Error);

  // Sessions. A session runs from the opening of a socket (Connect, Listen, Dup: BeginSession) to its end (a
  // close, an abort, the report of a lost connection: EndSession, which takes the handle); each of the two
  // changes FSession, which is odd while a session is open. A step that hands control to an event handler takes
  // a TSessionGuard first and asks it afterwards whether its session is still the current one: a handler may
  // have closed the socket, or closed it and opened the next session.
  class TSessionGuard {
   public:
    explicit TSessionGuard(const TCustomWSocket& Socket) : FSocket(Socket), FNumber(Socket.FSession) {}
    // Nothing has been opened or ended since the guard was taken.
    bool Current() const { return FSocket.FSession == FNumber; }
    // A session has begun since the guard was taken.
    bool Reopened() const { return FSocket.FSession > FNumber + (FNumber & 1); }
    // The session open when the guard was taken has ended without telling of it (the report of 10054 or 10057
    // does that), and nothing has been opened since.
    bool EndedUntold() const {
      return (FNumber & 1) != 0 && FSocket.FSession == FNumber + 1 && !FSocket.CloseNotified &&
             FSocket.FState == wsClosed;
    }

   private:
    const TCustomWSocket& FSocket;
    const std::uint32_t FNumber;
  };
  // The one place where a session begins: the handle becomes the object's, and the session gets its defaults
  // (not for Dup, which replaces the handle and keeps the pause, counts and send queue as they are).
  void BeginSession(SOCKET Handle, bool Connecting, bool Defaults = true);
  SOCKET EndSession();
  // A new session's defaults (also the reset's, for the base's fields): nothing of an ended session reaches the
  // next, whichever path ended it. Connecting: the session is a Connect's (the SOCKS layer negotiates then).
  virtual void SessionDefaults(bool Connecting);

  // Fields, in declaration order. -------------------------------------------------------------------------
  std::string FDnsResult;
  TStringList* FDnsResultList = nullptr;
  std::deque<TBuffer*> SendQueue;
  std::int32_t SendBlockSize = 0;
  std::int32_t SendFlagsValue = 0;
  std::atomic<std::int32_t> FLastError{0};
  HWND NotifyWindow = nullptr;
  // The asynchronous lookups write a host entry (pointers first) here, so it is pointer-aligned.
  alignas(8) char DnsHostBuffer[1025] = {};
  // Pointer-sized here (the platform's lookup handles are HANDLEs); 0 = none pending.
  HANDLE DnsLookupHandle = nullptr;
  bool DnsReplySaved = false;
  TMessage SavedDnsReply{};
  std::int32_t SelectMask = 0;
  // Read by a second sending thread, so atomic (see the top of this file); pointer-sized as SOCKET is.
  std::atomic<SOCKET> SocketHandle{INVALID_SOCKET};
  std::string FAddr;
  bool AddrResolved = false;
  std::int32_t AddressFamily = 0;
  bool AddrAssigned = false;
  std::int32_t ProtoNum = 0;
  bool ProtoAssigned = false;
  bool ProtoResolved = false;
  bool LocalPortResolved = false;
  std::string FProto;
  std::string FPort;
  bool PortAssigned = false;
  bool PortResolved = false;
  std::uint32_t PortNum = 0;
  std::string FLocalPort;
  std::uint32_t LocalPortNum = 0;
  std::string FLocalAddr;
  std::int32_t SocketType = 0;
  TSocketLingerOnOff FLingerOnOff = wsLingerOn;
  std::int32_t FLingerTimeout = 0;
  std::atomic<bool> SendQueueEmpty{false};
  std::int32_t FReadCount = 0;
  bool Paused = false;
  // OnSessionClosed has been fired for the last session begun (BeginSession clears it).
  bool CloseNotified = false;
  // The error that a close during OnSessionConnected(20004) tells instead of its own: the server's end is that
  // session's end. Set only while that event runs.
  std::optional<WORD> FEndError;
  std::int32_t FFlushTimeout = 0;
  bool FMultiThreaded = false;
  TWSocketOptions FComponentOptions = 0;
  std::atomic<TSocketState> FState{wsInvalidState};
  bool PumpTerminated = false;

 public:
  TSessionAvailable OnSessionAvailable;
  TSessionConnected OnSessionConnected;
  TSessionClosed OnSessionClosed;
  TChangeState OnChangeState;
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  TNotifyEvent OnLineTooLong;  // published; nothing fires it
  TDnsLookupDone OnDnsLookupDone;
  TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;

 protected:
  sockaddr_in SockAddr{};

 private:
  // The send guard and what it protects beyond the queue: the OnSendData counts of the sends made while it is
  // held (fired by the holder once it is released).
  enum class TSendOutcome { Stopped, Fatal, Failed };
  struct TSendResult {
    TSendOutcome Outcome = TSendOutcome::Stopped;
    int Error = 0;
    bool QueueEmpty = false;
    SOCKET Handle = INVALID_SOCKET;  // the socket that the result is about
    std::uint32_t Session = 0;       // and its session
    std::vector<std::int32_t> Sent;
  };
  TSendResult TryToSendLocked();
  void FinishSend(TSendResult& Result);
  // The steps of Connect.
  bool ConnectSettingsReady();
  bool ResolveTarget(const std::string& Operation, bool WithLocalPort);
  bool OpenSocket(const char* SockFunc, bool Connecting);
  bool SetConnectOptions();
  void StartConnect();
  // The close that the report of 10054 or 10057 makes: the session ends, wsClosed is entered, nothing is told.
  void CloseForReport();
  // Tells of a session that such a report ended while handlers ran (TSessionGuard::EndedUntold).
  void TellUntoldEnd(WORD Error);
  bool OnOwnerThread() const;
  // The work that a failed Send on another thread hands to the owner.
  enum : std::uint16_t {
    kDeferSessionFatal = 1,  // a send failed for good: close, then OnSessionClosed unless already fired
    kDeferReportClose = 2,   // the report of 10054 or 10057: close the handle and enter wsClosed
    kDeferErrorEvent = 4     // fire OnError with the code
  };
  void DeferToOwner(std::uint16_t Work, int Error, std::uint32_t Session);
  std::mutex FSendGuard;
  // The session number (see TSessionGuard); atomic because a Send on another thread reads it.
  std::atomic<std::uint32_t> FSession{0};
  // Under the send guard: a Send of another thread failed in the current session; nothing more is sent in it
  // until the owner has closed it.
  bool FSendFailed = false;
  std::thread::id FOwnerThread;
  std::vector<std::int32_t>* FSentCounts = nullptr;
  // Receives made through Receive, ReceiveFrom and the receive loop's discarding read: the loop ends after a
  // pass whose handler received nothing, so a handler that leaves data waiting cannot make it spin for ever.
  std::uint64_t FReceiveCalls = 0;

  friend LRESULT SocketWindowProc(HWND, UINT, WPARAM, LPARAM);
};

// ---- The layers ---------------------------------------------------------------------------------------------

// SOCKS client layer. With SocksServer empty every operation passes to the base class. A failed negotiation is
// reported by events (OnSocksError, OnSessionConnected and OnSessionClosed with the same code, 20001 to 20017),
// never raised; a server that ends the connection before the negotiation is done gets OnSessionConnected (20004,
// the server failed) and then OnSessionClosed with the close's own error; refusals before anything is connected
// go through RaiseException.
enum : std::uint8_t { socksPhaseIdle, socksPhaseMethod, socksPhaseAuth, socksPhaseRequest };

class TCustomSocksWSocket : public TCustomWSocket {
 public:
  TARVO_PUBLISHED(TCustomSocksWSocket)
  explicit TCustomSocksWSocket(TComponent* AOwner);

 protected:
  // Overrides, in the base's slot order.
  void ResetToDefaults() override;
  std::int32_t GetRcvdCount() override;
  bool TriggerDataAvailable(WORD Error) override;
  void TriggerSessionConnected(WORD Error) override;
  void TriggerSessionClosed(WORD Error) override;
  int DoRecv(void* Buffer, int BufferSize, int Flags) override;
  void SessionDefaults(bool Connecting) override;

 public:
  void Connect() override;
  void Listen() override;

  // New virtual operations, appended in slot order.
 protected:
  virtual void TriggerSocksConnected(WORD Error);

 public:
  virtual void SetSocksPort(const std::string& sPort);
  virtual void SetSocksServer(const std::string& sServer);

 protected:
  virtual void TriggerSocksError(std::int32_t Error, const std::string& Msg);
  void TriggerSocksAuthState(TSocksAuthState AuthState);
  void SocksDoAuthenticate();
  void SocksDoConnect();
  void SocksError(std::int32_t Error, const std::string& Msg);
  // The layer's settings and phase as every close leaves them.
  void SocksDefaults();

 public:
  void SetSocksLevel(const std::string& newValue);
  const std::string& SocksLevel() const { return FSocksLevel; }
  const std::string& SocksServer() const { return FSocksServer; }
  const std::string& SocksPort() const { return FSocksPort; }
  const std::string& SocksUsercode() const { return FSocksUsercode; }
  void SetSocksUsercode(const std::string& Value) { FSocksUsercode = Value; }
  const std::string& SocksPassword() const { return FSocksPassword; }
  void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
  TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
  void SetSocksAuthentication(TSocksAuthentication Value) { FSocksAuthentication = Value; }

 protected:
  std::uint8_t SocksPhase = socksPhaseIdle;
  std::string FSocksServer;
  std::string FSocksLevel;
  std::string FSocksPort;
  bool SocksServerSet = false;
  std::string FSocksUsercode;
  std::string FSocksPassword;
  TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
  std::uint8_t SocksMethodOffered = 0;
  std::string SocksBindAddr;
  std::string SocksBindPort;
  std::uint8_t SocksReplyBuf[128] = {};
  std::int32_t SocksReplyLen = 0;
  std::int32_t SocksExtraCount = 0;
  std::uint8_t* SocksExtraPos = nullptr;
  // The phase of a negotiation that a close cut off before its end was reported (see ResetToDefaults).
  std::uint8_t SocksPhaseCut = socksPhaseIdle;

 public:
  TSocksErrorEvent OnSocksError;
  TSessionConnected OnSocksConnected;
  TSocksAuthStateEvent OnSocksAuthState;

 private:
  bool SocksRead(std::int32_t Count);
  bool SocksReplyRequest4();
  bool SocksReplyRequest5();
  bool SocksOfferData();
  // The destination is reached: the phase ends, OnSessionConnected (0), then the first data.
  bool SocksDestinationReached();
  // Whether a negotiation step that began in Phase may go on after an event handler returned: the session is the
  // same and connected, and the negotiation has not moved on meanwhile.
  bool SocksStepGoesOn(const TSessionGuard& Session, std::uint8_t Phase) const;
  // Why the negotiation's requests cannot carry the current settings (a field over 255 bytes), or "".
  std::string SocksRequestTooLong() const;
};

// Line-mode layer. With LineMode off it passes everything to the layers below, except that bytes still held from
// line mode are served (and counted by RcvdCount) first.
class TCustomLineWSocket : public TCustomSocksWSocket {
 public:
  TARVO_PUBLISHED(TCustomLineWSocket)
  explicit TCustomLineWSocket(TComponent* AOwner);
  ~TCustomLineWSocket() override;

  // The most bytes held while no terminator has come. When that much is held, it is handed out as a line of its
  // own (keeping back the last LineEnd length - 1 bytes, which may begin a terminator), so a well-behaved peer's
  // lines up to this length arrive whole and a peer that never ends its line costs a bounded amount of memory.
  static constexpr std::int32_t LineBufferLimit = 1024 * 1024;

  // Overrides, in the base's slot order.
  void WndProc(TMessage& MsgRec) override;

 protected:
  std::int32_t GetRcvdCount() override;
  bool TriggerDataAvailable(WORD Error) override;
  void TriggerSessionClosed(WORD Error) override;
  int DoRecv(void* Buffer, int BufferSize, int Flags) override;
  // A new session drops whatever a connection that ended without its close event left held.
  void SessionDefaults(bool Connecting) override;

 public:
  // New virtual operations, appended in slot order.
  virtual void SetLineMode(bool newValue);

 protected:
  virtual void EditLine(std::int32_t& Len);

 public:
  bool LineMode() const { return FLineMode; }
  const std::string& LineEnd() const { return FLineEnd; }
  void SetLineEnd(const std::string& Value) { FLineEnd = Value; }
  bool LineEcho() const { return FLineEcho; }
  void SetLineEcho(bool Value) { FLineEcho = Value; }
  bool LineEdit() const { return FLineEdit; }
  void SetLineEdit(bool Value) { FLineEdit = Value; }

 protected:
  // The held bytes are RcvBufferCount bytes from RcvBuffer + RcvBufferStart, followed by a NUL; the line being
  // offered is the first LineLength of them. Taking bytes from the front only moves RcvBufferStart, so handing
  // out many short lines of one large receive costs no copying; the next receive moves what is left to the
  // front first.
  std::uint8_t* RcvBuffer = nullptr;
  std::int32_t RcvBufferSize = 0;
  std::int32_t RcvBufferCount = 0;
  std::string FLineEnd;
  bool FLineMode = false;
  std::int32_t LineLength = 0;
  bool FLineEcho = false;
  bool FLineEdit = false;
  std::int32_t WaitTimeout = 0;
  std::int32_t WaitDeadline = 0;
  std::int32_t RcvBufferStart = 0;

 private:
  bool FFilling = false;  // the layer's own read is running: DoRecv goes to the socket
  // Bytes were left at the socket because the held bytes reached LineBufferLimit; taking held bytes brings the
  // receive loop back for them.
  bool FReadHeldBack = false;
  void ReceiveLines(bool Rescan);
  void SplitLines(std::int32_t SearchFrom);
  // Offers the pending line until it is taken; false when a handler left it untaken.
  bool OfferLine();
  void TakeFront(std::int32_t Count);
  void ReserveBuffer(std::int32_t Size);
  void FreeBuffer();
};

// Synchronous-wait layer.
using TSyncStep = std::function<void()>;

class TCustomSyncWSocket : public TCustomLineWSocket {
 public:
  TARVO_PUBLISHED(TCustomSyncWSocket)
  explicit TCustomSyncWSocket(TComponent* AOwner);

  // New virtual operations, in slot order.
  // Clears Done, runs Step (when given), then waits as WaitUntilReady.
  virtual std::int32_t Synchronize(const TSyncStep& Step, bool& Done);
  // Runs the socket's message pump (MessagePump) until Done is set (0), or until the application's terminate
  // flag or the socket's own PumpTerminated is set, or WaitTimeout (when above 0) has passed (12001). Done is
  // tested first, so a flag already set returns 0 before any message is handled.
  virtual std::int32_t WaitUntilReady(bool& Done);
};

// The component that forms hold: it publishes the family's properties and events.
class TWSocket : public TCustomSyncWSocket {
 public:
  TARVO_PUBLISHED(TWSocket)
  explicit TWSocket(TComponent* AOwner);
};
