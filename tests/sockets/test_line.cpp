// Line mode against a TCP peer: lines cut across segments and packed into one, long lines, other terminators,
// editing and echo, the last line at a close, switching line mode off, and a peer that never ends its line.
#include <gtest/gtest.h>

#include <thread>

#include "helpers.h"

namespace {

struct LinePeer {
  PlainTcpServer Peer;
  TTestSocket C{nullptr};
  std::vector<std::string> Lines;
  std::size_t Taken = 0;  // bytes the handlers took, which ReadCount counts a second time

  LinePeer() {
    C.SetLineMode(true);
    C.OnDataAvailable = [this](TObject*, WORD) { Took(C.ReceiveStr()); };
    C.SetAddr("127.0.0.1");
    C.SetPort(std::to_string(Peer.Port()));
    C.Connect();
    EXPECT_TRUE(Peer.Accept(kPatienceMs));
    EXPECT_TRUE(PumpUntil([&] { return C.State() == wsConnected; }));
  }
  void Took(const std::string& line) {
    Taken += line.size();
    Lines.push_back(line);
  }
  // Sends text as one segment and waits until the client has read all of it from its socket.
  void Segment(const std::string& text) {
    std::size_t target = static_cast<std::size_t>(C.ReadCount()) - Taken + text.size();
    Peer.Write(ToBytes(text));
    EXPECT_TRUE(PumpUntil([&] { return static_cast<std::size_t>(C.ReadCount()) - Taken >= target; }));
  }
  std::string Echo(std::size_t n) { return ToString(Peer.Read(n, kPatienceMs)); }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(LineMode, LinesCutAcrossSegmentsOrPackedIntoOne) {
  LinePeer p;
  p.Segment("abc\r");
  EXPECT_EQ(p.Lines, Lines{});
  p.Segment("\ndef");
  EXPECT_EQ(p.Lines, Lines{"abc\r\n"}) << "the terminator was found across the two receives";
  EXPECT_EQ(p.C.RcvBufferCount, 3) << "def stays held";
  EXPECT_EQ(p.C.RcvdCount(), 0) << "no line is being offered";
  p.Segment("\r\none\r\ntwo\r\n");
  EXPECT_EQ(p.Lines, (Lines{"abc\r\n", "def\r\n", "one\r\n", "two\r\n"}));
  EXPECT_EQ(p.C.RcvBufferCount, 0);
}

TEST(LineMode, AHandlerTakingSmallPiecesIsOfferedTheRestOfItsLine) {
  LinePeer p;
  p.C.OnDataAvailable = [&](TObject*, WORD) {
    char buf[2];
    int n = p.C.Receive(buf, sizeof buf);
    p.Took(std::string(buf, static_cast<std::size_t>(std::max(n, 0))));
  };
  p.Segment("abc\r\nde\r\n");
  EXPECT_EQ(p.Lines, (Lines{"ab", "c\r", "\n", "de", "\r\n"}));
}

TEST(LineMode, AHandlerThatTakesNothingGetsItsLineAgainWithTheNextData) {
  LinePeer p;
  int calls = 0;
  p.C.OnDataAvailable = [&](TObject*, WORD) {
    if (++calls > 1) p.Took(p.C.ReceiveStr());
  };
  p.Segment("one\r\n");
  EXPECT_EQ(calls, 1) << "offered once, no spinning";
  EXPECT_EQ(p.C.RcvdCount(), 5) << "the line waits, whole";
  p.Segment("two\r\n");
  EXPECT_EQ(p.Lines, (Lines{"one\r\n", "two\r\n"}));
}

TEST(LineMode, WithoutAHandlerCompleteLinesAreDropped) {
  LinePeer p;
  p.C.OnDataAvailable = nullptr;
  p.Segment("lost\r\nrest");
  p.C.OnDataAvailable = [&](TObject*, WORD) { p.Took(p.C.ReceiveStr()); };
  p.Segment("\r\n");
  EXPECT_EQ(p.Lines, Lines{"rest\r\n"});
}

TEST(LineMode, ALineLongerThanAnySegmentArrivesWhole) {
  LinePeer p;
  std::string line = Pattern(300000);
  for (char& ch : line)
    if (ch == '\r') ch = 'r';
  std::thread writer([&] { p.Peer.Write(ToBytes(line + "\r\nshort\r\n")); });
  EXPECT_TRUE(PumpUntil([&] { return p.Lines.size() == 2; }));
  writer.join();
  ASSERT_EQ(p.Lines.size(), 2u);
  EXPECT_EQ(p.Lines[0], line + "\r\n");
  EXPECT_EQ(p.Lines[1], "short\r\n");
}

TEST(LineMode, OtherTerminators) {
  LinePeer p;
  p.C.SetLineEnd("\n");
  p.Segment("a\nb\n");
  p.C.SetLineEnd("<END>");
  p.Segment("xx<EN");
  p.Segment("D>yy<END>");
  p.C.SetLineEnd(std::string(1, '\0'));
  p.Segment(std::string("nul\0", 4));
  EXPECT_EQ(p.Lines, (Lines{"a\n", "b\n", "xx<END>", "yy<END>", std::string("nul\0", 4)}));
}

TEST(LineMode, EditingAppliesBackspaceAndTabAndTheEchoShowsIt) {
  LinePeer p;
  p.C.SetLineEdit(true);
  p.C.SetLineEcho(true);
  p.Segment("ab\bc\r\n");
  EXPECT_EQ(p.Echo(8), "ab\b \bc\r\n");
  p.Segment("abc\tX\r\n");
  EXPECT_EQ(p.Echo(3 + 5 + 3), "abc     X\r\n");
  p.Segment("12345678\t|\r\n");
  EXPECT_EQ(p.Echo(8 + 8 + 3), "12345678        |\r\n");
  p.Segment("\bz\r\n");
  EXPECT_EQ(p.Echo(3), "z\r\n") << "a backspace with nothing before it takes nothing and echoes nothing";
  p.Segment("ab");
  p.Segment("\b\r\n");
  EXPECT_EQ(p.Echo(7), "ab\b \b\r\n");
  EXPECT_EQ(p.Lines, (Lines{"ac\r\n", "abc     X\r\n", "12345678        |\r\n", "z\r\n", "a\r\n"}));
}

TEST(LineMode, EchoWithoutEditingSendsTheBytesBackAsTheyCame) {
  LinePeer p;
  p.C.SetLineEcho(true);
  p.Segment("a\bb\tc\r\n");
  EXPECT_EQ(p.Echo(7), "a\bb\tc\r\n");
  EXPECT_EQ(p.Lines, Lines{"a\bb\tc\r\n"});
}

TEST(LineMode, ACloseHandsOutTheUnterminatedRestAsALastLine) {
  LinePeer p;
  std::vector<std::string> order;
  p.C.OnDataAvailable = [&](TObject*, WORD) { order.push_back(p.C.ReceiveStr()); };
  p.C.OnSessionClosed = [&](TObject*, WORD e) { order.push_back("closed " + std::to_string(e)); };
  p.Peer.Write(ToBytes("line\r\nxyz"));
  p.Peer.Close();
  EXPECT_TRUE(PumpUntil([&] { return p.C.State() == wsClosed; }));
  EXPECT_EQ(order, (std::vector<std::string>{"line\r\n", "xyz", "closed 0"}));
  EXPECT_EQ(p.C.RcvBufferCount, 0);
  EXPECT_EQ(p.C.RcvBufferSize, 0) << "the buffer went with the connection";
}

TEST(LineMode, SwitchedOffMidLineTheRestFollowsAsPlainData) {
  LinePeer p;
  std::vector<std::string> got;
  p.C.OnDataAvailable = [&](TObject*, WORD) {
    if (p.C.LineMode()) {
      char buf[2];
      int n = p.C.Receive(buf, sizeof buf);
      got.push_back("line " + std::string(buf, static_cast<std::size_t>(n)));
      p.C.SetLineMode(false);
      EXPECT_EQ(p.C.RcvdCount(), 14) << "what is held counts as waiting";
    } else {
      got.push_back("data " + p.C.ReceiveStr());
    }
  };
  p.Peer.Write(ToBytes("abcd\r\nnext\r\npart"));
  EXPECT_TRUE(PumpUntil([&] { return got.size() == 2; }));
  p.Peer.Write(ToBytes("more"));
  EXPECT_TRUE(PumpUntil([&] { return got.size() == 3; }));
  EXPECT_EQ(got, (std::vector<std::string>{"line ab", "data cd\r\nnext\r\npart", "data more"}));
}

// Without a terminator the held bytes would grow for as long as the peer sends. They are handed out once the
// limit is held, so memory stays bounded; every byte arrives, in order, and lines below the limit arrive whole.
TEST(LineMode, APeerThatNeverEndsItsLineCostsBoundedMemory) {
  LinePeer p;
  std::int32_t largest = 0;
  p.C.OnDataAvailable = [&](TObject*, WORD) {
    largest = std::max(largest, p.C.RcvBufferSize);
    p.Took(p.C.ReceiveStr());
  };
  const std::size_t limit = TTestSocket::LineBufferLimit;
  std::string endless(limit * 2 + 12345, 'x');
  std::string sent = endless + "\r\nshort\r\n";
  std::thread writer([&] { p.Peer.Write(ToBytes(sent)); });
  EXPECT_TRUE(PumpUntil([&] { return p.Taken == sent.size(); }));
  writer.join();
  std::string joined;
  for (const auto& l : p.Lines) {
    EXPECT_LE(l.size(), limit);
    joined += l;
  }
  EXPECT_EQ(joined, sent);
  EXPECT_EQ(p.Lines.back(), "short\r\n");
  EXPECT_GE(p.Lines.size(), 4u) << "the endless line came in pieces";
  EXPECT_LE(largest, TTestSocket::LineBufferLimit + 1);
}
