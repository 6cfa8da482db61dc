// The sender's test binaries start here: onto a host of a simulated LAN of their own, then the tests.
#include "sender_testing.h"

int main(int argc, char** argv) { return sender_testing::Main(argc, argv); }
