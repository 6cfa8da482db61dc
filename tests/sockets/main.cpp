// The socket component's test program: it moves itself into a private network namespace when it may (root), so
// that no name lookup or send can leave the machine, then runs the tests.
#include <gtest/gtest.h>

#include "plain_net.h"
#include "sockets/WSocket.h"

int main(int argc, char** argv) {
  EnterPrivateNetwork();
  RegisterSocketClasses();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
