// Announcements on the sender's side: the lines of ListBox1, the answers on port 7708, and "exit" at the end.
#include <cctype>

#include "sender_testing.h"

using namespace sender_testing;

namespace {

class Announcements : public ::testing::Test {
 protected:
  void SetUp() override {
    SENDER_NEED_LAN();
    Answers = std::make_unique<TUdpSink>(7708);
    F = CreateForm();
    ClearBoxes();
  }
  void TearDown() override {
    if (Form1) DestroyForm();
  }
  // Sends announcements as receivers do, and lets the form hear them.
  void Announce(std::initializer_list<std::string> texts, std::size_t linesAfter) {
    for (const std::string& t : texts) SendDatagram(t, 7712);
    EXPECT_TRUE(PumpUntil([&] { return Lines().size() >= linesAfter; }));
    PumpFor(50);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (int i = 0; i < F->ListBox1->Items()->Count(); ++i) lines.push_back(F->ListBox1->Items()->Strings(i));
    return lines;
  }
  // The answers heard since the last call; each must be "server/" + our address, sent to the written address.
  std::size_t TakeAnswers(std::size_t expected, const std::string& to) {
    if (expected > 0) {
      EXPECT_TRUE(Answers->WaitFor(expected));
    }
    Answers->WaitQuiet(100);
    std::vector<TDatagram> ds = Answers->Datagrams();
    Answers->Clear();
    for (const TDatagram& d : ds) {
      EXPECT_EQ(d.Bytes, "server/" + GHostAddress);
      EXPECT_EQ(d.To, to);
    }
    return ds.size();
  }
  static void ExpectLine(const std::string& line, const std::string& tail) {
    // The time of day as hh:mm:ss.
    bool time = line.size() >= 8 && line[2] == ':' && line[5] == ':';
    for (int i : {0, 1, 3, 4, 6, 7}) time = time && std::isdigit(static_cast<unsigned char>(line[i]));
    EXPECT_TRUE(time) << line;
    EXPECT_EQ(line.substr(8), tail);
  }
  std::unique_ptr<TUdpSink> Answers;
  TForm1* F = nullptr;
};

}  // namespace

TEST_F(Announcements, LoginInAnyCaseIsListedAndAnswered) {
  const std::string& me = GHostAddress;
  Announce({"login_mp4_cw" + me, "LOGIN_MP4_CW" + me, "Login_Mp4_Cw" + me}, 3);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& l : lines) ExpectLine(l, "  in: " + me);
  EXPECT_EQ(TakeAnswers(3, me), 3u);

  Announce({"logoutmp4_cw" + me, "LogoutMP4_CW" + me}, 5);
  lines = Lines();
  ASSERT_EQ(lines.size(), 5u);
  ExpectLine(lines[3], "  out: " + me);
  ExpectLine(lines[4], "  out: " + me);
  EXPECT_EQ(TakeAnswers(0, me), 0u);

  // Ten announcements of the same receiver: ten lines, ten answers.
  std::vector<std::string> ten(10, "login_mp4_cw" + me);
  for (const std::string& t : ten) SendDatagram(t, 7712);
  EXPECT_TRUE(PumpUntil([&] { return Lines().size() >= 15; }));
  EXPECT_EQ(TakeAnswers(10, me), 10u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Announcements, OtherDatagramsAreIgnoredAndAnEmptyOneHarmsNothing) {
  const std::string& me = GHostAddress;
  for (const std::string& t : {"logout_mp4_cw" + me, std::string("login"), std::string("login_mp4_c"), std::string(),
                              std::string("exit"), "server/" + me, " login_mp4_cw" + me})
    SendDatagram(t, 7712);
  PumpFor(300);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(TakeAnswers(0, me), 0u);

  SendDatagram("", 7712);
  Announce({"login_mp4_cw" + me}, 1);
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(TakeAnswers(1, me), 1u);
}

TEST_F(Announcements, AddressTextIsListedAsReceived) {
  const std::string& me = GHostAddress;
  // A blank before the address is listed, and dropped for the answer.
  Announce({"login_mp4_cw " + me}, 1);
  ExpectLine(Lines().at(0), "  in:  " + me);
  EXPECT_EQ(TakeAnswers(1, me), 1u);

  // Nothing after the keyword: listed, not answered.
  Announce({"login_mp4_cw"}, 2);
  ExpectLine(Lines().at(1), "  in: ");
  EXPECT_EQ(TakeAnswers(0, me), 0u);

  // A host name that resolves nowhere fails at once: listed, not answered, and the next login is answered.
  Announce({"login_mp4_cwnowhere.invalid", "login_mp4_cw" + me}, 4);
  ExpectLine(Lines().at(2), "  in: nowhere.invalid");
  ExpectLine(Lines().at(3), "  in: " + me);
  EXPECT_EQ(TakeAnswers(1, me), 1u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Announcements, DestructionSaysExitOnce) {
  Announce({"login_mp4_cw" + GHostAddress}, 1);
  TakeAnswers(1, GHostAddress);
  DestroyForm();
  ASSERT_TRUE(Answers->WaitFor(1));
  Answers->WaitQuiet(200);
  std::vector<TDatagram> ds = Answers->Datagrams();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_EQ(ds[0].Bytes, "exit");
  EXPECT_EQ(ds[0].To, "255.255.255.255");
}

TEST_F(Announcements, DestructionWhileSendingStopsFirstThenSaysExit) {
  TForm1* f = F;
  f->StartBtnClick(f->StartBtn);
  HandOver(f, 50000);
  DestroyForm();  // stops the thread (which completes the frame), then says "exit"
  ASSERT_TRUE(Answers->WaitFor(1));
  Answers->WaitQuiet(200);
  EXPECT_EQ(Answers->Count(), 1u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Announcements, FailingExitIsReportedAndTheProgramGoesOn) {
  ASSERT_EQ(Shell("ip route del 255.255.255.255/32 dev eth0"), 0);
  DestroyForm();
  EXPECT_EQ(Shell("ip route add 255.255.255.255/32 dev eth0"), 0);
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Caption, Application->Title());
  EXPECT_EQ(boxes[0].Type, MB_OK | MB_ICONERROR);
  EXPECT_NE(boxes[0].Text.find("10051"), std::string::npos) << boxes[0].Text;
  Answers->WaitQuiet(100);
  EXPECT_EQ(Answers->Count(), 0u);
  // The next form starts as usual.
  F = CreateForm();
  EXPECT_NE(F->Codec, nullptr);
}

TEST(ListeningSocket, PortTakenShowsTheNetworkBoxAndTheProgramRunsDeaf) {
  SENDER_NEED_LAN();
  TPortHolder taken(7712);
  ClearBoxes();
  TForm1* f = CreateForm();
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "请检查您的TCP/IP协议是否安装!!!");
  EXPECT_EQ(boxes[0].Caption, "网络错误");
  EXPECT_EQ(boxes[0].Type, MB_OK | MB_ICONERROR);
  SendDatagram("login_mp4_cw" + GHostAddress, 7712);
  PumpFor(200);
  EXPECT_EQ(f->ListBox1->Items()->Count(), 0);
  DestroyForm();
}
