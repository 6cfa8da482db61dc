// The simulated LAN for tests: N hosts, each in its own network, UTS and mount namespaces, on one bridge inside
// a private network namespace, made and removed by the shell tool tests/lan/lan (see README.md beside it).
// Host k (1..N) is named "hostk", has the address 10.77.0.(10+k) (the two-address host also 10.77.0.(100+k),
// listed second), resolves its own and its peers' names from its own hosts file, fails unknown names at once,
// and reaches the others with a broadcast to 255.255.255.255.
//
// For tests and tools only; needs root. Use a TLan from one thread, and fork functions onto hosts only while the
// test process has a single thread. lan_gtest.h adds a GoogleTest fixture that skips when no LAN can be made.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvo::lan {

// How long waits for a process on a host last by default: generous, for a loaded machine and a sanitizer build.
// A wait ends as soon as the process does; only a hung one costs this long.
inline constexpr std::chrono::seconds kPatience{60};

class ELanError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Why no LAN can be made on this machine ("" when one can): not root, a tool missing, namespaces refused.
// Asked once per process.
const std::string& LanUnavailableReason();
// Why netem cannot be used here ("" when it can). Asked once per process.
const std::string& NetemUnavailableReason();

// The shell tool: $TARVO_LAN_TOOL when set, otherwise the tool in the source tree.
std::string LanToolPath();
// Runs the shell tool with these arguments (off every LAN host) and returns its exit status, or TLan::TimedOut
// once it outlived the timeout and was killed; its standard output and error go to out and err when given, else
// to this process's. The default lies above the tool's own waits (a minute for a holder to start); a program that
// it runs on a host may need longer.
int RunLanTool(const std::vector<std::string>& args, std::string* out = nullptr, std::string* err = nullptr,
               std::chrono::milliseconds timeout = 2 * kPatience);

class TLan {
public:
  // Wait() and Run() report a process that outlived its time (and was killed) with this status.
  static constexpr int TimedOut = -1;

  // Makes a LAN of hostCount hosts, host twoAddressHost (0: none) with two addresses. It is torn down when the
  // TLan is destroyed, and by the tool's watchdog should this process die first. Throws ELanError.
  explicit TLan(int hostCount, int twoAddressHost = 0);
  ~TLan();
  TLan(const TLan&) = delete;
  TLan& operator=(const TLan&) = delete;

  const std::string& Name() const { return FName; }
  int HostCount() const { return static_cast<int>(FHosts.size()); }
  std::string HostName(int host) const;
  // The host's own addresses, in the order its name resolves to them.
  const std::vector<std::string>& Addresses(int host) const;
  std::string Address(int host) const { return Addresses(host).front(); }
  // The process that holds the host's namespaces (a target for nsenter).
  pid_t HostPid(int host) const;
  // Where the LAN keeps its files (removed at teardown).
  const std::string& StateDir() const { return FStateDir; }

  // Starts a program on a host, in its own process group, with standard input from /dev/null and this
  // process's standard output and error. Returns its process id.
  pid_t Start(int host, const std::vector<std::string>& argv);
  // Forks a child that enters the host and exits with fn's result (1 when it throws). The child has a copy of
  // this process's memory and its open descriptors (pipes made before the call reach it), but GoogleTest
  // assertions in it do not reach the test: return a status and write diagnostics to standard error.
  pid_t Fork(int host, const std::function<int()>& fn);
  // Waits for a process that Start or Fork made: its exit status, 128 + signal when a signal ended it, or
  // TimedOut, after killing its process group, when it outlives the timeout.
  int Wait(pid_t pid, std::chrono::milliseconds timeout = kPatience);
  // Signals a process that Start or Fork made, with its process group.
  void Kill(pid_t pid, int signal = SIGKILL);

  // Start and Wait in one; the program's standard output goes to out when given.
  int Run(int host, const std::vector<std::string>& argv, std::string* out = nullptr,
          std::chrono::milliseconds timeout = kPatience);
  // Fork and Wait in one.
  int RunFunction(int host, const std::function<int()>& fn, std::chrono::milliseconds timeout = kPatience);

  // Puts netem on the host's bridge port, replacing what was there: it shapes every packet the host receives
  // ("loss 30%", "delay 50ms 10ms", "duplicate 100%", "delay 10ms reorder 25% 50%"). Throws ELanError with
  // tc's message, also when this kernel has no netem.
  void Netem(int host, const std::string& args);
  // Removes netem from the host's bridge port; nothing happens when there is none.
  void ClearNetem(int host);

  // Kills everything on the hosts, removes the namespaces and the LAN's files, and reaps the processes that
  // Start and Fork made. The destructor does this when it has not been done; throws ELanError on failure.
  void Down();

private:
  struct THost {
    std::string Name;
    pid_t Pid = 0;
    std::vector<std::string> Addresses;
    ino_t NetNs = 0, UtsNs = 0, MntNs = 0;
  };

  const THost& Host(int host) const;
  // Opens the host's namespaces, checking that they are the ones the LAN made.
  std::vector<int> OpenNamespaces(int host) const;
  pid_t Spawn(int host, const std::function<void()>& inChild);
  void ReadInfo();

  std::string FName;
  std::string FStateDir;
  std::vector<THost> FHosts;
  std::vector<pid_t> FChildren;
  bool FDown = false;
};

}  // namespace tarvo::lan
