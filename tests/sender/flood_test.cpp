// Announcements whose text is longer than any address or host name: what the sender lists, and that it answers
// and looks up exactly as it does for any other text.
#include "sender_testing.h"

using namespace sender_testing;

namespace {

// n characters that tell their place, so that a line shows where it was cut.
std::string LongText(std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text += static_cast<char>('a' + i / 10 % 26);
  return text;
}

class LongAnnouncements : public ::testing::Test {
 protected:
  void SetUp() override {
    SENDER_NEED_LAN();
    F = CreateForm();
    ClearBoxes();
  }
  void TearDown() override {
    if (Form1) DestroyForm();
  }
  // Sends one announcement and gives the line it added from its "  in: " or "  out: " on (the time before it is
  // not at issue here).
  std::string Listed(const std::string& datagram, const char* direction) {
    const int before = F->ListBox1->Items()->Count();
    SendDatagram(datagram, 7712);
    // Generous, for loaded machines and sanitizer builds.
    if (!PumpUntil([&] { return F->ListBox1->Items()->Count() > before; }, 20000)) return "(no line)";
    const std::string& line = F->ListBox1->Items()->Strings(before);
    return line.substr(std::min(line.find(direction), line.size()));
  }
  // Once the last login's answer has come: the answers, which must all be "server/" with our address, sent to it.
  static std::size_t Answered(TUdpSink& answers) {
    EXPECT_TRUE(answers.WaitFor(1, 20000));
    answers.WaitQuiet(100);
    for (const TDatagram& d : answers.Datagrams()) {
      EXPECT_EQ(d.Bytes, "server/" + GHostAddress);
      EXPECT_EQ(d.To, GHostAddress);
    }
    return answers.Count();
  }
  TForm1* F = nullptr;
};

}  // namespace

TEST_F(LongAnnouncements, LongLogoutAndLoginAreListedCutTo300AndNothingElseChanges) {
  TUdpSink answers(7708);
  const std::string text = LongText(65000);
  EXPECT_EQ(Listed("logoutmp4_cw" + text, "  out: "), "  out: " + text.substr(0, 300));
  // Such a text names no host: listed, not answered, and the answer socket closed as after any failed lookup.
  EXPECT_EQ(Listed("LOGIN_MP4_CW" + text, "  in: "), "  in: " + text.substr(0, 300));
  EXPECT_EQ(F->CliSocket->State(), wsClosed);

  // Only the real login that follows is answered.
  EXPECT_EQ(Listed("login_mp4_cw" + GHostAddress, "  in: "), "  in: " + GHostAddress);
  EXPECT_EQ(Answered(answers), 1u);
  EXPECT_EQ(F->ListBox1->Items()->Count(), 3);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LongAnnouncements, TextsUpTo300AreListedWholeAndTheAnswerTakesTheWholeText) {
  const std::string text = LongText(301);
  EXPECT_EQ(Listed("logoutmp4_cw" + text.substr(0, 300), "  out: "), "  out: " + text.substr(0, 300));
  EXPECT_EQ(Listed("logoutmp4_cw" + text, "  out: "), "  out: " + text.substr(0, 300));

  // Blanks around an address are dropped for the answer however many there are; the line shows the first 300.
  TUdpSink answers(7708);
  const std::string padded = std::string(400, ' ') + GHostAddress + std::string(50, ' ');
  EXPECT_EQ(Listed("login_mp4_cw" + padded, "  in: "), "  in: " + padded.substr(0, 300));
  EXPECT_EQ(Answered(answers), 1u);
}
