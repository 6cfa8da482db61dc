// Module loading of platform/win32 (kernel.h): LoadLibraryA, GetProcAddress, FreeLibrary and
// GetModuleHandleA over dlopen, with the module name table that maps platform names to shared objects.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "win32/kernel.h"

namespace {

struct ModuleState {
  std::mutex mu;
  std::map<std::string, std::string> paths;  // SetModulePath: lower-case platform name -> file
  std::map<void*, long> refs;                // dlopen handles we gave out -> LoadLibraryA count
  void* program = nullptr;                   // dlopen(nullptr)
};

// Never destroyed: modules may be freed from static destructors and thread exits.
ModuleState& State() {
  static ModuleState* s = new ModuleState;
  return *s;
}

std::string Lower(const char* s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool EndsWith(const std::string& s, const char* suffix) {
  std::string t(suffix);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The shared object's file name for a platform module name (the module name table).
std::string SharedObjectName(const std::string& lower, const char* original) {
  if (lower.find('/') != std::string::npos || EndsWith(lower, ".so") || lower.find(".so.") != std::string::npos)
    return original;
  if (lower == "wsock32.dll" || lower == "wsock32") return "libwsock32.so";
  std::string base = EndsWith(lower, ".dll") ? lower.substr(0, lower.size() - 4) : lower;
  return "lib" + base + ".so";
}

std::string EnvName(const std::string& lower) {
  std::string r = "TARVO_MODULE_PATH_";
  for (char c : lower) r += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return r;
}

std::string ProgramFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

// The error for a file that exists but did not load: a bad file, or (as a missing dependent DLL) 126.
DWORD LoadError(const char* why) {
  std::string w = why ? why : "";
  if (w.find("invalid ELF header") != std::string::npos || w.find("wrong ELF class") != std::string::npos ||
      w.find("file too short") != std::string::npos || w.find("ELF file") != std::string::npos)
    return ERROR_BAD_EXE_FORMAT;
  return ERROR_MOD_NOT_FOUND;
}

// Where the module is, in the order of kernel.h; empty when a registered path is set but missing.
struct Candidates {
  std::string registered;  // when set, the only candidate
  std::string soName;
  std::string besideProgram;
};

Candidates Find(const char* name) {
  std::string lower = Lower(name);
  Candidates c;
  c.soName = SharedObjectName(lower, name);
  {
    ModuleState& s = State();
    std::lock_guard lock(s.mu);
    auto it = s.paths.find(lower);
    if (it != s.paths.end()) c.registered = it->second;
  }
  if (c.registered.empty()) {
    if (const char* env = std::getenv(EnvName(lower).c_str()); env && *env) c.registered = env;
  }
  if (c.registered.empty() && c.soName.find('/') == std::string::npos) {
    std::string folder = ProgramFolder();
    if (!folder.empty()) c.besideProgram = folder + c.soName;
  }
  return c;
}

void* OpenNoLoad(const Candidates& c) {
  if (!c.registered.empty()) return dlopen(c.registered.c_str(), RTLD_NOW | RTLD_NOLOAD);
  void* h = dlopen(c.soName.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h && !c.besideProgram.empty()) h = dlopen(c.besideProgram.c_str(), RTLD_NOW | RTLD_NOLOAD);
  return h;
}

void Remember(void* h, long addRef) {
  ModuleState& s = State();
  std::lock_guard lock(s.mu);
  s.refs[h] += addRef;
}

bool Known(void* h) {
  ModuleState& s = State();
  std::lock_guard lock(s.mu);
  return h == s.program || s.refs.count(h) != 0;
}

using TarvoModuleProcFn = FARPROC (*)(const char*);

// The symbol, only when the module itself defines it: dlsym also searches the module's dependencies (libc
// defines "socket"), and the platform looks at the module's own exports only.
void* OwnSymbol(void* h, const char* name) {
  dlerror();
  void* sym = dlsym(h, name);
  if (!sym) return nullptr;
  link_map* own = nullptr;
  Dl_info info{};
  void* extra = nullptr;
  if (dlinfo(h, RTLD_DI_LINKMAP, &own) != 0 || !own) return nullptr;
  if (dladdr1(sym, &info, &extra, RTLD_DL_LINKMAP) == 0 || !extra) return nullptr;
  return static_cast<link_map*>(extra) == own ? sym : nullptr;
}

}  // namespace

extern "C" {

void SetModulePath(LPCSTR name, LPCSTR path) {
  if (!name || !*name) return;
  ModuleState& s = State();
  std::lock_guard lock(s.mu);
  if (!path || !*path)
    s.paths.erase(Lower(name));
  else
    s.paths[Lower(name)] = path;
}

HMODULE LoadLibraryA(LPCSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Candidates c = Find(name);
  void* h = nullptr;
  DWORD error = ERROR_MOD_NOT_FOUND;
  if (!c.registered.empty()) {
    if (FileExists(c.registered)) {
      h = dlopen(c.registered.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!h) error = LoadError(dlerror());
    }
  } else {
    // Already loaded (linked into the program, or loaded before): the same copy, one more reference.
    h = OpenNoLoad(c);
    if (!h && !c.besideProgram.empty() && FileExists(c.besideProgram)) {
      h = dlopen(c.besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!h) error = LoadError(dlerror());
    }
    if (!h && error == ERROR_MOD_NOT_FOUND) {
      h = dlopen(c.soName.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!h) {
        const char* why = dlerror();
        // "cannot open shared object file" is a missing module; anything else is a bad or incomplete one.
        std::string w = why ? why : "";
        error = w.find("cannot open shared object file") != std::string::npos ? ERROR_MOD_NOT_FOUND : LoadError(why);
      }
    }
  }
  if (!h) {
    SetLastError(error);
    return nullptr;
  }
  Remember(h, 1);
  return reinterpret_cast<HMODULE>(h);
}

BOOL FreeLibrary(HMODULE module) {
  void* h = module;
  ModuleState& s = State();
  bool close = false;
  {
    std::lock_guard lock(s.mu);
    if (h && h == s.program) return TRUE;
    auto it = s.refs.find(h);
    if (!h || it == s.refs.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (it->second > 0) {
      close = true;
      if (--it->second == 0) s.refs.erase(it);
    }
    // A count of 0: a handle from GetModuleHandleA of a module the program links; nothing of ours to free.
  }
  if (close) dlclose(h);
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  void* h = module;
  if (!h || !Known(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (reinterpret_cast<UINT_PTR>(procName) < 0x10000 || !*procName) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  // A module with a binding table answers through it (libwsock32.so exports its routines under prefixed
  // names only, so that it never interposes on libc's socket, bind ...).
  if (void* table = OwnSymbol(h, "TarvoModuleProc")) {
    auto proc = reinterpret_cast<TarvoModuleProcFn>(table);
    if (FARPROC f = proc(procName)) return f;
  }
  if (void* sym = OwnSymbol(h, procName)) return reinterpret_cast<FARPROC>(sym);
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

HMODULE GetModuleHandleA(LPCSTR name) {
  if (!name) {
    ModuleState& s = State();
    std::lock_guard lock(s.mu);
    if (!s.program) s.program = dlopen(nullptr, RTLD_NOW);
    return reinterpret_cast<HMODULE>(s.program);
  }
  if (!*name) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* h = OpenNoLoad(Find(name));
  if (!h) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  Remember(h, 0);
  dlclose(h);  // RTLD_NOLOAD counted a reference; GetModuleHandleA takes none
  return reinterpret_cast<HMODULE>(h);
}

}  // extern "C"
