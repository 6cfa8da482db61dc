// TimeToStr in the user's locale: the long time format that the environment's locale names, the plain
// 14:03:27 in the C locale, and where that locale is missing or writes its times in another character set.
// The test compiles small locales of its own with localedef (LOCPATH), so that it needs none installed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <string>

#include "rtl/sysutils.h"

namespace {

class TimeFormat : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char name[] = "/tmp/rtl-locales-XXXXXX";
    Dir = mkdtemp(name);
  }
  static void TearDownTestSuite() {
    std::string rm = "rm -rf '" + Dir + "'";
    (void)!std::system(rm.c_str());
  }
  void TearDown() override {
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
  }

  // Compiles a locale whose only category is its time format; false when localedef is missing here.
  static bool Compile(const std::string& name, const std::string& charmap, const std::string& timeFormat) {
    const std::string source = Dir + "/" + name + ".src";
    std::ofstream(source) << "LC_TIME\n"
                             "abday \"Sun\";\"Mon\";\"Tue\";\"Wed\";\"Thu\";\"Fri\";\"Sat\"\n"
                             "day \"Sunday\";\"Monday\";\"Tuesday\";\"Wednesday\";\"Thursday\";\"Friday\";\"Saturday\"\n"
                             "abmon \"Jan\";\"Feb\";\"Mar\";\"Apr\";\"May\";\"Jun\";\"Jul\";\"Aug\";\"Sep\";\"Oct\";\"Nov\";\"Dec\"\n"
                             "mon \"January\";\"February\";\"March\";\"April\";\"May\";\"June\";\"July\";\"August\";"
                             "\"September\";\"October\";\"November\";\"December\"\n"
                             "am_pm \"AM\";\"PM\"\nd_t_fmt \"%a %d %b %Y %T\"\nd_fmt \"%m/%d/%Y\"\n"
                             "t_fmt \"" << timeFormat << "\"\nt_fmt_ampm \"%I:%M:%S %p\"\nEND LC_TIME\n";
    // -c: the other categories are missing on purpose.
    const std::string command = "localedef -c -i '" + source + "' -f " + charmap + " '" + Dir + "/" + name +
                                "' >/dev/null 2>&1";
    (void)!std::system(command.c_str());
    return access((Dir + "/" + name + "/LC_TIME").c_str(), R_OK) == 0;
  }
  static void UseLocale(const std::string& name) {
    setenv("LOCPATH", Dir.c_str(), 1);
    setenv("LC_ALL", name.c_str(), 1);
  }

  static std::string Dir;
};

std::string TimeFormat::Dir;

const std::regex kPlain("([01][0-9]|2[0-3]):[0-5][0-9]:[0-6][0-9]");

}  // namespace

TEST_F(TimeFormat, TheCLocaleAndAMissingOneWriteHoursMinutesAndSeconds) {
  UseLocale("C");
  EXPECT_TRUE(std::regex_match(TimeToStr(), kPlain)) << TimeToStr();
  UseLocale("xx_NOWHERE.UTF-8");
  EXPECT_TRUE(std::regex_match(TimeToStr(), kPlain)) << TimeToStr();
}

TEST_F(TimeFormat, TheLocalesOwnFormat) {
  if (!Compile("en_XX.UTF-8", "UTF-8", "%I:%M:%S %p")) GTEST_SKIP() << "localedef cannot build locales here";
  UseLocale("en_XX.UTF-8");
  const std::string t = TimeToStr();
  EXPECT_TRUE(std::regex_match(t, std::regex("(0[1-9]|1[0-2]):[0-5][0-9]:[0-6][0-9] (AM|PM)"))) << t;
}

TEST_F(TimeFormat, AFormatInAnotherCharacterSetThanUtf8FallsBackToThePlainOne) {
  // A middle dot between the fields: one byte, 0xB7, in Latin-1, which would show garbled as UTF-8.
  if (!Compile("xx_XX.ISO-8859-1", "ISO-8859-1", "%H<U00B7>%M<U00B7>%S")) GTEST_SKIP() << "localedef cannot build locales here";
  UseLocale("xx_XX.ISO-8859-1");
  EXPECT_TRUE(std::regex_match(TimeToStr(), kPlain)) << TimeToStr();
}
