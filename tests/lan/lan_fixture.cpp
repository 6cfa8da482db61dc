#include "lan_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#ifndef TARVO_LAN_TOOL_DEFAULT
#error "TARVO_LAN_TOOL_DEFAULT must name the lan tool"
#endif

namespace tarvo::lan {
namespace {

using Clock = std::chrono::steady_clock;

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return TLan::TimedOut;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// Reads every descriptor to its end, or until the deadline. False when the deadline came first.
bool Drain(std::vector<std::pair<int, std::string*>> fds, Clock::time_point deadline) {
  char buf[4096];
  while (!fds.empty()) {
    std::vector<pollfd> p;
    for (auto& f : fds) p.push_back({f.first, POLLIN, 0});
    int n = poll(p.data(), p.size(), MillisecondsLeft(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (size_t i = p.size(); i-- > 0;) {
      if (!p[i].revents) continue;
      ssize_t got = read(p[i].fd, buf, sizeof buf);
      if (got > 0) {
        fds[i].second->append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds.erase(fds.begin() + static_cast<long>(i));
      }
    }
  }
  return true;
}

// Waits for a child until the deadline: true with its raw status, or false when it is still running.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int* status) {
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  for (;;) {
    pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) {
      if (pidfd >= 0) close(pidfd);
      throw ELanError("process " + std::to_string(pid) + " is not a child: " + std::strerror(errno));
    }
    int left = MillisecondsLeft(deadline);
    if (left == 0) {
      if (pidfd >= 0) close(pidfd);
      return false;
    }
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      poll(&p, 1, left);
    } else {
      usleep(1000);
    }
  }
  if (pidfd >= 0) close(pidfd);
  return true;
}

void KillGroup(pid_t pid, int signal) {
  kill(-pid, signal);
  kill(pid, signal);  // in case it left its group
}

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

ino_t NamespaceInode(pid_t pid, const char* kind) {
  struct stat st{};
  std::string path = "/proc/" + std::to_string(pid) + "/ns/" + kind;
  if (stat(path.c_str(), &st) != 0) throw ELanError("cannot read " + path + ": " + std::strerror(errno));
  return st.st_ino;
}

}  // namespace

std::string LanToolPath() {
  const char* tool = std::getenv("TARVO_LAN_TOOL");
  return tool && *tool ? tool : TARVO_LAN_TOOL_DEFAULT;
}

int RunLanTool(const std::vector<std::string>& args, std::string* out, std::string* err,
               std::chrono::milliseconds timeout) {
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  if ((out && pipe2(outPipe, O_CLOEXEC) != 0) || (err && pipe2(errPipe, O_CLOEXEC) != 0))
    throw ELanError(std::string("pipe: ") + std::strerror(errno));
  std::string tool = LanToolPath();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("bash"));
  argv.push_back(tool.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw ELanError(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    if (out) dup2(outPipe[1], 1);
    if (err) dup2(errPipe[1], 2);
    // The LAN's holders live on after the tool: they must not keep this process's pipes open.
    close_range(3, ~0U, 0);
    execvp("bash", argv.data());
    std::perror("bash");
    _exit(127);
  }
  std::vector<std::pair<int, std::string*>> reads;
  if (out) {
    close(outPipe[1]);
    out->clear();
    reads.emplace_back(outPipe[0], out);
  }
  if (err) {
    close(errPipe[1]);
    err->clear();
    reads.emplace_back(errPipe[0], err);
  }
  auto deadline = Clock::now() + timeout;
  Drain(reads, deadline);
  for (auto& r : reads) close(r.first);
  int status = 0;
  if (!WaitUntil(pid, deadline, &status)) {
    KillGroup(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return TLan::TimedOut;
  }
  return DecodeStatus(status);
}

const std::string& LanUnavailableReason() {
  static const std::string reason = [] {
    if (geteuid() != 0)
      return "the simulated LAN needs root (it makes network, UTS and mount namespaces); this runs as uid " +
             std::to_string(geteuid());
    std::string err;
    int status = RunLanTool({"check"}, nullptr, &err);
    if (status == 0) return std::string();
    return err.empty() ? "lan check failed with status " + std::to_string(status) : Trim(err);
  }();
  return reason;
}

const std::string& NetemUnavailableReason() {
  static const std::string reason = [] {
    if (!LanUnavailableReason().empty()) return LanUnavailableReason();
    std::string err;
    int status = RunLanTool({"check", "netem"}, nullptr, &err);
    if (status == 0) return std::string();
    return err.empty() ? "lan check netem failed with status " + std::to_string(status) : Trim(err);
  }();
  return reason;
}

TLan::TLan(int hostCount, int twoAddressHost) {
  static std::atomic<int> counter{0};
  FName = "gt" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  std::vector<std::string> args = {"up", FName, std::to_string(hostCount)};
  if (twoAddressHost != 0) {
    args.push_back("--two-addresses");
    args.push_back(std::to_string(twoAddressHost));
  }
  args.push_back("--owner");
  args.push_back(std::to_string(getpid()));
  std::string err;
  int status = RunLanTool(args, nullptr, &err);
  if (status != 0) {
    RunLanTool({"down", FName}, nullptr, nullptr);  // whatever a timed-out tool left
    throw ELanError("cannot make the simulated LAN: " + (err.empty() ? "status " + std::to_string(status) : Trim(err)));
  }
  try {
    ReadInfo();
  } catch (...) {
    RunLanTool({"down", FName}, nullptr, nullptr);
    throw;
  }
}

void TLan::ReadInfo() {
  std::string out, err;
  if (RunLanTool({"info", FName}, &out, &err) != 0) throw ELanError("lan info: " + Trim(err));
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    auto w = Words(line);
    if (w.size() == 2 && w[0] == "dir") {
      FStateDir = w[1];
    } else if (w.size() >= 5 && w[0] == "host") {
      THost h;
      h.Name = w[2];
      h.Pid = static_cast<pid_t>(std::stol(w[3]));
      h.Addresses.assign(w.begin() + 4, w.end());
      h.NetNs = NamespaceInode(h.Pid, "net");
      h.UtsNs = NamespaceInode(h.Pid, "uts");
      h.MntNs = NamespaceInode(h.Pid, "mnt");
      FHosts.push_back(std::move(h));
    }
  }
  if (FHosts.empty() || FStateDir.empty()) throw ELanError("lan info gave no hosts: " + out);
}

TLan::~TLan() {
  try {
    Down();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
}

void TLan::Down() {
  if (FDown) return;
  FDown = true;
  std::string err;
  int status = RunLanTool({"down", FName}, nullptr, &err);
  // The tool ended them already; what remains are zombies to reap, or children that never got onto a host.
  for (pid_t pid : FChildren) {
    KillGroup(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  FChildren.clear();
  if (status != 0) throw ELanError("cannot tear down the simulated LAN " + FName + ": " + Trim(err));
}

const TLan::THost& TLan::Host(int host) const {
  if (host < 1 || host > HostCount())
    throw ELanError("no host " + std::to_string(host) + " on the simulated LAN (hosts 1.." +
                    std::to_string(HostCount()) + ")");
  return FHosts[static_cast<size_t>(host - 1)];
}

std::string TLan::HostName(int host) const { return Host(host).Name; }
const std::vector<std::string>& TLan::Addresses(int host) const { return Host(host).Addresses; }
pid_t TLan::HostPid(int host) const { return Host(host).Pid; }

std::vector<int> TLan::OpenNamespaces(int host) const {
  const THost& h = Host(host);
  if (FDown) throw ELanError("the simulated LAN " + FName + " is down");
  const std::pair<const char*, ino_t> kinds[] = {{"net", h.NetNs}, {"uts", h.UtsNs}, {"mnt", h.MntNs}};
  std::vector<int> fds;
  for (auto [kind, inode] : kinds) {
    std::string path = "/proc/" + std::to_string(h.Pid) + "/ns/" + kind;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st{};
    if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_ino != inode)) {
      close(fd);
      fd = -1;
    }
    if (fd < 0) {
      // Never fall back to this process's namespaces: the command would run on the real network.
      for (int f : fds) close(f);
      throw ELanError(h.Name + " of the simulated LAN " + FName + " is gone (its holder " +
                      std::to_string(h.Pid) + " died)");
    }
    fds.push_back(fd);
  }
  return fds;
}

pid_t TLan::Spawn(int host, const std::function<void()>& inChild) {
  std::vector<int> ns = OpenNamespaces(host);
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) std::strcpy(cwd, "/");
  std::fflush(nullptr);  // or the child would write this process's buffered output a second time
  pid_t pid = fork();
  if (pid < 0) {
    for (int f : ns) close(f);
    throw ELanError(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    setpgid(0, 0);
    if (setns(ns[0], CLONE_NEWNET) != 0 || setns(ns[1], CLONE_NEWUTS) != 0 || setns(ns[2], CLONE_NEWNS) != 0) {
      std::perror("setns onto a LAN host");
      _exit(126);
    }
    for (int f : ns) close(f);
    // Entering the mount namespace moved the working directory to its root.
    if (chdir(cwd) != 0 && chdir("/") != 0) _exit(126);
    inChild();
    _exit(1);
  }
  setpgid(pid, pid);
  for (int f : ns) close(f);
  FChildren.push_back(pid);
  return pid;
}

pid_t TLan::Start(int host, const std::vector<std::string>& argv) {
  if (argv.empty()) throw ELanError("Start: no program");
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  return Spawn(host, [&] {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    close_range(3, ~0U, 0);
    execvp(args[0], args.data());
    std::fprintf(stderr, "%s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  });
}

pid_t TLan::Fork(int host, const std::function<int()>& fn) {
  return Spawn(host, [&] {
    int status = 1;
    try {
      status = fn();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "function on a LAN host threw: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "function on a LAN host threw\n");
    }
    std::fflush(nullptr);
    _exit(status);
  });
}

int TLan::Wait(pid_t pid, std::chrono::milliseconds timeout) {
  auto it = std::find(FChildren.begin(), FChildren.end(), pid);
  if (it == FChildren.end()) throw ELanError("process " + std::to_string(pid) + " was not started on the LAN");
  int status = 0;
  int result;
  if (WaitUntil(pid, Clock::now() + timeout, &status)) {
    result = DecodeStatus(status);
  } else {
    KillGroup(pid, SIGKILL);
    waitpid(pid, &status, 0);
    result = TimedOut;
  }
  FChildren.erase(std::find(FChildren.begin(), FChildren.end(), pid));
  return result;
}

void TLan::Kill(pid_t pid, int signal) {
  if (std::find(FChildren.begin(), FChildren.end(), pid) == FChildren.end())
    throw ELanError("process " + std::to_string(pid) + " was not started on the LAN");
  KillGroup(pid, signal);
}

int TLan::Run(int host, const std::vector<std::string>& argv, std::string* out,
              std::chrono::milliseconds timeout) {
  if (!out) return Wait(Start(host, argv), timeout);
  if (argv.empty()) throw ELanError("Run: no program");
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) throw ELanError(std::string("pipe: ") + std::strerror(errno));
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid;
  try {
    pid = Spawn(host, [&] {
      int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      dup2(p[1], 1);
      close_range(3, ~0U, 0);
      execvp(args[0], args.data());
      std::fprintf(stderr, "%s: %s\n", args[0], std::strerror(errno));
      _exit(127);
    });
  } catch (...) {
    close(p[0]);
    close(p[1]);
    throw;
  }
  close(p[1]);
  out->clear();
  auto deadline = Clock::now() + timeout;
  Drain({{p[0], out}}, deadline);
  close(p[0]);
  return Wait(pid, std::chrono::milliseconds(MillisecondsLeft(deadline)));
}

int TLan::RunFunction(int host, const std::function<int()>& fn, std::chrono::milliseconds timeout) {
  return Wait(Fork(host, fn), timeout);
}

void TLan::Netem(int host, const std::string& args) {
  Host(host);
  auto words = Words(args);
  if (words.empty()) throw ELanError("Netem: no netem arguments");
  std::vector<std::string> cmd = {"netem", FName, std::to_string(host)};
  cmd.insert(cmd.end(), words.begin(), words.end());
  std::string err;
  if (RunLanTool(cmd, nullptr, &err) != 0) throw ELanError(Trim(err));
}

void TLan::ClearNetem(int host) {
  Host(host);
  std::string err;
  if (RunLanTool({"netem", FName, std::to_string(host), "off"}, nullptr, &err) != 0) throw ELanError(Trim(err));
}

}  // namespace tarvo::lan
