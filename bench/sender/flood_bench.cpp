// tarvocast under a flood of long announcements, as anyone on the network can send them: the real program with
// the test-pattern camera on host1 of a simulated LAN, the flood and the probes from host2. For each kind of
// flood (logouts only, or logins and logouts by turns, each keyword followed by 65,000 bytes; as fast as the
// socket takes them, or as many a second as a gigabit link carries) it reports:
//   rss_before_mb, rss_after_mb  the sender's resident memory before the flood and once it has handled it
//   flood_sent, flood_read       long announcements sent in the flood's seconds, and read by the sender (each of
//                                which it lists); the rest the kernel dropped at the sender's full socket
//   bytes_per_line               the sender's growth per long announcement read
//   answer_first_ms              a real login's answer time right after the flood (what is queued goes first)
//   answer_before_ms, answer_after_ms  the median answer time of 20 logins, one at a time, before and after
//   rate_before_per_s, rate_after_per_s  logins answered per second with 16 on the way, before and after
// Needs root (the LAN); run by hand: sudo <build>/bin/sender_flood_bench. TARVO_FLOOD_PROGRAM names another build
// of the program to measure (an older one, say).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lan_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFloodSeconds = 10;
constexpr std::size_t kLongText = 65000;

// Datagrams that the programs of a host's network read so far (the kernel's count, which a process shows for the
// network it is in).
double UdpDatagramsRead(pid_t pid) {
  std::ifstream snmp("/proc/" + std::to_string(pid) + "/net/snmp");
  std::string names, values;
  for (std::string line; std::getline(snmp, line);) {
    if (line.rfind("Udp: ", 0) != 0) continue;
    if (names.empty()) names = line; else values = line;
  }
  std::istringstream n(names), v(values);
  for (std::string name, value; n >> name && v >> value;)
    if (name == "InDatagrams") return std::stod(value);
  return -1;
}

std::string Program() {
  const char* other = std::getenv("TARVO_FLOOD_PROGRAM");
  return other && *other ? other : TARVOCAST_PATH;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double RssMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return static_cast<double>(kb) / 1024.0;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

sockaddr_in To(const std::string& address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  return a;
}

// A receiver's part on host2: announces itself, hears the answers on port 7708, and floods.
class TProbe {
 public:
  TProbe(std::string self, std::string sender) : FLogin("login_mp4_cw" + self), FSender(std::move(sender)) {
    FAnswers = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any = To("0.0.0.0", 7708);
    ::bind(FAnswers, reinterpret_cast<sockaddr*>(&any), sizeof any);
    FOut = ::socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    ::setsockopt(FOut, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  ~TProbe() {
    ::close(FAnswers);
    ::close(FOut);
  }

  void Send(const std::string& text, const std::string& to) {
    sockaddr_in a = To(to, 7712);
    ::sendto(FOut, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  void Login() { Send(FLogin, "255.255.255.255"); }
  bool Answer(int timeoutMs) {
    pollfd p{FAnswers, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[512];
    return ::recv(FAnswers, buffer, sizeof buffer, 0) >= 0;
  }
  void Drain() {
    while (Answer(50)) {
    }
  }
  // Time from a login to its answer; -1 when none comes within the (generous) time.
  double AnswerMs(int timeoutMs = 60000) {
    const auto t0 = Clock::now();
    Login();
    return Answer(timeoutMs) ? Ms(Clock::now() - t0) : -1;
  }
  double MedianAnswerMs() {
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) times.push_back(AnswerMs());
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }
  // Logins answered per second over two seconds, with up to 16 on the way; a lost one is given up after 500 ms.
  double Rate() {
    int onTheWay = 0;
    long answered = 0;
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::seconds(2)) {
      while (onTheWay < 16) {
        Login();
        ++onTheWay;
      }
      if (Answer(500)) {
        --onTheWay;
        ++answered;
      } else {
        onTheWay = 0;
      }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    Drain();
    return static_cast<double>(answered) / seconds;
  }
  // perSecond 0: as fast as the socket takes them.
  long Flood(bool logins, long perSecond) {
    const std::string rest(kLongText, 'a');
    const std::string logout = "logoutmp4_cw" + rest, login = "login_mp4_cw" + rest;
    long sent = 0;
    const auto start = Clock::now(), end = start + std::chrono::seconds(kFloodSeconds);
    for (auto now = start; now < end; now = Clock::now()) {
      if (perSecond > 0) std::this_thread::sleep_until(start + std::chrono::microseconds(sent * 1000000 / perSecond));
      Send(logins && sent % 2 ? login : logout, FSender);
      ++sent;
    }
    return sent;
  }

 private:
  std::string FLogin, FSender;
  int FAnswers = -1, FOut = -1;
};

void BM_Flood(benchmark::State& state) {
  const bool logins = state.range(0) != 0;
  const long perSecond = state.range(1);
  if (const std::string& why = tarvo::lan::LanUnavailableReason(); !why.empty()) {
    state.SkipWithError(("no simulated LAN: " + why).c_str());
    return;
  }
  for (auto _ : state) {
    tarvo::lan::TLan lan(2);
    const pid_t sender = lan.Start(1, {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "TARVO_UNATTENDED=1",
                                       "TARVO_CAPTURE_DRIVERS=pattern", "/bin/sh", "-c", "exec \"$0\" 2>/dev/null",
                                       Program()});
    int results[2];
    if (::pipe(results) != 0) {
      state.SkipWithError("no pipe");
      return;
    }
    const pid_t probe = lan.Fork(2, [&] {
      ::close(results[0]);
      TProbe p(lan.Address(2), lan.Address(1));
      // The sender is up once it answers.
      const auto deadline = Clock::now() + std::chrono::seconds(60);
      while (Clock::now() < deadline) {
        p.Login();
        if (p.Answer(250)) break;
      }
      p.Drain();
      std::ostringstream out;
      out << "answer_before_ms " << p.MedianAnswerMs() << "\nrate_before_per_s " << p.Rate() << "\n";
      std::this_thread::sleep_for(std::chrono::seconds(1));
      const double rssBefore = RssMb(sender), readBefore = UdpDatagramsRead(sender);
      out << "rss_before_mb " << rssBefore << "\nflood_sent " << p.Flood(logins, perSecond) << "\n";
      out << "answer_first_ms " << p.AnswerMs() << "\n";
      std::this_thread::sleep_for(std::chrono::seconds(2));
      const double rssAfter = RssMb(sender), read = UdpDatagramsRead(sender) - readBefore - 1;  // less the login
      out << "rss_after_mb " << rssAfter << "\nflood_read " << read << "\n";
      out << "bytes_per_line " << (rssAfter - rssBefore) * 1024 * 1024 / std::max(read, 1.0) << "\n";
      out << "answer_after_ms " << p.MedianAnswerMs() << "\nrate_after_per_s " << p.Rate() << "\n";
      const std::string text = out.str();
      return ::write(results[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1;
    });
    ::close(results[1]);
    const int status = lan.Wait(probe, std::chrono::minutes(10));
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(results[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(results[0]);
    lan.Kill(sender, SIGTERM);
    lan.Wait(sender);
    if (status != 0) {
      state.SkipWithError("the probe on host2 failed");
      return;
    }
    std::istringstream in(text);
    std::string key;
    double value;
    while (in >> key >> value) state.counters[key] = value;
  }
}
// 1900 a second: what a gigabit link carries of these datagrams.
BENCHMARK(BM_Flood)
    ->ArgNames({"logins", "per_s"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1900})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
