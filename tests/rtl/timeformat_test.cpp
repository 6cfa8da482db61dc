// TimeToStr in the user's locale: the long time format that the environment's locale names, the plain
// 14:03:27 in the C locale, and where that locale is missing or writes its times in another character set.
// The test compiles small locales of its own with localedef (LOCPATH), so that it needs none installed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "rtl/sysutils.h"

// glibc's newlocale loses its copy of LOCPATH each time it is set (the toolkit makes one per change of the
// environment, and this test changes it): not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

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

bool Digits(const std::string& s, std::size_t at, int low, int high) {
  if (at + 2 > s.size() || s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9') return false;
  const int n = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return n >= low && n <= high;
}

// hh:mm:ss with hours from low to high, then suffix.
bool Clock(const std::string& s, int low, int high, const std::string& suffix) {
  return s.size() == 8 + suffix.size() && Digits(s, 0, low, high) && s[2] == ':' && Digits(s, 3, 0, 59) &&
         s[5] == ':' && Digits(s, 6, 0, 60) && s.compare(8, std::string::npos, suffix) == 0;
}

bool Plain(const std::string& s) { return Clock(s, 0, 23, ""); }

}  // namespace

TEST_F(TimeFormat, TheCLocaleAndAMissingOneWriteHoursMinutesAndSeconds) {
  UseLocale("C");
  EXPECT_TRUE(Plain(TimeToStr())) << TimeToStr();
  UseLocale("xx_NOWHERE.UTF-8");
  EXPECT_TRUE(Plain(TimeToStr())) << TimeToStr();
}

TEST_F(TimeFormat, TheLocalesOwnFormat) {
  if (!Compile("en_XX.UTF-8", "UTF-8", "%I:%M:%S %p")) GTEST_SKIP() << "localedef cannot build locales here";
  UseLocale("en_XX.UTF-8");
  const std::string t = TimeToStr();
  EXPECT_TRUE(Clock(t, 1, 12, " AM") || Clock(t, 1, 12, " PM")) << t;
}

TEST_F(TimeFormat, AFormatInAnotherCharacterSetThanUtf8FallsBackToThePlainOne) {
  // A middle dot between the fields: one byte, 0xB7, in Latin-1, which would show garbled as UTF-8.
  if (!Compile("xx_XX.ISO-8859-1", "ISO-8859-1", "%H<U00B7>%M<U00B7>%S")) GTEST_SKIP() << "localedef cannot build locales here";
  UseLocale("xx_XX.ISO-8859-1");
  EXPECT_TRUE(Plain(TimeToStr())) << TimeToStr();
}
