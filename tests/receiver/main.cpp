// The receiver's test program. Before anything else runs it moves itself into a network namespace of its own
// with only loopback, so that the form's broadcasts reach nothing but the test; it paints on Qt's offscreen
// platform and counts the form's paints in a paint log of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "receiver_fixture.h"
#include "sockets/WSocket.h"

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) listing = true;
  std::string why;
  if (!listing && !EnterPrivateLoopback(why)) std::fprintf(stderr, "receiver_tests: %s; the tests skip\n", why.c_str());

  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("TARVO_UNATTENDED");
  const std::string paintLog = "/tmp/receiver_tests." + std::to_string(::getpid()) + ".paint";
  ::unlink(paintLog.c_str());
  ::setenv("TARVO_PAINT_LOG", paintLog.c_str(), 1);

  RegisterSocketClasses();
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  ::unlink(paintLog.c_str());
  return result;
}
