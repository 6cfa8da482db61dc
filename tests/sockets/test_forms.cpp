// The published surface: a stored form description sets everything that TWSocket publishes and binds its events.
#include <gtest/gtest.h>

#include "helpers.h"
#include "rtl/formreader.h"

namespace {

class TSockForm : public TComponent {
 public:
  TARVO_PUBLISHED(TSockForm)
  explicit TSockForm(TComponent* AOwner) : TComponent(AOwner) {}
  TWSocket* Sock = nullptr;
  std::vector<std::string> Calls;
  void SockWord(TObject*, WORD e) { Calls.push_back("word " + std::to_string(e)); }
  void SockNotify(TObject*) { Calls.push_back("notify"); }
  void SockSendData(TObject*, std::int32_t n) { Calls.push_back("senddata " + std::to_string(n)); }
  void SockChangeState(TObject*, TSocketState, TSocketState) { Calls.push_back("state"); }
  void SockBgException(TObject*, Exception&, bool&) { Calls.push_back("bg"); }
  void SockSocksError(TObject*, std::int32_t, std::string) { Calls.push_back("sockserror"); }
  void SockSocksAuthState(TObject*, TSocksAuthState) { Calls.push_back("authstate"); }
};

}  // namespace

TARVO_PUBLISH(TSockForm, TComponent) {
  b.Field("Sock", &TSockForm::Sock)
      .Method("SockWord", &TSockForm::SockWord)
      .Method("SockNotify", &TSockForm::SockNotify)
      .Method("SockSendData", &TSockForm::SockSendData)
      .Method("SockChangeState", &TSockForm::SockChangeState)
      .Method("SockBgException", &TSockForm::SockBgException)
      .Method("SockSocksError", &TSockForm::SockSocksError)
      .Method("SockSocksAuthState", &TSockForm::SockSocksAuthState);
}

TEST(Published, TheTableListsTheSurfaceInItsOrder) {
  ASSERT_NE(FindClass("TWSocket"), nullptr);
  EXPECT_TRUE(FindClass("TWSocket")->Creatable());
  for (const char* cls : {"TCustomWSocket", "TCustomSocksWSocket", "TCustomLineWSocket", "TCustomSyncWSocket"})
    EXPECT_NE(FindClass(cls), nullptr) << cls;
  std::vector<std::string> props;
  for (const TPropInfo* p : TWSocket::StaticClassInfo().Properties()) props.push_back(p->Name);
  EXPECT_EQ(props, (std::vector<std::string>{
                       "Name", "Tag", "LineMode", "LineEnd", "LineEcho", "LineEdit", "Addr", "Port", "Proto",
                       "LocalAddr", "LocalPort", "PeerPort", "PeerAddr", "DnsResult", "DnsResultList", "State",
                       "ReadCount", "RcvdCount", "LastError", "MultiThreaded", "ComponentOptions", "FlushTimeout",
                       "SendFlags", "LingerOnOff", "LingerTimeout", "SocksLevel", "SocksServer", "SocksPort",
                       "SocksUsercode", "SocksPassword", "SocksAuthentication"}));
  std::vector<std::string> events;
  for (const TEventInfo* e : TWSocket::StaticClassInfo().Events()) events.push_back(e->Name);
  EXPECT_EQ(events, (std::vector<std::string>{"OnDataAvailable", "OnDataSent", "OnSendData", "OnSessionClosed",
                                               "OnSessionAvailable", "OnSessionConnected", "OnSocksConnected",
                                               "OnChangeState", "OnLineTooLong", "OnDnsLookupDone", "OnError",
                                               "OnBgException", "OnSocksError", "OnSocksAuthState"}));
}

TEST(Published, AStoredDescriptionSetsEverythingTWSocketPublishes) {
  TSockForm form(nullptr);
  ReadComponentText(&form, R"(
object SockForm: TSockForm
  object Sock: TWSocket
    Tag = 7
    Addr = ' 10.0.0.5 '
    Port = '7710'
    Proto = 'udp'
    LocalAddr = '127.0.0.1'
    LocalPort = '0'
    LineMode = False
    LineEnd = #13#10
    LineEcho = True
    LineEdit = True
    MultiThreaded = True
    ComponentOptions = [wsoNoReceiveLoop]
    FlushTimeout = 30
    SendFlags = wsSendUrgent
    LingerOnOff = wsLingerOff
    LingerTimeout = 5
    SocksLevel = '4a'
    SocksServer = ''
    SocksPort = ''
    SocksUsercode = 'user'
    SocksPassword = 'secret'
    SocksAuthentication = socksAuthenticateUsercode
    OnDataAvailable = SockWord
    OnDataSent = SockWord
    OnSendData = SockSendData
    OnSessionClosed = SockWord
    OnSessionAvailable = SockWord
    OnSessionConnected = SockWord
    OnSocksConnected = SockWord
    OnChangeState = SockChangeState
    OnLineTooLong = SockNotify
    OnDnsLookupDone = SockWord
    OnError = SockNotify
    OnBgException = SockBgException
    OnSocksError = SockSocksError
    OnSocksAuthState = SockSocksAuthState
  end
end
)",
                    "SockForm.form");
  ASSERT_NE(form.Sock, nullptr);
  TWSocket& s = *form.Sock;
  EXPECT_EQ(s.Name(), "Sock");
  EXPECT_EQ(s.Owner(), &form);
  EXPECT_EQ(s.Tag(), 7);
  EXPECT_EQ(s.Addr(), "10.0.0.5");
  EXPECT_EQ(s.Port(), "7710");
  EXPECT_EQ(s.Proto(), "udp");
  EXPECT_EQ(s.LocalAddr(), "127.0.0.1");
  EXPECT_EQ(s.LocalPort(), "0");
  EXPECT_FALSE(s.LineMode());
  EXPECT_EQ(s.LineEnd(), "\r\n");
  EXPECT_TRUE(s.LineEcho());
  EXPECT_TRUE(s.LineEdit());
  EXPECT_TRUE(s.MultiThreaded());
  EXPECT_EQ(s.ComponentOptions(), WSocketOptionBit(wsoNoReceiveLoop));
  EXPECT_EQ(s.FlushTimeout(), 30);
  EXPECT_EQ(s.SendFlags(), wsSendUrgent);
  EXPECT_EQ(s.LingerOnOff(), wsLingerOff);
  EXPECT_EQ(s.LingerTimeout(), 5);
  EXPECT_EQ(s.SocksLevel(), "4A");
  EXPECT_EQ(s.SocksServer(), "");
  EXPECT_EQ(s.SocksUsercode(), "user");
  EXPECT_EQ(s.SocksPassword(), "secret");
  EXPECT_EQ(s.SocksAuthentication(), socksAuthenticateUsercode);

  s.OnDataAvailable(&s, 3);
  s.OnSendData(&s, 9);
  s.OnChangeState(&s, wsClosed, wsOpened);
  s.OnLineTooLong(&s);
  EXPECT_EQ(form.Calls, (std::vector<std::string>{"word 3", "senddata 9", "state", "notify"}));
  for (const TEventInfo* e : TWSocket::StaticClassInfo().Events())
    EXPECT_TRUE(e->IsAssigned(&s)) << e->Name;

  // The read-only properties read back through the table.
  const TPropInfo* state = TWSocket::StaticClassInfo().FindProperty("State");
  ASSERT_NE(state, nullptr);
  EXPECT_FALSE(static_cast<bool>(state->Write));
  EXPECT_EQ(state->Read(&s).Str, "wsClosed");
  EXPECT_EQ(TWSocket::StaticClassInfo().FindProperty("PeerAddr")->Read(&s).Str, "error");
}

TEST(Published, ReadOnlyPropertiesCannotBeStored) {
  TSockForm form(nullptr);
  EXPECT_THROW(ReadComponentText(&form, "object SockForm: TSockForm\n  object Sock: TWSocket\n    State = wsOpened\n"
                                        "  end\nend\n",
                                 "SockForm.form"),
               EReadError);
  EXPECT_EQ(form.ComponentCount(), 0) << "a form never half-loads";
}
