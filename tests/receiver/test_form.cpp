// The receiver's form as it is created and destroyed, its announcements, and how it recognises the sender's
// answer and "exit" on port 7708.
#include "receiver_fixture.h"
#include "sockets/LocalIP.h"

namespace {

using std::chrono::milliseconds;

// Collects announcements broadcast to port 7712 for the given time.
std::vector<std::string> Announcements(TPeer& listener, milliseconds duration) {
  std::vector<std::string> heard;
  const auto end = std::chrono::steady_clock::now() + duration;
  std::string d;
  while (std::chrono::steady_clock::now() < end)
    if (listener.Receive(d, milliseconds(20))) heard.push_back(d);
  return heard;
}

// The next count announcements, however long a loaded machine takes to send them; fewer only when they stop.
std::vector<std::string> NextAnnouncements(TPeer& listener, std::size_t count) {
  std::vector<std::string> heard;
  std::string d;
  while (heard.size() < count && listener.Receive(d, kPatience)) heard.push_back(d);
  return heard;
}

}  // namespace

TEST_F(TReceiverTest, CreatedAsStored) {
  EXPECT_EQ(Form1->Caption(), "Tarvo MPEG4 video receiver (Velmora)");
  EXPECT_EQ(Form1->BorderStyle(), bsDialog);
  EXPECT_EQ(Form1->BorderIcons(), 1u << biSystemMenu);
  EXPECT_EQ(Form1->ClientWidth(), 352);
  EXPECT_EQ(Form1->ClientHeight(), 288);
  EXPECT_EQ(Form1->Color(), 7698006);
  // Centred by FormCreate from the window's outer size.
  EXPECT_EQ(FCreatedBounds.Left, (Screen->Width() - FCreatedBounds.Width) / 2);
  EXPECT_EQ(FCreatedBounds.Top, (Screen->Height() - FCreatedBounds.Height) / 2);
  EXPECT_GT(FCreatedBounds.Width, 352);
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_EQ(Form1->Timer1->Interval(), 1000u);
  EXPECT_TRUE(Form1->LoginSocket->MultiThreaded());
  EXPECT_TRUE(Form1->SrvSocket->MultiThreaded());
  EXPECT_FALSE(Form1->WSocket1->MultiThreaded());
  EXPECT_TRUE(FMessageBoxes.empty()) << FMessageBoxes.front();

  for (const BITMAPINFO* f : {&Form1->InFormat, &Form1->OutFormat}) {
    EXPECT_EQ(f->bmiHeader.biSize, 40u);
    EXPECT_EQ(f->bmiHeader.biWidth, 352);
    EXPECT_EQ(f->bmiHeader.biHeight, 288);
    EXPECT_EQ(f->bmiHeader.biPlanes, 1);
    EXPECT_EQ(f->bmiHeader.biBitCount, 24);
    EXPECT_EQ(f->bmiHeader.biSizeImage, 304128u);
  }
  EXPECT_EQ(Form1->InFormat.bmiHeader.biCompression, mmioFOURCC('D', 'I', 'V', 'X'));
  EXPECT_EQ(Form1->OutFormat.bmiHeader.biCompression, BI_RGB);
  ASSERT_EQ(Form1->FrameBufferSize(), 304192u);
  ASSERT_NE(Form1->InFrame, nullptr);
  ASSERT_NE(Form1->OutFrame, nullptr);
  for (std::uint32_t i = 0; i < Form1->FrameBufferSize(); ++i)
    ASSERT_EQ(Form1->InFrame[i] | Form1->OutFrame[i], 0) << "byte " << i;
  EXPECT_NE(Form1->Codec, nullptr);
  EXPECT_EQ(Form1->FrameSize, 0u);
  EXPECT_EQ(Form1->Received, 0u);

  // The login socket sends broadcasts, the answer socket listens, the frame socket waits for an answer.
  EXPECT_EQ(Form1->LoginSocket->State(), wsConnected);
  EXPECT_EQ(Form1->SrvSocket->State(), wsConnected);
  EXPECT_NE(Form1->WSocket1->State(), wsConnected);
}

TEST_F(TReceiverTest, AnnouncesUntilAnsweredAndAgainAfterExit) {
  TPeer listener(kAnnouncePort);
  ASSERT_TRUE(listener.Ok());
  const std::string login = "login_mp4_cw" + GetLocalIP();

  // Again and again (once a second: the timer's interval, checked where the form is created).
  std::vector<std::string> heard = NextAnnouncements(listener, 2);
  ASSERT_EQ(heard.size(), 2u);
  for (const std::string& d : heard) EXPECT_EQ(d, login);

  Answer("server/");
  std::string sentBefore;  // by a tick that came before the answer was taken
  while (listener.Receive(sentBefore, milliseconds(0))) {
  }
  EXPECT_TRUE(Announcements(listener, milliseconds(1500)).empty());

  FSender.SendTo(kAnswerPort, "exit");
  heard = NextAnnouncements(listener, 1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], login);
  // "exit" leaves the frame socket listening.
  EXPECT_EQ(Form1->WSocket1->State(), wsConnected);
}

TEST_F(TReceiverTest, OnlyTheExactAnswerSwitchesToReceiving) {
  for (const char* ignored : {"Server/10.77.0.11", "server", "serve", "s", "", "SERVER/", "xserver/"}) {
    FSender.SendTo(kAnswerPort, ignored);
    PumpFor(milliseconds(60));
    EXPECT_TRUE(Form1->Timer1->Enabled()) << '"' << ignored << '"';
    EXPECT_NE(Form1->WSocket1->State(), wsConnected) << '"' << ignored << '"';
  }
  Answer("server/");
  FSender.SendTo(kAnswerPort, "exit");
  ASSERT_TRUE(PumpUntil([] { return Form1->Timer1->Enabled(); }));
  Answer("server/any text at all, not an address");
}

TEST_F(TReceiverTest, OnlyTheWholeExitRestartsAnnouncing) {
  Answer();
  for (const char* ignored : {"EXIT", "exit\r\n", "exit\n", "exi", "exit ", "Exit", "exit/"}) {
    FSender.SendTo(kAnswerPort, ignored);
    PumpFor(milliseconds(60));
    EXPECT_FALSE(Form1->Timer1->Enabled()) << '"' << ignored << '"';
  }
  FSender.SendTo(kAnswerPort, "exit");
  ASSERT_TRUE(PumpUntil([] { return Form1->Timer1->Enabled(); }));
  EXPECT_EQ(Form1->WSocket1->State(), wsConnected);

  // A second "exit" while announcing changes nothing; a new answer stops the announcements again.
  FSender.SendTo(kAnswerPort, "exit");
  PumpFor(milliseconds(60));
  EXPECT_TRUE(Form1->Timer1->Enabled());
  Answer();
}

TEST_F(TReceiverTest, SecondAnswerReopensFrameSocketAndKeepsFrameSize) {
  Answer();
  Deliver(FrameHeader(5000));
  Deliver(std::string(1514, 'x'), [] { return Form1->Received == 1514; });
  Form1->WSocket1->Close();  // a second answer must reopen it, whatever state it is in
  FSender.SendTo(kAnswerPort, "server/10.77.0.12");
  ASSERT_TRUE(PumpUntil([] { return Form1->WSocket1->State() == wsConnected; }));
  EXPECT_EQ(Form1->Received, 0u);
  EXPECT_EQ(Form1->FrameSize, 5000u);
  // And it hears frames again.
  Deliver(std::string(1000, 'y'), [] { return Form1->Received == 1000; });
}

TEST_F(TReceiverTest, SaysGoodbyeWhenDestroyed) {
  TPeer listener(kAnnouncePort);
  ASSERT_TRUE(listener.Ok());
  Answer();
  std::string d;
  while (listener.Receive(d, milliseconds(10))) {
  }
  DestroyForm();
  ASSERT_TRUE(listener.Receive(d, kPatience));
  EXPECT_EQ(d, "logoutmp4_cw" + GetLocalIP());
  EXPECT_FALSE(listener.Receive(d, milliseconds(200))) << "unexpected \"" << d << '"';
  EXPECT_TRUE(FMessageBoxes.empty()) << FMessageBoxes.front();
}

// A receiver whose answer port is taken goes on announcing without a word, and can never hear a sender.
class TReceiverPortTakenTest : public TReceiverTest {
 protected:
  void SetUp() override {
    if (InPrivateLoopback()) FTaken = std::make_unique<TPeer>(kAnswerPort);
    TReceiverTest::SetUp();
  }
  std::unique_ptr<TPeer> FTaken;
};

TEST_F(TReceiverPortTakenTest, AnnouncesSilentlyWithoutAnswerPort) {
  ASSERT_TRUE(FTaken->Ok());
  EXPECT_TRUE(FMessageBoxes.empty()) << FMessageBoxes.front();
  EXPECT_NE(Form1->SrvSocket->State(), wsConnected);
  TPeer listener(kAnnouncePort);
  std::string d;
  ASSERT_TRUE(listener.Receive(d, kPatience));
  EXPECT_EQ(d.substr(0, 12), "login_mp4_cw");
}
