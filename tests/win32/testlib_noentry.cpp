// A module with one entry point of its own and none of those a socket library has (tests of GetProcAddress).
extern "C" __attribute__((visibility("default"))) int W32NoEntryPresent() { return 42; }
