// A stand-in for "wsock32.dll" in the binding tests: it exports only the WSA start-up and error routines and
// WSAAsyncSelect, so every other routine is an entry point that it lacks. Built twice: once whose start-up
// succeeds, once whose start-up fails with FAKE_STARTUP_RESULT. Counters tell the tests what was called.
#include <cstdint>

namespace {
int gStartups = 0;
int gCleanups = 0;
int gVersion = 0;
int gLastError = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int WSAStartup(std::uint16_t version, void* data) {
  ++gStartups;
  gVersion = version;
  return FAKE_STARTUP_RESULT;
}

__attribute__((visibility("default"))) int WSACleanup() {
  ++gCleanups;
  return 0;
}

__attribute__((visibility("default"))) void WSASetLastError(int error) { gLastError = error; }

__attribute__((visibility("default"))) int WSAGetLastError() { return gLastError; }

__attribute__((visibility("default"))) int WSAAsyncSelect(std::uintptr_t, void*, unsigned, int) {
  gLastError = 10093;
  return -1;
}

// Not a Winsock routine: read by the tests through dlsym.
__attribute__((visibility("default"))) void FakeWsockCounters(int* startups, int* cleanups, int* version) {
  *startups = gStartups;
  *cleanups = gCleanups;
  *version = gVersion;
}
}
