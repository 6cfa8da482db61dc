// A module with a binding table, as libwsock32.so has: its routines are exported under prefixed names only,
// and TarvoModuleProc maps the platform names to them.
using FARPROC_ = void (*)();

extern "C" __attribute__((visibility("default"))) int w32table_socket() { return 1001; }
extern "C" __attribute__((visibility("default"))) int W32TablePlain() { return 1002; }

extern "C" __attribute__((visibility("default"))) FARPROC_ TarvoModuleProc(const char* name) {
  if (name[0] == 's' && name[1] == 'o' && name[2] == 'c' && name[3] == 'k' && name[4] == 'e' && name[5] == 't' &&
      name[6] == 0)
    return reinterpret_cast<FARPROC_>(&w32table_socket);
  return nullptr;
}
