// A module that lies next to the test program and is found there as "w32beside.dll".
extern "C" __attribute__((visibility("default"))) int W32BesideValue() { return 7; }
