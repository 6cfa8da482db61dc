// A host database of the test's own: the lookup tests run in a private mount namespace in which
// /etc/hosts, /etc/host.conf and /etc/nsswitch.conf are the files below, so every name is answered from
// the files and a name that is in none of them fails at once, without asking any name server.
// Kept apart from the Winsock header, since it needs the system's mount calls.
#include "private_hosts.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace wstest {

namespace {
bool Ready = false;
std::string Why = "not set up";

bool BindFile(const std::string& text, const char* target) {
  char path[] = "/tmp/wsock32-test-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  ok = ok && mount(path, target, nullptr, MS_BIND, nullptr) == 0;
  unlink(path);  // the mount keeps the file alive
  return ok;
}
}  // namespace

void SetUpPrivateHosts() {
  if (geteuid() != 0) {
    Why = "needs root for a private mount namespace";
    return;
  }
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    Why = "no private mount namespace";
    return;
  }
  if (!BindFile(PrivateHostsFile, "/etc/hosts") || !BindFile("multi on\n", "/etc/host.conf") ||
      !BindFile("hosts: files\nservices: files\nprotocols: files\n", "/etc/nsswitch.conf")) {
    Why = "cannot mount the private host database";
    return;
  }
  Ready = true;
}

const char* PrivateHostsMissing() { return Ready ? nullptr : Why.c_str(); }

}  // namespace wstest
