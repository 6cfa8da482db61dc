// The SOCKS, line-mode and synchronous-wait layers of the family, TWSocket, and the published tables.
//
// The layers carry their fields, defaults and published properties. What they do on their own (a SOCKS
// negotiation, splitting received data into lines, synchronous waits) is not built yet, so nothing ever leaves
// the idle SOCKS phase and line mode stays off: every override below passes to the layer beneath, and the two
// settings that would need that behaviour (a SocksServer at Connect, LineMode on) are refused with a message.
#include <cstring>

#include "sockets/WSocket.h"

// ---- TCustomSocksWSocket ------------------------------------------------------------------------------------

namespace {

std::string TrimControls(const std::string& s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= 32) --end;
  return s.substr(begin, end - begin);
}

}  // namespace

TCustomSocksWSocket::TCustomSocksWSocket(TComponent* AOwner) : TCustomWSocket(AOwner) {
  // The base constructor ran only its own reset; this layer's defaults come now.
  SocksPhase = socksPhaseIdle;
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  SocksExtraCount = 0;
  SocksServerSet = false;
}

void TCustomSocksWSocket::ResetToDefaults() {
  TCustomWSocket::ResetToDefaults();
  SocksPhase = socksPhaseIdle;
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  SocksExtraCount = 0;
  SocksServerSet = false;
}

std::int32_t TCustomSocksWSocket::GetRcvdCount() {
  if (SocksExtraCount > 0) return SocksExtraCount;
  return TCustomWSocket::GetRcvdCount();
}

bool TCustomSocksWSocket::TriggerDataAvailable(WORD Error) {
  // No negotiation runs, so the phase is idle and the data is the application's.
  return TCustomWSocket::TriggerDataAvailable(Error);
}

void TCustomSocksWSocket::TriggerSessionConnected(WORD Error) {
  TCustomWSocket::TriggerSessionConnected(Error);
}

void TCustomSocksWSocket::TriggerSessionClosed(WORD Error) {
  if (SocksPhase == socksPhaseAuth) TriggerSocksAuthState(socksAuthFailed);
  TCustomWSocket::TriggerSessionClosed(Error);
}

int TCustomSocksWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  if (SocksExtraCount <= 0) return TCustomWSocket::DoRecv(Buffer, BufferSize, Flags);
  int n = BufferSize >= SocksExtraCount ? SocksExtraCount : BufferSize;
  if (n > 0) std::memcpy(Buffer, SocksExtraPos, static_cast<std::size_t>(n));
  SocksExtraCount -= n;
  SocksExtraPos += n;
  return n;
}

void TCustomSocksWSocket::Connect() {
  if (!SocksServerSet) {
    TCustomWSocket::Connect();
    return;
  }
  RaiseException("Connect: SOCKS negotiation is not available; clear SocksServer to connect directly");
}

void TCustomSocksWSocket::Listen() {
  if (SocksServerSet) {
    RaiseException("Listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

void TCustomSocksWSocket::TriggerSocksConnected(WORD Error) {
  if (Assigned(OnSocksConnected)) OnSocksConnected(this, Error);
}

void TCustomSocksWSocket::SetSocksPort(const std::string& sPort) {
  if (FState != wsClosed) {
    RaiseException("Can't change socks port if not closed");
    return;
  }
  FSocksPort = TrimControls(sPort);
}

void TCustomSocksWSocket::SetSocksServer(const std::string& sServer) {
  if (FState != wsClosed) {
    RaiseException("Can't change socks server if not closed");
    return;
  }
  FSocksServer = TrimControls(sServer);
  SocksServerSet = !FSocksServer.empty();
}

void TCustomSocksWSocket::TriggerSocksError(std::int32_t Error, const std::string& Msg) {
  if (Assigned(OnSocksError)) OnSocksError(this, Error, Msg);
}

void TCustomSocksWSocket::TriggerSocksAuthState(TSocksAuthState AuthState) {
  if (Assigned(OnSocksAuthState)) OnSocksAuthState(this, AuthState);
}

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

// ---- TCustomLineWSocket ---------------------------------------------------------------------------------------

TCustomLineWSocket::TCustomLineWSocket(TComponent* AOwner) : TCustomSocksWSocket(AOwner) {
  FLineEnd = "\r\n";
  FLineMode = false;
}

TCustomLineWSocket::~TCustomLineWSocket() {
  Destroying();
  delete[] RcvBuffer;
  RcvBuffer = nullptr;
}

void TCustomLineWSocket::WndProc(TMessage& MsgRec) {
  TCustomSocksWSocket::WndProc(MsgRec);
}

std::int32_t TCustomLineWSocket::GetRcvdCount() {
  if (FLineMode) return LineLength;
  return TCustomSocksWSocket::GetRcvdCount();
}

bool TCustomLineWSocket::TriggerDataAvailable(WORD Error) {
  // Line mode is never on (SetLineMode refuses it), so the data goes to the layer beneath as it is.
  return TCustomSocksWSocket::TriggerDataAvailable(Error);
}

void TCustomLineWSocket::TriggerSessionClosed(WORD Error) {
  if (RcvBuffer != nullptr) {
    delete[] RcvBuffer;
    RcvBuffer = nullptr;
    RcvBufferSize = 0;
    RcvBufferCount = 0;
  }
  TCustomSocksWSocket::TriggerSessionClosed(Error);
}

int TCustomLineWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  return TCustomSocksWSocket::DoRecv(Buffer, BufferSize, Flags);
}

void TCustomLineWSocket::SetLineMode(bool newValue) {
  if (newValue == FLineMode) return;
  if (newValue) {
    RaiseException("LineMode: line mode is not available");
    return;
  }
  FLineMode = newValue;
}

// ---- TCustomSyncWSocket and TWSocket ----------------------------------------------------------------------------

TCustomSyncWSocket::TCustomSyncWSocket(TComponent* AOwner) : TCustomLineWSocket(AOwner) {}

TWSocket::TWSocket(TComponent* AOwner) : TCustomSyncWSocket(AOwner) {}

// ---- Published tables ------------------------------------------------------------------------------------------

namespace {

const TEnumNames<TSocketState> kSocketStateNames = {
    {"wsInvalidState", wsInvalidState}, {"wsOpened", wsOpened},       {"wsBound", wsBound},
    {"wsConnecting", wsConnecting},     {"wsConnected", wsConnected}, {"wsAccepting", wsAccepting},
    {"wsListening", wsListening},       {"wsClosed", wsClosed}};

TPropInfo ResultListProperty() {
  TPropInfo p{"DnsResultList", TPropKind::Strings, "TStrings", {}, {}, {}};
  p.Read = [](const TObject* o) {
    TPropValue v;
    v.kind = TPropValue::Kind::StringList;
    if (const auto* s = dynamic_cast<const TCustomWSocket*>(o))
      for (int i = 0; i < s->DnsResultList()->Count(); ++i) v.Items.push_back(s->DnsResultList()->Strings(i));
    return v;
  };
  return p;
}

}  // namespace

TARVO_PUBLISH(TCustomWSocket, TComponent) {}

TARVO_PUBLISH(TCustomSocksWSocket, TCustomWSocket) {}

TARVO_PUBLISH(TCustomLineWSocket, TCustomSocksWSocket) {
  b.Property("LineMode", &TCustomLineWSocket::LineMode, &TCustomLineWSocket::SetLineMode)
      .Property("LineEnd", &TCustomLineWSocket::LineEnd, &TCustomLineWSocket::SetLineEnd)
      .Property("LineEcho", &TCustomLineWSocket::LineEcho, &TCustomLineWSocket::SetLineEcho)
      .Property("LineEdit", &TCustomLineWSocket::LineEdit, &TCustomLineWSocket::SetLineEdit);
}

TARVO_PUBLISH(TCustomSyncWSocket, TCustomLineWSocket) {}

// Properties and events go into two lists of the table; each list keeps the published order.
TARVO_PUBLISH(TWSocket, TCustomSyncWSocket) {
  b.Property("Addr", &TWSocket::GetAddr, &TWSocket::SetAddr)
      .Property("Port", &TWSocket::GetPort, &TWSocket::SetPort)
      .Property("Proto", &TWSocket::GetProto, &TWSocket::SetProto)
      .Property("LocalAddr", &TWSocket::LocalAddr, &TWSocket::SetLocalAddr)
      .Property("LocalPort", &TWSocket::LocalPort, &TWSocket::SetLocalPort)
      .ReadOnly("PeerPort", &TWSocket::PeerPort)
      .ReadOnly("PeerAddr", &TWSocket::PeerAddr)
      .ReadOnly("DnsResult", &TWSocket::DnsResult)
      .Custom(ResultListProperty())
      .EnumReadOnly<TSocketState>("State", &TWSocket::State, kSocketStateNames)
      .ReadOnly("ReadCount", &TWSocket::ReadCount)
      .ReadOnly("RcvdCount", &TWSocket::RcvdCount)
      .ReadOnly("LastError", &TWSocket::LastError)
      .Property("MultiThreaded", &TWSocket::MultiThreaded, &TWSocket::SetMultiThreaded)
      .Set<TWSocketOption>("ComponentOptions", &TWSocket::ComponentOptions, &TWSocket::SetComponentOptions,
                           {{"wsoNoReceiveLoop", wsoNoReceiveLoop}})
      .Event("OnDataAvailable", &TWSocket::OnDataAvailable)
      .Event("OnDataSent", &TWSocket::OnDataSent)
      .Event("OnSendData", &TWSocket::OnSendData)
      .Event("OnSessionClosed", &TWSocket::OnSessionClosed)
      .Event("OnSessionAvailable", &TWSocket::OnSessionAvailable)
      .Event("OnSessionConnected", &TWSocket::OnSessionConnected)
      .Event("OnSocksConnected", &TWSocket::OnSocksConnected)
      .Event("OnChangeState", &TWSocket::OnChangeState)
      .Event("OnLineTooLong", &TWSocket::OnLineTooLong)
      .Event("OnDnsLookupDone", &TWSocket::OnDnsLookupDone)
      .Event("OnError", &TWSocket::OnError)
      .Event("OnBgException", &TWSocket::OnBgException)
      .Property("FlushTimeout", &TWSocket::FlushTimeout, &TWSocket::SetFlushTimeout)
      .Enum<TSocketSendFlags>("SendFlags", &TWSocket::SendFlags, &TWSocket::SetSendFlags,
                              {{"wsSendNormal", wsSendNormal}, {"wsSendUrgent", wsSendUrgent}})
      .Enum<TSocketLingerOnOff>("LingerOnOff", &TWSocket::LingerOnOff, &TWSocket::SetLingerOnOff,
                                {{"wsLingerOff", wsLingerOff}, {"wsLingerOn", wsLingerOn},
                                 {"wsLingerNoSet", wsLingerNoSet}})
      .Property("LingerTimeout", &TWSocket::LingerTimeout, &TWSocket::SetLingerTimeout)
      .Property("SocksLevel", &TWSocket::SocksLevel, &TWSocket::SetSocksLevel)
      .Property("SocksServer", &TWSocket::SocksServer, &TWSocket::SetSocksServer)
      .Property("SocksPort", &TWSocket::SocksPort, &TWSocket::SetSocksPort)
      .Property("SocksUsercode", &TWSocket::SocksUsercode, &TWSocket::SetSocksUsercode)
      .Property("SocksPassword", &TWSocket::SocksPassword, &TWSocket::SetSocksPassword)
      .Enum<TSocksAuthentication>("SocksAuthentication", &TWSocket::SocksAuthentication,
                                  &TWSocket::SetSocksAuthentication,
                                  {{"socksNoAuthentication", socksNoAuthentication},
                                   {"socksAuthenticateUsercode", socksAuthenticateUsercode}})
      .Event("OnSocksError", &TWSocket::OnSocksError)
      .Event("OnSocksAuthState", &TWSocket::OnSocksAuthState);
}

void RegisterSocketClasses() {
  RegisterClass(TCustomWSocket::StaticClassInfo());
  RegisterClass(TCustomSocksWSocket::StaticClassInfo());
  RegisterClass(TCustomLineWSocket::StaticClassInfo());
  RegisterClass(TCustomSyncWSocket::StaticClassInfo());
  RegisterClass(TWSocket::StaticClassInfo());
}
