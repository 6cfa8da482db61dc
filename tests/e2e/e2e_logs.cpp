// Reading the end-to-end test's logs (e2e_logs.h).
#include "e2e_logs.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <unordered_set>

namespace tarvo::e2e {

std::uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000 + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000;
}

std::vector<TWireEvent> ReadWire(const std::string& path) {
  std::vector<TWireEvent> events;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    TWireEvent e;
    if (!(s >> e.Ms >> e.Kind)) continue;
    if (e.Kind == "login" || e.Kind == "logout") {
      s >> e.Address;
    } else if (e.Kind == "header") {
      s >> e.Size;
    } else if (e.Kind == "frame") {
      std::string seq;
      int key = 0;
      s >> seq >> key >> e.Size;
      if (seq != "-") e.Seq = static_cast<std::uint32_t>(std::stoul(seq));
      e.Key = key != 0;
    }
    events.push_back(e);
  }
  return events;
}

std::vector<TPaint> ReadPaints(const std::string& path) {
  std::vector<TPaint> paints;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    TPaint p;
    std::string stamp;
    if (!(s >> p.Ms >> p.Surface >> stamp)) continue;
    std::size_t colon = stamp.find(':');
    if (stamp != "-" && colon != std::string::npos) {
      p.Seq = static_cast<std::uint32_t>(std::stoul(stamp.substr(0, colon)));
      p.StampMs = static_cast<std::uint32_t>(std::stoul(stamp.substr(colon + 1)));
    }
    paints.push_back(p);
  }
  return paints;
}

std::vector<std::uint64_t> LoginTimes(const std::vector<TWireEvent>& wire, const std::string& address,
                                      std::uint64_t from, std::uint64_t to) {
  std::vector<std::uint64_t> times;
  for (const TWireEvent& e : wire)
    if (e.Kind == "login" && e.Address == address && e.Ms >= from && e.Ms <= to) times.push_back(e.Ms);
  return times;
}

std::size_t CountKind(const std::vector<TWireEvent>& wire, const std::string& kind, std::uint64_t from,
                      std::uint64_t to) {
  return static_cast<std::size_t>(std::count_if(wire.begin(), wire.end(), [&](const TWireEvent& e) {
    return e.Kind == kind && e.Ms >= from && e.Ms <= to;
  }));
}

namespace {

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t i = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(i, values.size() - 1)];
}

}  // namespace

TPaintFigures PaintFigures(const std::vector<TPaint>& paints, std::uint64_t from, std::uint64_t to) {
  TPaintFigures f;
  std::unordered_set<std::uint32_t> distinct;
  std::vector<double> latencies;
  std::optional<std::uint32_t> last;
  for (const TPaint& p : paints) {
    if (p.Ms < from || p.Ms > to) continue;
    ++f.Paints;
    if (!p.Seq) continue;
    if (last && *p.Seq < *last) f.Rising = false;
    if (!last) f.FirstSeq = *p.Seq;
    last = p.Seq;
    f.LastSeq = std::max(f.LastSeq, *p.Seq);
    if (distinct.insert(*p.Seq).second) {
      // The stamp's clock is the monotonic clock modulo 2^32, as the paint log's is.
      const std::uint32_t painted = static_cast<std::uint32_t>(p.Ms);
      latencies.push_back(static_cast<double>(static_cast<std::int32_t>(painted - p.StampMs)));
    }
  }
  f.DistinctStamps = distinct.size();
  f.LatencyMedianMs = Percentile(latencies, 0.5);
  f.LatencyP95Ms = Percentile(latencies, 0.95);
  return f;
}

TRecovery Recovery(const std::vector<TWireEvent>& wire, const std::vector<TPaint>& paints, std::uint64_t from,
                   std::uint64_t to) {
  TRecovery r;
  std::set<std::uint32_t> painted;
  for (const TPaint& p : paints)
    if (p.Seq && p.Ms >= from) painted.insert(*p.Seq);
  struct TSent {
    std::uint32_t Seq;
    bool Key;
  };
  std::vector<TSent> sent;
  for (const TWireEvent& e : wire)
    if (e.Kind == "frame" && e.Ms >= from && e.Ms <= to && e.Seq) {
      sent.push_back({*e.Seq, e.Key});
      if (e.Key) ++r.KeyFrames;
    }
  r.Sent = sent.size();
  bool started = false;  // losses count from the first frame the receiver painted
  std::size_t runStart = 0, lastLoss = 0;
  bool inRun = false;
  auto endRun = [&](std::size_t next) {
    ++r.LossRuns;
    r.LongestRun = std::max(r.LongestRun, next - runStart);
    r.LongestRecovery = std::max(r.LongestRecovery, next - lastLoss);
    inRun = false;
  };
  for (std::size_t i = 0; i < sent.size(); ++i) {
    if (painted.count(sent[i].Seq)) {
      ++r.Painted;
      if (inRun) endRun(i);
      started = true;
    } else if (started) {
      if (!inRun) {
        inRun = true;
        runStart = lastLoss = i;
      } else if (sent[i].Key) {
        lastLoss = i;
      }
    }
  }
  // A run still open when the stream ended counts up to its end.
  if (inRun) endRun(sent.size());
  return r;
}

long UdpRcvbufErrors(int pid) {
  std::ifstream snmp("/proc/" + std::to_string(pid) + "/net/snmp");
  std::string header, values;
  while (std::getline(snmp, header)) {
    if (header.rfind("Udp:", 0) != 0) continue;
    if (!std::getline(snmp, values)) return -1;
    std::istringstream names(header), numbers(values);
    std::string name, number;
    while (names >> name && numbers >> number)
      if (name == "RcvbufErrors") return std::stol(number);
    return -1;
  }
  return -1;
}

}  // namespace tarvo::e2e
