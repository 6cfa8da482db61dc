// The translation of errno to Winsock error numbers (the layer's Linux side, compiled into this test): an errno
// without a counterpart becomes WSAENETDOWN and is named on standard error once, however many threads meet it.
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sys.h"
#include "wsock32/errors.h"

using wsock32::sys::WsaFromErrno;

TEST(ErrnoTranslation, AnUnknownErrnoIsNamedOncePerCode) {
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(WsaFromErrno(EBADFD), WSAENETDOWN);
        EXPECT_EQ(WsaFromErrno(ENOKEY), WSAENETDOWN);
        EXPECT_EQ(WsaFromErrno(ECONNREFUSED), WSAECONNREFUSED);
        EXPECT_EQ(WsaFromErrno(0), 0);
      }
    });
  for (auto& th : threads) th.join();
  std::istringstream err(testing::internal::GetCapturedStderr());
  std::vector<std::string> lines;
  for (std::string line; std::getline(err, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u) << "one line per unknown code, none for a known one";
  for (int code : {EBADFD, ENOKEY}) {
    const std::string named = "errno " + std::to_string(code) + " (";
    int found = 0;
    for (const std::string& line : lines)
      if (line.find(named) != std::string::npos) {
        ++found;
        EXPECT_NE(line.find("WSAENETDOWN (10050)"), std::string::npos) << line;
      }
    EXPECT_EQ(found, 1) << code;
  }
}
