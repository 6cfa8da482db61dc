// Exceptions, Format and the text routines.
#include "rtl/sysutils.h"

#include <gtest/gtest.h>


TEST(Format, FillsTextAndIntegerPlaceholders) {
  EXPECT_EQ(Format("%s: WSAStartup error #%d", {"wsock32.dll", 10091}), "wsock32.dll: WSAStartup error #10091");
  EXPECT_EQ(Format("%d%% of %s", {-5, std::string("all")}), "-5% of all");
  EXPECT_EQ(Format("no placeholders", {}), "no placeholders");
  EXPECT_EQ(Format("%d", {std::int64_t{-9223372036854775807LL - 1}}), "-9223372036854775808");
  EXPECT_EQ(Format("%s", {"网络错误"}), "网络错误");
  EXPECT_EQ(Format("%s", {"extra ignored", 1}), "extra ignored");
}

TEST(Format, WrongOrMissingArgumentsRaiseEConvertError) {
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s", {42}), EConvertError);
  EXPECT_THROW(Format("%s and %s", {"one"}), EConvertError);
  EXPECT_THROW(Format("%x", {1}), EConvertError);
  EXPECT_THROW(Format("100%", {}), EConvertError);
  try {
    Format("port %d", {});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_NE(e.Message().find("port %d"), std::string::npos) << e.Message();
  }
}

TEST(Exception, CarriesItsMessageAndClass) {
  Exception plain("plain text");
  EXPECT_EQ(plain.Message(), "plain text");
  EXPECT_STREQ(plain.what(), "plain text");
  EXPECT_STREQ(plain.ClassName(), "Exception");
  EListError formatted("List index out of bounds (%d)", {5});
  EXPECT_EQ(formatted.Message(), "List index out of bounds (5)");
  EXPECT_STREQ(formatted.ClassName(), "EListError");
  EFOpenError derived("x");
  const Exception& base = derived;
  EXPECT_STREQ(base.ClassName(), "EFOpenError");
  EXPECT_NE(dynamic_cast<const EStreamError*>(&base), nullptr);
}

TEST(StrToInt, AcceptsDecimalWithSignAndBlanks) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("  -17 "), -17);
  EXPECT_EQ(StrToInt("+3"), 3);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(IntToStr(-12), "-12");
  EXPECT_EQ(StrToIntDef("x", 7), 7);
}

TEST(StrToInt, RejectsEverythingElse) {
  for (const char* bad : {"", " ", "abc", "12abc", "1 2", "-", "2147483648", "-2147483649", "0x10", "1.5"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  try {
    StrToInt("abc");
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
}

TEST(TextRoutines, CaseAndTrim) {
  EXPECT_EQ(UpperCase("udp Tcp 中"), "UDP TCP 中");
  EXPECT_EQ(LowerCase("UDP"), "udp");
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_LT(CompareText("abc", "abd"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
  EXPECT_TRUE(SameText("TWSocket", "twsocket"));
  EXPECT_FALSE(SameText("TWSocket", "TWSocke"));
  EXPECT_EQ(Trim(std::string("\x01 \t host \r\n\x00", 12)), "host");
  EXPECT_EQ(Trim(" \x7f "), "\x7f");
  EXPECT_EQ(Trim("   "), "");
}

TEST(TimeToStr, HoursMinutesSeconds) {
  setenv("LC_ALL", "C", 1);  // the user's locale may write times otherwise
  std::string t = TimeToStr();
  ASSERT_EQ(t.size(), 8u) << t;
  EXPECT_EQ(t[2], ':');
  EXPECT_EQ(t[5], ':');
  int h = std::stoi(t.substr(0, 2)), m = std::stoi(t.substr(3, 2)), s = std::stoi(t.substr(6, 2));
  EXPECT_TRUE(h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 61) << t;
}
