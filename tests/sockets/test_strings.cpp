// The string helpers, the send-queue block and the text tests of the resolution routines.
#include <gtest/gtest.h>

#include "sockets/PubUnit.h"
#include "sockets/WSockbuf.h"
#include "sockets/WSocket.h"

TEST(PubUnit, LeftPart) {
  EXPECT_EQ(LeftPart("exit", 7), "exit");
  EXPECT_EQ(LeftPart("server/", 7), "server/");
  EXPECT_EQ(LeftPart("server/10.0.0.1", 7), "server/");
  EXPECT_EQ(LeftPart("server/", 0), "");
  EXPECT_EQ(LeftPart("server/", -1), "");
  EXPECT_EQ(LeftPart("", 3), "");
}

TEST(PubUnit, RightPart) {
  EXPECT_EQ(RightPart("exit", 2), "it");
  EXPECT_EQ(RightPart("exit", 4), "exit");
  EXPECT_EQ(RightPart("exit", 9), "exit");
  EXPECT_EQ(RightPart("exit", 0), "");
  EXPECT_EQ(RightPart("exit", -3), "");
  EXPECT_EQ(RightPart("", 5), "");
  // How the sender cuts an announcement: a keyword of 12 characters, then the address.
  std::string login = "login_mp4_cw10.0.0.7";
  EXPECT_EQ(RightPart(login, static_cast<int>(login.size()) - 12), "10.0.0.7");
  std::string bare = "login_mp4_cw";
  EXPECT_EQ(RightPart(bare, static_cast<int>(bare.size()) - 12), "");
  std::string shorter = "exit";
  EXPECT_EQ(RightPart(shorter, static_cast<int>(shorter.size()) - 12), "");
}

TEST(Buffer, SizeWriteReadAndReuse) {
  EXPECT_EQ(TBuffer(0).Capacity, 1514);
  EXPECT_EQ(TBuffer(-5).Capacity, 1514);
  TBuffer b(8);
  std::int32_t len = -1;
  EXPECT_EQ(b.Peek(len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(b.Remove(3), 0);
  EXPECT_EQ(b.Write("abcdefghij", 10), 8);
  EXPECT_EQ(b.Write("x", 1), 0) << "a full block takes nothing";
  EXPECT_EQ(b.Remove(3), 3);
  std::uint8_t* p = b.Peek(len);
  ASSERT_EQ(len, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 5), "defgh");
  EXPECT_EQ(b.Remove(100), 5) << "removes what is there";
  EXPECT_EQ(b.ReadPos, 0);
  EXPECT_EQ(b.WritePos, 0);
  EXPECT_EQ(b.Write("xyz", 3), 3) << "an emptied block starts again with its whole capacity";
}

TEST(Buffer, ResizeKeepsDataAndNeverCopiesPastTheNewStorage) {
  TBuffer b(16);
  b.Write("0123456789", 10);
  b.Remove(2);
  b.SetBufSize(32);
  std::int32_t len = 0;
  std::uint8_t* p = b.Peek(len);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p), static_cast<std::size_t>(len)), "23456789");
  b.SetBufSize(4);
  p = b.Peek(len);
  EXPECT_EQ(b.Capacity, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p), static_cast<std::size_t>(len)), "2345")
      << "the unread bytes that fit are kept, not the first bytes written";
}

TEST(Buffer, AShrinkBelowTheWritePositionLeavesAUsableBlock) {
  TBuffer b(64);
  std::string data;
  for (int i = 0; i < 50; ++i) data += static_cast<char>(i + 1);
  b.Write(data.data(), 50);
  b.Remove(30);
  b.SetBufSize(20);
  std::int32_t len = 0;
  std::uint8_t* p = b.Peek(len);
  ASSERT_EQ(len, 20) << "the 20 unread bytes fit and are kept";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 20), data.substr(30));
  EXPECT_EQ(b.Remove(20), 20);
  EXPECT_EQ(b.ReadPos, 0);
  EXPECT_EQ(b.WritePos, 0);
  EXPECT_EQ(b.Write("abc", 3), 3) << "the emptied block takes data again";
  // More unread than fits: the first unread bytes are kept.
  TBuffer c(64);
  c.Write(data.data(), 50);
  c.Remove(10);
  c.SetBufSize(8);
  p = c.Peek(len);
  ASSERT_EQ(len, 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 8), data.substr(10, 8));
  EXPECT_EQ(c.Write("x", 1), 0) << "full";
}

TEST(FindByteTest, FirstMatchOrNull) {
  const char data[] = "abcabc";
  EXPECT_EQ(FindByte(data, 0, 'a'), nullptr);
  EXPECT_EQ(FindByte(data, -1, 'a'), nullptr);
  EXPECT_EQ(FindByte(data, 6, 'c'), reinterpret_cast<const std::uint8_t*>(data + 2));
  EXPECT_EQ(FindByte(data, 6, 'z'), nullptr);
}

TEST(ResolveText, ParseLeadingIntAndIsDigit) {
  EXPECT_EQ(ParseLeadingInt("  42abc"), 42);
  EXPECT_EQ(ParseLeadingInt("abc"), 0);
  EXPECT_EQ(ParseLeadingInt(""), 0);
  EXPECT_EQ(ParseLeadingInt("\t5"), 0) << "only blanks are skipped";
  EXPECT_EQ(ParseLeadingInt("99999999999") & 0xFFFF, static_cast<std::int32_t>(99999999999LL % 65536));
  EXPECT_TRUE(IsDigit('0'));
  EXPECT_TRUE(IsDigit('9'));
  EXPECT_FALSE(IsDigit('a'));
  EXPECT_FALSE(IsDigit('/'));
}

TEST(ResolveText, IsDottedIP) {
  for (const char* yes : {"1.2.3.4", " 1.2.3.4 ", "01.002.3.4", "255.255.255.255", "0.0.0.0", "000000001.2.3.4"})
    EXPECT_TRUE(IsDottedIP(yes)) << "'" << yes << "'";
  for (const char* no : {"1.2.3", "1.2.3.4.5", ".1.2.3", "1..2.3", "1.2.3.", "1.2.3.256", "256.1.1.1", "1.2.3.4x",
                         "1.2.3.4 x", "1 .2.3.4", "", "   ", "a.b.c.d", "99999999999.1.1.1"})
    EXPECT_FALSE(IsDottedIP(no)) << "'" << no << "'";
}
