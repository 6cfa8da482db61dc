// Reading what the end-to-end test's witnesses wrote: the wire log of e2e_wire and the programs' paint logs
// (one line per SetDIBitsToDevice: "<ms> <surface> <seq>:<ms>" or "<ms> <surface> -"), and the figures made of
// them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::e2e {

std::uint64_t NowMs();  // CLOCK_MONOTONIC, the clock of both logs

struct TWireEvent {
  std::uint64_t Ms = 0;
  std::string Kind;     // login, logout, other, header, frame
  std::string Address;  // login, logout
  std::optional<std::uint32_t> Seq;  // frame: the stamp of its picture
  bool Key = false;                  // frame
  std::uint32_t Size = 0;            // header, frame
};
std::vector<TWireEvent> ReadWire(const std::string& path);

struct TPaint {
  std::uint64_t Ms = 0;
  std::string Surface;
  std::optional<std::uint32_t> Seq;
  std::uint32_t StampMs = 0;
};
std::vector<TPaint> ReadPaints(const std::string& path);

// Logins of one address, in order.
std::vector<std::uint64_t> LoginTimes(const std::vector<TWireEvent>& wire, const std::string& address,
                                      std::uint64_t from = 0, std::uint64_t to = UINT64_MAX);
std::size_t CountKind(const std::vector<TWireEvent>& wire, const std::string& kind, std::uint64_t from,
                      std::uint64_t to);

struct TPaintFigures {
  std::size_t Paints = 0;          // paints in the window
  std::size_t DistinctStamps = 0;  // distinct stamps among them
  bool Rising = true;              // no stamp painted after a larger one
  std::uint32_t FirstSeq = 0, LastSeq = 0;
  double LatencyMedianMs = 0, LatencyP95Ms = 0;  // paint time minus capture time
};
TPaintFigures PaintFigures(const std::vector<TPaint>& paints, std::uint64_t from, std::uint64_t to);

// Of the frames that went on the wire (in order), how the paints of one receiver cover them after a loss.
struct TRecovery {
  std::size_t Sent = 0;       // frames on the wire with a stamp
  std::size_t Painted = 0;    // of them, painted by the receiver
  std::size_t LossRuns = 0;   // runs of consecutive frames not painted
  std::size_t LongestRun = 0; // frames in the longest such run, up to the next painted frame
  // The most frames from a loss to the next painted frame. A loss is known to have happened at a run's first
  // frame and at every key frame inside it (a key frame that arrives whole is always painted with its stamp).
  std::size_t LongestRecovery = 0;
  std::size_t KeyFrames = 0;
};
TRecovery Recovery(const std::vector<TWireEvent>& wire, const std::vector<TPaint>& paints, std::uint64_t from,
                   std::uint64_t to);

// UDP receive-buffer errors (RcvbufErrors of /proc/PID/net/snmp) of the network namespace PID is in; -1 unknown.
long UdpRcvbufErrors(int pid);

}  // namespace tarvo::e2e
