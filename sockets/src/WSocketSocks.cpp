// The SOCKS client layer: its setters, Connect and Listen, the negotiation (method selection, user name and
// password, the SOCKS 4, 4A and 5 connect requests), the reply parser, and the bytes behind the final reply.
//
// Every reply is gathered in SocksReplyBuf and every request is built in a fixed area on the stack, so a
// negotiation allocates nothing. Each step that hands control to an event handler takes a session guard first
// and re-checks afterwards that it may still go on (SocksStepGoesOn): a handler may close the socket, close it
// and connect again, or pump messages and so let a reply that came early move the negotiation on. A step that
// went on regardless would close the new attempt, or send its request behind the next step's, where a relay
// passes it on to the destination as data.
#include <algorithm>
#include <cstring>
#include <utility>

#include "sockets/WSocket.h"

namespace ws = WSocket;

namespace {

// Every length byte holds at most 255; the largest request (SOCKS 4A with a user id and a host name of 255
// bytes each) needs 8 + 255 + 1 + 255 + 1 bytes.
constexpr std::size_t kMaxField = 255;
constexpr std::size_t kRequestArea = 520;
// SocksReplyBuf holds 128 bytes; replies are gathered into at most 127 of them.
constexpr std::int32_t kReplyRoom = 127;
// What the connecting caller's OnSessionConnected gets when the server ends the connection before the
// negotiation is done: the server failed it, in whatever phase.
constexpr WORD kServerEndedNegotiation = 20004;

std::string TrimControls(const std::string& s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= 32) --end;
  return s.substr(begin, end - begin);
}

std::pair<std::int32_t, std::string> Socks5Failure(std::uint8_t reply) {
  switch (reply) {
    case 1: return {20004, "general SOCKS server failure"};
    case 2: return {20005, "connection not allowed by ruleset"};
    case 3: return {20006, "network unreachable"};
    case 4: return {20007, "host unreachable"};
    case 5: return {20008, "connection refused"};
    case 6: return {20009, "time to live expired"};
    case 7: return {20010, "command not supported"};
    case 8: return {20011, "address type not supported"};
    default: return {20012, "unassigned error #" + std::to_string(reply)};
  }
}

std::pair<std::int32_t, std::string> Socks4Failure(std::uint8_t result) {
  switch (result) {
    case 91: return {20016, "request rejected or failed"};
    case 92: return {20008, "connection refused"};
    case 93: return {20015, "authentification failed"};
    default: return {20012, "unassigned error #" + std::to_string(result)};
  }
}

// Appends bytes to a request being built; the callers have checked that they fit.
struct TRequest {
  std::uint8_t Area[kRequestArea];
  std::size_t Len = 0;
  void Byte(std::uint32_t b) { Area[Len++] = static_cast<std::uint8_t>(b); }
  void Port(std::uint32_t port) {
    Byte(port >> 8);
    Byte(port);
  }
  void Text(const std::string& s) {
    std::memcpy(Area + Len, s.data(), s.size());
    Len += s.size();
  }
};

}  // namespace

TCustomSocksWSocket::TCustomSocksWSocket(TComponent* AOwner) : TCustomWSocket(AOwner) {
  // The base constructor ran only its own reset; this layer's defaults come now.
  SocksDefaults();
}

void TCustomSocksWSocket::ResetToDefaults() {
  // A send that fails for good closes the socket first and reports OnSessionClosed after this reset (the close
  // itself reports nothing then, the end is already marked as notified): the report still has to know which
  // negotiation the close cut off. Every other close reports before it resets, and ends the phase there.
  SocksPhaseCut = CloseNotified ? SocksPhase : std::uint8_t{socksPhaseIdle};
  TCustomWSocket::ResetToDefaults();
  SocksDefaults();
}

void TCustomSocksWSocket::SocksDefaults() {
  SocksPhase = socksPhaseIdle;
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  SocksExtraCount = 0;
  SocksServerSet = false;
}

void TCustomSocksWSocket::SessionDefaults(bool Connecting) {
  TCustomWSocket::SessionDefaults(Connecting);
  SocksPhase = Connecting && SocksServerSet ? socksPhaseMethod : socksPhaseIdle;
  SocksPhaseCut = socksPhaseIdle;
  SocksReplyLen = 0;
  SocksExtraCount = 0;
}

// ---- Setters ----------------------------------------------------------------------------------------------------

void TCustomSocksWSocket::SetSocksLevel(const std::string& newValue) {
  if (FState != wsClosed) {
    RaiseException("Can't change socks level if not closed");
    return;
  }
  if (newValue != "4" && newValue != "5" && newValue != "4A" && newValue != "4a") {
    RaiseException("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  FSocksLevel = UpperCase(newValue);
}

// The resolved flags say that SockAddr holds the connect target. Which target that is depends on the SOCKS
// server, so a new server or port makes the next Connect resolve again: a target left from an attempt that
// failed before opening anything must not be used for a connection that goes elsewhere.
void TCustomSocksWSocket::SetSocksPort(const std::string& sPort) {
  if (FState != wsClosed) {
    RaiseException("Can't change socks port if not closed");
    return;
  }
  FSocksPort = TrimControls(sPort);
  PortResolved = false;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& sServer) {
  if (FState != wsClosed) {
    RaiseException("Can't change socks server if not closed");
    return;
  }
  FSocksServer = TrimControls(sServer);
  SocksServerSet = !FSocksServer.empty();
  PortResolved = false;
  AddrResolved = false;
}

// ---- Connect and Listen -----------------------------------------------------------------------------------------

std::string TCustomSocksWSocket::SocksRequestTooLong() const {
  bool level4 = FSocksLevel[0] == '4';
  if (FSocksLevel != "4" && FAddr.size() > kMaxField) return "Addr longer than 255 bytes";
  if (level4 || FSocksAuthentication == socksAuthenticateUsercode) {
    if (FSocksUsercode.size() > kMaxField) return "SocksUsercode longer than 255 bytes";
  }
  if (!level4 && FSocksAuthentication == socksAuthenticateUsercode && FSocksPassword.size() > kMaxField)
    return "SocksPassword longer than 255 bytes";
  return "";
}

void TCustomSocksWSocket::Connect() {
  if (!SocksServerSet) {
    TCustomWSocket::Connect();
    return;
  }
  // A socket in use gets the base's refusal, and the negotiation state of its session stays as it is.
  if (SocketHandle != INVALID_SOCKET && FState != wsClosed) {
    TCustomWSocket::Connect();
    return;
  }
  if (LowerCase(FProto) != "tcp") {
    RaiseException("tcp is the only protocol supported thru socks server");
    return;
  }
  try {
    if (!PortResolved) {
      SockAddr.sin_port = ws::htons(WSocketResolvePort(FSocksPort, FProto));
      PortResolved = true;
    }
    if (!AddrResolved) {
      SockAddr.sin_addr.s_addr = WSocketResolveHost(FSocksServer);
      AddrResolved = true;
    }
    PortNum = WSocketResolvePort(FPort, FProto);
  } catch (Exception& E) {
    RaiseException("connect: " + E.Message());
    return;
  }
  std::string tooLong = SocksRequestTooLong();
  if (!tooLong.empty()) {
    RaiseException("connect: " + tooLong);
    return;
  }
  // The negotiation's phase begins with the session that the base opens (SessionDefaults).
  TCustomWSocket::Connect();
}

void TCustomSocksWSocket::Listen() {
  if (SocksServerSet) {
    RaiseException("Listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

// ---- Negotiation ------------------------------------------------------------------------------------------------

bool TCustomSocksWSocket::SocksStepGoesOn(const TSessionGuard& Session, std::uint8_t Phase) const {
  return Session.Current() && SocksPhase == Phase && FState == wsConnected;
}

void TCustomSocksWSocket::TriggerSessionConnected(WORD Error) {
  if (SocksPhase != socksPhaseMethod) {
    TCustomWSocket::TriggerSessionConnected(Error);
    return;
  }
  const TSessionGuard session(*this);
  TriggerSocksConnected(Error);
  if (!session.Current()) return;
  if (Error != 0) {
    TCustomWSocket::TriggerSessionConnected(Error);
    return;
  }
  if (!SocksStepGoesOn(session, socksPhaseMethod)) return;
  if (FSocksLevel[0] == '4') {
    SocksDoConnect();
    return;
  }
  SocksMethodOffered = FSocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
  const std::uint8_t selection[3] = {5, 1, SocksMethodOffered};
  Send(selection, sizeof selection);
}

void TCustomSocksWSocket::SocksDoAuthenticate() {
  const TSessionGuard session(*this);
  SocksPhase = socksPhaseAuth;
  TriggerSocksAuthState(socksAuthStarting);
  if (!SocksStepGoesOn(session, socksPhaseAuth)) return;
  // The settings may change in any state, also from the handler just called.
  if (FSocksUsercode.size() > kMaxField || FSocksPassword.size() > kMaxField) {
    SocksError(20013, "socks request too long");
    return;
  }
  TRequest r;
  r.Byte(1);
  r.Byte(static_cast<std::uint32_t>(FSocksUsercode.size()));
  r.Text(FSocksUsercode);
  r.Byte(static_cast<std::uint32_t>(FSocksPassword.size()));
  r.Text(FSocksPassword);
  try {
    Send(r.Area, static_cast<int>(r.Len));
  } catch (...) {
  }
}

void TCustomSocksWSocket::SocksDoConnect() {
  if (FState != wsConnected) return;
  const TSessionGuard session(*this);
  SocksPhase = socksPhaseRequest;
  TRequest r;
  if (FSocksLevel[0] == '4') {
    ULONG destination = 0;
    if (FSocksLevel == "4") {
      try {
        destination = WSocketResolveHost(FAddr);
      } catch (Exception& E) {
        TriggerSocksError(20017, std::string(E.ClassName()) + " " + E.Message());
        if (session.Current()) DoClose(true, 20017);
        return;
      }
    } else {
      destination = ws::inet_addr("0.0.0.1");
    }
    if (FSocksUsercode.size() > kMaxField) {
      SocksError(20013, "socks request too long");
      return;
    }
    r.Byte(4);
    r.Byte(1);
    r.Port(PortNum);
    std::memcpy(r.Area + r.Len, &destination, 4);
    r.Len += 4;
    r.Text(FSocksUsercode);
    r.Byte(0);
    if (FSocksLevel == "4A") {
      r.Text(FAddr);
      r.Byte(0);
    }
  } else {
    r.Byte(5);
    r.Byte(1);
    r.Byte(0);
    r.Byte(3);
    r.Byte(static_cast<std::uint32_t>(FAddr.size()));
    r.Text(FAddr);
    r.Port(PortNum);
  }
  try {
    Send(r.Area, static_cast<int>(r.Len));
  } catch (...) {
  }
}

void TCustomSocksWSocket::SocksError(std::int32_t Error, const std::string& Msg) {
  // A handler that closed the socket has ended this attempt itself; the socket may already be a new one.
  const TSessionGuard session(*this);
  TriggerSocksError(Error, Msg);
  if (!session.Current()) return;
  SocksPhase = socksPhaseIdle;
  TriggerSessionConnected(static_cast<WORD>(Error));
  if (session.Current()) DoClose(true, static_cast<WORD>(Error));
}

// ---- The reply parser -------------------------------------------------------------------------------------------

bool TCustomSocksWSocket::SocksRead(std::int32_t Count) {
  if (Count <= 0) return true;
  int n = Receive(SocksReplyBuf + SocksReplyLen, Count);
  if (n < 0) return false;
  SocksReplyLen += n;
  return true;
}

bool TCustomSocksWSocket::TriggerDataAvailable(WORD Error) {
  if (SocksPhase == socksPhaseIdle) return TCustomWSocket::TriggerDataAvailable(Error);
  if (Error != 0) {
    SocksError(Error, "data receive error");
    return false;
  }
  const std::uint8_t* b = SocksReplyBuf;
  switch (SocksPhase) {
    case socksPhaseMethod:
      if (!SocksRead(kReplyRoom - SocksReplyLen)) return true;
      if (FSocksLevel[0] == '4') {
        SocksError(20001, "TWSocket logic error");
        return true;
      }
      if (SocksReplyLen < 2) return true;
      SocksReplyLen = 0;
      if (b[0] != 5) {
        SocksError(20002, "socks version error");
      } else if (b[1] == 0) {
        if (SocksMethodOffered != 0) {
          const TSessionGuard session(*this);
          TriggerSocksAuthState(socksAuthNotRequired);
          if (!SocksStepGoesOn(session, socksPhaseMethod)) return true;
        }
        SocksDoConnect();
      } else if (b[1] == 2) {
        SocksDoAuthenticate();
      } else {
        SocksError(20003, "authentification method not acceptable");
      }
      return true;
    case socksPhaseAuth:
      if (!SocksRead(kReplyRoom - SocksReplyLen)) return true;
      if (SocksReplyLen >= 1 && b[0] != 1) {
        SocksError(20002, "socks version error");
      } else if (SocksReplyLen < 2) {
        // wait for the rest
      } else if (SocksReplyLen > 2) {
        SocksError(20001, "too much data availaible");
      } else if (b[1] != 0) {
        SocksError(20015, "socks authentication failed");
      } else {
        SocksReplyLen = 0;
        const TSessionGuard session(*this);
        TriggerSocksAuthState(socksAuthSucceeded);
        if (SocksStepGoesOn(session, socksPhaseAuth)) SocksDoConnect();
      }
      return true;
    case socksPhaseRequest:
      return FSocksLevel[0] == '4' ? SocksReplyRequest4() : SocksReplyRequest5();
    default:
      SocksError(20013, "internal error");
      return false;
  }
}

bool TCustomSocksWSocket::SocksReplyRequest4() {
  // Exactly the reply's 8 bytes: what follows is the application's and stays at the socket.
  if (!SocksRead(8 - SocksReplyLen)) return true;
  if (SocksReplyLen < 8) return true;
  SocksReplyLen = 0;
  if (SocksReplyBuf[0] != 0) {
    SocksError(20002, "socks version error");
    return true;
  }
  if (SocksReplyBuf[1] != 90) {
    auto failure = Socks4Failure(SocksReplyBuf[1]);
    SocksError(failure.first, failure.second);
    return true;
  }
  return SocksDestinationReached();
}

bool TCustomSocksWSocket::SocksReplyRequest5() {
  const std::uint8_t* b = SocksReplyBuf;
  if (!SocksRead(kReplyRoom - SocksReplyLen)) return true;
  if (SocksReplyLen >= 1 && b[0] != 5) {
    SocksError(20002, "socks version error");
    return true;
  }
  if (SocksReplyLen >= 2 && b[1] != 0) {
    auto failure = Socks5Failure(b[1]);
    SocksError(failure.first, failure.second);
    return true;
  }
  if (SocksReplyLen < 5) return true;
  std::int32_t needed = b[3] == 1 ? 10 : b[3] == 3 ? b[4] + 7 : 5;
  // A bound name that cannot be gathered whole would leave the parser asking for nothing while data waits.
  if (needed > kReplyRoom) {
    SocksError(20011, "bound address too long");
    return true;
  }
  if (SocksReplyLen < needed) return true;
  std::int32_t portAt = 0;
  if (b[3] == 1) {
    in_addr bound{};
    std::memcpy(&bound, b + 4, 4);
    SocksBindAddr = ws::inet_ntoa(bound);
    portAt = 8;
  } else if (b[3] == 3) {
    SocksBindAddr.assign(reinterpret_cast<const char*>(b + 5), b[4]);
    portAt = 5 + b[4];
  } else {
    SocksError(20011, "address type not supported");
    return true;
  }
  SocksBindPort = std::to_string((b[portAt] << 8) | b[portAt + 1]);
  std::int32_t replyLen = portAt + 2;
  // The bytes behind the reply are set aside before OnSessionConnected, so that a handler that reads there
  // already gets them first.
  SocksExtraCount = std::max(0, SocksReplyLen - replyLen);
  SocksExtraPos = SocksReplyBuf + replyLen;
  return SocksDestinationReached();
}

bool TCustomSocksWSocket::SocksDestinationReached() {
  const TSessionGuard session(*this);
  SocksPhase = socksPhaseIdle;
  TriggerSessionConnected(0);
  return !session.Current() || SocksOfferData();
}

// The application (and a layer above first) is offered data as soon as the destination is reached. Bytes set
// aside behind the reply are offered as socket data would be: again while a handler takes some and some are left,
// since the receive loop only looks at what waits at the socket.
bool TCustomSocksWSocket::SocksOfferData() {
  if (FState != wsConnected) return true;
  std::int32_t before = SocksExtraCount;
  bool handled = TriggerDataAvailable(0);
  while (handled && FState == wsConnected && SocksExtraCount > 0 && SocksExtraCount < before) {
    before = SocksExtraCount;
    handled = TriggerDataAvailable(0);
  }
  return handled;
}

void TCustomSocksWSocket::TriggerSessionClosed(WORD Error) {
  // Every teller marks the end as told first; unmarked, a handler of the state change has already opened the
  // next session, and its negotiation is not the one this end cut off.
  if (!CloseNotified) {
    TCustomWSocket::TriggerSessionClosed(Error);
    return;
  }
  const std::uint8_t phase = SocksPhase != socksPhaseIdle ? SocksPhase : SocksPhaseCut;
  SocksPhaseCut = socksPhaseIdle;
  if (phase == socksPhaseAuth) TriggerSocksAuthState(socksAuthFailed);
  // The server ended the connection before the negotiation was done: the close notification came while the
  // socket is still open, or a send failed and closed it. (The application's own close comes with the socket
  // closed and the phase still running.) The connecting caller waits for OnSessionConnected, so it learns of
  // the failure first, as after a failed plain connect.
  const bool serverEnded = SocksPhase != socksPhaseIdle ? FState != wsClosed : phase != socksPhaseIdle;
  if (serverEnded) {
    const TSessionGuard session(*this);
    SocksPhase = socksPhaseIdle;
    // The end stays untold while the handler runs: a Close there tells it, with this end's own error, before
    // the handler goes on (to a retry, say).
    CloseNotified = false;
    FEndError = Error;
    {
      // Also when the handler throws: the error belongs to this end only.
      struct TForget {
        std::optional<WORD>& EndError;
        ~TForget() { EndError.reset(); }
      } forget{FEndError};
      TCustomWSocket::TriggerSessionConnected(kServerEndedNegotiation);
    }
    if (!session.Current()) return;
    CloseNotified = true;
  }
  TCustomWSocket::TriggerSessionClosed(Error);
}

// ---- The bytes behind the final reply ----------------------------------------------------------------------------

std::int32_t TCustomSocksWSocket::GetRcvdCount() {
  if (SocksExtraCount > 0) return SocksExtraCount;
  return TCustomWSocket::GetRcvdCount();
}

int TCustomSocksWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  if (SocksExtraCount <= 0) return TCustomWSocket::DoRecv(Buffer, BufferSize, Flags);
  int n = std::max(0, std::min(BufferSize, SocksExtraCount));
  if (n > 0) std::memcpy(Buffer, SocksExtraPos, static_cast<std::size_t>(n));
  SocksExtraCount -= n;
  SocksExtraPos += n;
  return n;
}

// ---- Triggers ---------------------------------------------------------------------------------------------------

void TCustomSocksWSocket::TriggerSocksConnected(WORD Error) {
  if (Assigned(OnSocksConnected)) OnSocksConnected(this, Error);
}

void TCustomSocksWSocket::TriggerSocksError(std::int32_t Error, const std::string& Msg) {
  if (Assigned(OnSocksError)) OnSocksError(this, Error, Msg);
}

void TCustomSocksWSocket::TriggerSocksAuthState(TSocksAuthState AuthState) {
  if (Assigned(OnSocksAuthState)) OnSocksAuthState(this, AuthState);
}
