// TWSocket and the published tables of the family: the names, types and order in which stored form descriptions
// find the properties and events.
#include "sockets/WSocket.h"

// ---- TWSocket -------------------------------------------------------------------------------------------------

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
