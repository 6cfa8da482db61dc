// The simulated LAN itself: broadcast between hosts, names, netem, isolation and teardown.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "lan_gtest.h"

using namespace std::chrono_literals;
using tarvo::lan::ELanError;
using tarvo::lan::kPatience;
using tarvo::lan::RunLanTool;
using tarvo::lan::TLan;

namespace {

// A pipe that processes on hosts write one byte to once they listen, so that nothing is sent too early; or that
// the test writes to, to tell a process on a host that it has heard all it is going to.
class TReady {
public:
  TReady() {
    if (pipe(FFd) != 0) std::perror("pipe");
  }
  ~TReady() {
    close(FFd[0]);
    close(FFd[1]);
  }
  void Signal() const {
    char c = 1;
    if (write(FFd[1], &c, 1) != 1) std::perror("ready");
  }
  bool WaitFor(int count, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (char c; count > 0; --count) {
      pollfd p{FFd[0], POLLIN, 0};
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1 || read(FFd[0], &c, 1) != 1)
        return false;
    }
    return true;
  }
  int ReadEnd() const { return FFd[0]; }

private:
  int FFd[2] = {-1, -1};
};

std::string OwnHostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

int UdpSocket(int port, bool broadcast = false) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  int on = 1;
  if (broadcast) setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("bind");
    return -1;
  }
  return fd;
}

// The next datagram within the timeout, with its source; false when none came.
bool ReceiveOne(int fd, std::chrono::milliseconds timeout, std::string* data, sockaddr_in* from) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) return false;
  char buf[2048];
  socklen_t len = sizeof *from;
  ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(from), &len);
  if (n < 0) return false;
  data->assign(buf, static_cast<size_t>(n));
  return true;
}

bool SendTo(int fd, const std::string& address, int port, const std::string& data) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  ssize_t n = sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (n != static_cast<ssize_t>(data.size())) std::perror(("sendto " + address).c_str());
  return n == static_cast<ssize_t>(data.size());
}

// What BroadcastFrom sends after its copies: a host that receives it has received all that came before.
const std::string kEnd = "end";

// Counts the datagrams equal to data that reach port 7712 until kEnd arrives, or until the test signals stop
// (to a host that cannot hear kEnd, once the others have heard it): then it counts what is waiting and ends.
// The count is its exit status on a host; 251 when neither came in time.
int CountBroadcasts(const TReady& ready, const TReady& stop, const std::string& data) {
  int fd = UdpSocket(7712);
  if (fd < 0) return 250;
  ready.Signal();
  int count = 0;
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p[2] = {{fd, POLLIN, 0}, {stop.ReadEnd(), POLLIN, 0}};
    if (poll(p, 2, 1000) < 0) return 250;
    std::string got;
    sockaddr_in from{};
    if (p[0].revents) {
      if (!ReceiveOne(fd, 0ms, &got, &from)) continue;
      if (got == kEnd) return count;
      count += got == data;
    } else if (p[1].revents) {
      while (ReceiveOne(fd, 0ms, &got, &from)) count += got == data;
      return count;
    }
  }
  return 251;
}

int BroadcastFrom(int copies, const std::string& data) {
  int fd = UdpSocket(0, true);
  for (int i = 0; i <= copies; ++i) {
    if (fd < 0 || !SendTo(fd, "255.255.255.255", 7712, i < copies ? data : kEnd)) return 1;
    std::this_thread::sleep_for(20ms);
  }
  return 0;
}

std::vector<std::string> Addresses(const hostent* h) {
  std::vector<std::string> list;
  for (char** a = h ? h->h_addr_list : nullptr; a && *a; ++a) list.push_back(inet_ntoa(*reinterpret_cast<in_addr*>(*a)));
  return list;
}

std::string Joined(const std::vector<std::string>& list) {
  std::string s;
  for (auto& a : list) s += a + " ";
  return s;
}

// Namespaces still held by some process, out of the given ones ("net:[123]").
std::set<std::string> HeldNamespaces(const std::set<std::string>& wanted) {
  std::set<std::string> held;
  for (auto& p : std::filesystem::directory_iterator("/proc")) {
    for (const char* kind : {"net", "uts", "mnt"}) {
      std::error_code ec;
      auto target = std::filesystem::read_symlink(p.path() / "ns" / kind, ec).string();
      if (!ec && wanted.count(target)) held.insert(target);
    }
  }
  return held;
}

std::set<std::string> NamespacesOf(pid_t pid, std::initializer_list<const char*> kinds) {
  std::set<std::string> ns;
  for (const char* kind : kinds)
    ns.insert(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/" + kind).string());
  return ns;
}

// Keeps namespaces from being freed, so that their numbers cannot pass to another test's LAN meanwhile. A
// descriptor puts no process into a namespace.
class TPinned {
public:
  void Add(pid_t pid, std::initializer_list<const char*> kinds) {
    for (const char* kind : kinds)
      FFds.push_back(open(("/proc/" + std::to_string(pid) + "/ns/" + kind).c_str(), O_RDONLY | O_CLOEXEC));
    Ids.merge(NamespacesOf(pid, kinds));
  }
  ~TPinned() {
    for (int fd : FFds) close(fd);
  }
  std::set<std::string> Ids;

private:
  std::vector<int> FFds;
};

bool Running(pid_t pid) {  // alive and not a zombie
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string s((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  auto paren = s.rfind(')');
  return paren != std::string::npos && paren + 2 < s.size() && s[paren + 2] != 'Z';
}

std::string InfoValue(const std::string& name, const std::string& key) {
  std::string out, err;
  RunLanTool({"info", name}, &out, &err);
  std::istringstream in(out);
  for (std::string k, v; in >> k && std::getline(in, v);)
    if (k == key) return v.substr(1);
  return "";
}

class LanBroadcast : public tarvo::lan::TLanTest {
protected:
  LanBroadcast() : TLanTest(3) {}
};

TEST_F(LanBroadcast, ReachesEveryOtherHostAndTheAnswersComeBack) {
  TReady ready;
  const std::string sender = Lan().Address(1);
  auto listener = [&] {
    int fd = UdpSocket(7712);
    if (fd < 0) return 2;
    ready.Signal();
    std::string got;
    sockaddr_in from{};
    if (!ReceiveOne(fd, kPatience, &got, &from)) {
      std::fprintf(stderr, "%s: no broadcast arrived\n", OwnHostName().c_str());
      return 3;
    }
    if (got != "login_mp4_cw" + sender || inet_ntoa(from.sin_addr) != sender) {
      std::fprintf(stderr, "%s: got '%s' from %s\n", OwnHostName().c_str(), got.c_str(), inet_ntoa(from.sin_addr));
      return 4;
    }
    return SendTo(fd, sender, 7708, "server/" + OwnHostName()) ? 0 : 5;
  };
  pid_t second = Lan().Fork(2, listener);
  pid_t third = Lan().Fork(3, listener);
  ASSERT_TRUE(ready.WaitFor(2, kPatience));

  int sent = Lan().RunFunction(1, [&] {
    int fd = UdpSocket(7708, true);
    if (fd < 0 || !SendTo(fd, "255.255.255.255", 7712, "login_mp4_cw" + sender)) return 2;
    std::set<std::string> answers;
    std::string got;
    sockaddr_in from{};
    while (answers.size() < 2 && ReceiveOne(fd, kPatience, &got, &from))
      answers.insert(got + " from " + inet_ntoa(from.sin_addr));
    std::set<std::string> expected = {"server/host2 from " + Lan().Address(2), "server/host3 from " + Lan().Address(3)};
    if (answers != expected) {
      for (auto& a : answers) std::fprintf(stderr, "answer: %s\n", a.c_str());
      return 3;
    }
    return 0;
  });
  EXPECT_EQ(sent, 0) << "the sender's diagnostics are on standard error";
  EXPECT_EQ(Lan().Wait(second), 0);
  EXPECT_EQ(Lan().Wait(third), 0);
}

TEST(LanIsolation, TwoLansAtOnceDoNotHearEachOther) {
  TARVO_REQUIRE_LAN();
  TLan one(2), other(2);
  EXPECT_EQ(one.Addresses(1), other.Addresses(1)) << "both use the same addresses, each in its own namespace";
  TReady ready, stopHere, stopThere;
  pid_t here = one.Fork(2, [&] { return CountBroadcasts(ready, stopHere, "hello"); });
  pid_t there = other.Fork(2, [&] { return CountBroadcasts(ready, stopThere, "hello"); });
  ASSERT_TRUE(ready.WaitFor(2, kPatience));
  EXPECT_EQ(one.RunFunction(1, [] { return BroadcastFrom(1, "hello"); }), 0);
  EXPECT_EQ(one.Wait(here), 1);
  stopThere.Signal();  // what crossed over would have arrived by now, as it did on the LAN that sent it
  EXPECT_EQ(other.Wait(there), 0);
}

class LanNames : public tarvo::lan::TLanTest {
protected:
  LanNames() : TLanTest(3, 2) {}
};

TEST_F(LanNames, EachHostResolvesItsOwnNameToItsOwnAddressesInOrder) {
  EXPECT_EQ(Lan().Addresses(2), (std::vector<std::string>{"10.77.0.12", "10.77.0.102"}));
  // A lookup here first, so that the hosts must not see what this process already read of its own files.
  gethostbyname("localhost");
  for (int k = 1; k <= 3; ++k) {
    int status = Lan().RunFunction(k, [&] {
      const std::string name = Lan().HostName(k);
      const auto& own = Lan().Addresses(k);
      if (OwnHostName() != name) {
        std::fprintf(stderr, "host name '%s', not '%s'\n", OwnHostName().c_str(), name.c_str());
        return 2;
      }
      auto byName = Addresses(gethostbyname(name.c_str()));
      if (byName != own) {
        std::fprintf(stderr, "%s: gethostbyname gave %s\n", name.c_str(), Joined(byName).c_str());
        return 3;
      }
      addrinfo hints{}, *res = nullptr;
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_DGRAM;
      std::vector<std::string> byInfo;
      if (getaddrinfo(name.c_str(), nullptr, &hints, &res) == 0) {
        for (addrinfo* r = res; r; r = r->ai_next)
          byInfo.push_back(inet_ntoa(reinterpret_cast<sockaddr_in*>(r->ai_addr)->sin_addr));
        freeaddrinfo(res);
      }
      if (byInfo != own) {
        std::fprintf(stderr, "%s: getaddrinfo gave %s\n", name.c_str(), Joined(byInfo).c_str());
        return 4;
      }
      in_addr first{};
      inet_pton(AF_INET, own.front().c_str(), &first);
      hostent* back = gethostbyaddr(&first, sizeof first, AF_INET);
      if (!back || back->h_name != name) return 5;
      int peer = k % 3 + 1;
      if (Addresses(gethostbyname(Lan().HostName(peer).c_str())) != Lan().Addresses(peer)) return 6;
      return 0;
    });
    EXPECT_EQ(status, 0) << "on host" << k << "; diagnostics are on standard error";
  }
}

TEST_F(LanNames, UnknownNamesFailAtOnce) {
  const std::string machine = OwnHostName();
  int status = Lan().RunFunction(1, [&] {
    // Where the host's resolver settings send queries: whatever arrives here was a wait for a name server.
    int nameServer = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(nameServer, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return 6;
    auto start = std::chrono::steady_clock::now();
    if (gethostbyname("no-such-host") || h_errno != HOST_NOT_FOUND) {
      std::fprintf(stderr, "gethostbyname: h_errno %d, not HOST_NOT_FOUND\n", h_errno);
      return 2;
    }
    addrinfo hints{}, *res = nullptr;
    hints.ai_family = AF_INET;
    int e = getaddrinfo("no-such-host.example.com", nullptr, &hints, &res);
    if (e != EAI_NONAME) {
      std::fprintf(stderr, "getaddrinfo: %s\n", gai_strerror(e));
      return 3;
    }
    // The machine's own hosts file stays off the LAN.
    if (machine.rfind("host", 0) != 0 && gethostbyname(machine.c_str())) return 4;
    auto took = std::chrono::steady_clock::now() - start;
    std::fprintf(stderr, "unknown names failed in %lld ms\n",  // a figure for the log, not a limit
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    char query[512];
    return recv(nameServer, query, sizeof query, 0) < 0 ? 0 : 5;
  });
  EXPECT_EQ(status, 0) << "diagnostics are on standard error";
}

TEST_F(LanNames, ProcessesOnAHostShareItsNameAndFiles) {
  std::string hostname, hosts;
  ASSERT_EQ(Lan().Run(2, {"hostname"}, &hostname), 0);
  EXPECT_EQ(hostname, "host2\n");
  ASSERT_EQ(Lan().Run(2, {"cat", "/etc/hosts"}, &hosts), 0);
  EXPECT_NE(hosts.find("10.77.0.12\thost2\n10.77.0.102\thost2\n"), std::string::npos) << hosts;
  EXPECT_EQ(Lan().RunFunction(2, [&] {
    std::ifstream f("/etc/hosts");
    std::string seen((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return seen == hosts ? 0 : 1;
  }), 0);

  // The shell tool's way onto a host lands in the same namespaces.
  std::string out;
  EXPECT_EQ(RunLanTool({"run", Lan().Name(), "host2", "sh", "-c", "hostname; cat /etc/hosts"}, &out), 0);
  EXPECT_EQ(out, "host2\n" + hosts);
  EXPECT_EQ(RunLanTool({"run", Lan().Name(), "1", "sh", "-c", "exit 7"}), 7);
}

class LanNetem : public tarvo::lan::TLanTest {
protected:
  LanNetem() : TLanTest(3) {}

  // Three broadcasts from host 1: how many copies hosts 2 and 3 received. When host 3 is cut off it hears no
  // end either, and stops counting once host 2 has heard it.
  std::pair<int, int> Deliveries(bool thirdCutOff = false) {
    TReady ready, stopSecond, stopThird;
    pid_t second = Lan().Fork(2, [&] { return CountBroadcasts(ready, stopSecond, "frame"); });
    pid_t third = Lan().Fork(3, [&] { return CountBroadcasts(ready, stopThird, "frame"); });
    if (!ready.WaitFor(2, kPatience)) ADD_FAILURE() << "the receivers did not start";
    EXPECT_EQ(Lan().RunFunction(1, [] { return BroadcastFrom(3, "frame"); }), 0);
    std::pair<int, int> got;
    got.first = Lan().Wait(second);
    if (thirdCutOff) stopThird.Signal();
    got.second = Lan().Wait(third);
    return got;
  }
};

TEST_F(LanNetem, LossOnAPortCutsOffThatHostUntilRemoved) {
  if (!tarvo::lan::NetemUnavailableReason().empty()) {
    EXPECT_THROW(Lan().Netem(3, "loss 100%"), ELanError) << "a missing netem must not pass for success";
    GTEST_SKIP() << "no netem on the simulated LAN: " << tarvo::lan::NetemUnavailableReason();
  }
  Lan().Netem(3, "loss 100%");
  EXPECT_EQ(Deliveries(/*thirdCutOff=*/true), std::make_pair(3, 0));
  Lan().ClearNetem(3);
  EXPECT_EQ(Deliveries(), std::make_pair(3, 3));
  EXPECT_NO_THROW(Lan().ClearNetem(3));
}

TEST_F(LanNetem, NetemReplacesWhatThePortHadAndDuplicates) {
  TARVO_REQUIRE_NETEM();
  Lan().Netem(2, "loss 100%");
  Lan().Netem(2, "duplicate 100%");
  EXPECT_EQ(Deliveries(), std::make_pair(6, 3));
  EXPECT_THROW(Lan().Netem(2, "no-such-option"), ELanError);
}

TEST(LanTeardown, LeavesNoProcessNamespaceOrFileBehind) {
  TARVO_REQUIRE_LAN();
  TPinned made;
  std::string dir;
  pid_t started, forked, daemon;
  {
    TLan lan(2, 1);
    dir = lan.StateDir();
    for (int k = 1; k <= 2; ++k) made.Add(lan.HostPid(k), {"net", "uts", "mnt"});
    made.Add(std::stoi(InfoValue(lan.Name(), "parent")), {"net"});
    ASSERT_EQ(made.Ids.size(), 7u);
    ASSERT_TRUE(std::filesystem::is_directory(dir));

    started = lan.Start(2, {"sleep", "1000"});
    forked = lan.Fork(1, [] {
      pause();
      return 0;
    });
    std::string out;  // one that left its parent and its process group
    ASSERT_EQ(lan.Run(2, {"sh", "-c", "setsid sleep 1000 >/dev/null 2>&1 & echo $!"}, &out), 0);
    daemon = std::stoi(out);
    ASSERT_TRUE(Running(daemon));
  }
  EXPECT_EQ(HeldNamespaces(made.Ids), std::set<std::string>{});
  EXPECT_FALSE(Running(daemon));
  EXPECT_EQ(waitpid(started, nullptr, WNOHANG), -1) << "reaped by the fixture";
  EXPECT_EQ(waitpid(forked, nullptr, WNOHANG), -1) << "reaped by the fixture";
  EXPECT_FALSE(std::filesystem::exists(dir));
  std::ifstream mounts("/proc/self/mountinfo");
  std::string all((std::istreambuf_iterator<char>(mounts)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all.find(dir), std::string::npos);
}

TEST(LanTeardown, FollowsTheOwnerWhenItDies) {
  TARVO_REQUIRE_LAN();
  pid_t owner = fork();
  if (owner == 0) {
    pause();
    _exit(0);
  }
  const std::string name = "gt" + std::to_string(getpid()) + "-orphan";
  std::string err;
  int up = RunLanTool({"up", name, "2", "--owner", std::to_string(owner)}, nullptr, &err);
  const std::string parent = InfoValue(name, "parent"), dir = InfoValue(name, "dir");
  TPinned made;
  if (up == 0) made.Add(std::stoi(parent), {"net"});
  kill(owner, SIGKILL);
  waitpid(owner, nullptr, 0);
  ASSERT_EQ(up, 0) << err;
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::filesystem::exists(dir) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  EXPECT_EQ(InfoValue(name, "parent"), "") << "still up after its owner died";
  EXPECT_EQ(HeldNamespaces(made.Ids), std::set<std::string>{});
  RunLanTool({"down", name});
}

TEST(LanTeardown, SparesAnotherLanEvenWhenTheRecordsNameItsNamespaces) {
  TARVO_REQUIRE_LAN();
  TLan doomed(2), other(2);
  pid_t sleeper = other.Start(1, {"sleep", "1000"});
  // A namespace's number is free again once it is gone: stale records can name another LAN's namespaces.
  for (int k = 1; k <= 2; ++k) {
    std::ofstream forged(doomed.StateDir() + "/host" + std::to_string(k) + "/ns");
    auto ns = NamespacesOf(other.HostPid(k), {"net", "uts", "mnt"});
    for (auto& id : ns) forged << id << " ";
  }
  doomed.Down();
  EXPECT_TRUE(Running(sleeper));
  std::string name;
  EXPECT_EQ(other.Run(1, {"hostname"}, &name), 0);
  EXPECT_EQ(name, "host1\n");
}

TEST(LanTeardown, SparesAProcessGroupThatAStaleWatchdogRecordNames) {
  TARVO_REQUIRE_LAN();
  // The leader of a process group of the machine: what a watchdog's number may belong to once it has died.
  pid_t bystander = fork();
  if (bystander == 0) {
    setsid();
    pause();
    _exit(0);
  }
  {
    TLan lan(1);
    std::ofstream(lan.StateDir() + "/watchdog") << bystander << "\n";
    lan.Down();
  }
  EXPECT_TRUE(Running(bystander)) << "the teardown signalled a process group that is not its watchdog";
  kill(bystander, SIGKILL);
  waitpid(bystander, nullptr, 0);
}

TEST(LanTool, RefusesBadRequestsWithAMessage) {
  TARVO_REQUIRE_LAN();
  std::string err;
  EXPECT_NE(RunLanTool({"up", "gtbad", "0"}, nullptr, &err), 0);
  EXPECT_NE(err.find("host count"), std::string::npos) << err;
  EXPECT_NE(RunLanTool({"up", "gtbad", "2", "--two-addresses", "3"}, nullptr, &err), 0);
  EXPECT_NE(err.find("two-address"), std::string::npos) << err;
  EXPECT_NE(RunLanTool({"up", "../x", "2"}, nullptr, &err), 0);
  EXPECT_NE(err.find("bad LAN name"), std::string::npos) << err;
  EXPECT_NE(RunLanTool({"run", "gt-no-such-lan", "1", "true"}, nullptr, &err), 0);
  EXPECT_NE(err.find("no LAN"), std::string::npos) << err;

  TLan lan(2);
  EXPECT_NE(RunLanTool({"up", lan.Name(), "2"}, nullptr, &err), 0);
  EXPECT_NE(err.find("exists already"), std::string::npos) << err;
  EXPECT_EQ(lan.Run(1, {"true"}), 0) << "the first LAN is untouched";
  EXPECT_NE(RunLanTool({"run", lan.Name(), "3", "true"}, nullptr, &err), 0);
  EXPECT_NE(err.find("no host '3'"), std::string::npos) << err;
  EXPECT_THROW(lan.Start(3, {"true"}), ELanError);
  lan.Down();
  EXPECT_EQ(RunLanTool({"down", lan.Name()}), 0) << "a second teardown is harmless";
}

TEST(LanTool, NeverRunsACommandOffItsHost) {
  TARVO_REQUIRE_LAN();
  TLan lan(2);
  pid_t holder = lan.HostPid(2);
  kill(holder, SIGKILL);
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (Running(holder) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  std::string out, err;
  EXPECT_NE(RunLanTool({"run", lan.Name(), "2", "hostname"}, &out, &err), 0);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("gone"), std::string::npos) << err;
  EXPECT_THROW(lan.Run(2, {"hostname"}), ELanError);
  EXPECT_EQ(lan.Run(1, {"true"}), 0);
}

}  // namespace
