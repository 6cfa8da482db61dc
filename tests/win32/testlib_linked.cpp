// A module that the test program links: LoadLibraryA("w32linked.dll") must give this very copy.
extern "C" __attribute__((visibility("default"))) int W32LinkedCounter() {
  static int calls = 0;
  return ++calls;
}
