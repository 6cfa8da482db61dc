// Socket component benchmarks: datagrams per second through TWSocket.Send against a raw sendto loop on the same
// machine (the ratio is the component's cost), the time from a datagram's arrival to its OnDataAvailable
// handler, and line mode's throughput for lines of several lengths. Loopback only.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "plain_tcp.h"
#include "plain_udp.h"
#include "sockets/WSocket.h"

namespace {

constexpr std::size_t kDatagram = 1024;

void PumpAll() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Sends n datagrams through the component; the write notifications that Send posts are handled as a program's
// message loop would, a batch at a time.
void SendThroughComponent(TWSocket& s, const char* data, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i) {
    s.Send(data, kDatagram);
    if ((i & 255) == 255) PumpAll();
  }
  PumpAll();
}

void RawSendto(BenchUdp& from, std::uint16_t port, const char* data, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i) from.SendTo(port, data, kDatagram);
}

void ConnectTo(TWSocket& s, std::uint16_t port) {
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.Connect();
}

void BM_RawSendto(benchmark::State& state) {
  BenchUdp sink, from;
  std::string data(kDatagram, 'x');
  std::int64_t i = 0;
  for (auto _ : state) {
    RawSendto(from, sink.Port(), data.data(), 1);
    if ((++i & 255) == 0) sink.Drain();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawSendto);

void BM_WSocketSend(benchmark::State& state) {
  BenchUdp sink;
  TWSocket s(nullptr);
  ConnectTo(s, sink.Port());
  std::string data(kDatagram, 'x');
  std::int64_t i = 0;
  for (auto _ : state) {
    s.Send(data.data(), kDatagram);
    if ((++i & 255) == 0) {
      PumpAll();
      sink.Drain();
    }
  }
  PumpAll();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WSocketSend);

// Both loops in one run, alternating in rounds so that both see the same machine load: the counter "ratio" is
// component datagrams per second over raw datagrams per second.
void BM_SendRatio(benchmark::State& state) {
  BenchUdp sink, from;
  TWSocket s(nullptr);
  ConnectTo(s, sink.Port());
  std::string data(kDatagram, 'x');
  constexpr std::int64_t kRound = 4096;
  double raw = 0, component = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    RawSendto(from, sink.Port(), data.data(), kRound);
    auto t1 = std::chrono::steady_clock::now();
    sink.Drain();
    auto t2 = std::chrono::steady_clock::now();
    SendThroughComponent(s, data.data(), kRound);
    auto t3 = std::chrono::steady_clock::now();
    sink.Drain();
    raw += std::chrono::duration<double>(t1 - t0).count();
    component += std::chrono::duration<double>(t3 - t2).count();
  }
  double rounds = static_cast<double>(state.iterations()) * kRound;
  state.counters["raw_per_s"] = rounds / raw;
  state.counters["wsocket_per_s"] = rounds / component;
  state.counters["ratio"] = raw / component;
}
BENCHMARK(BM_SendRatio)->Unit(benchmark::kMillisecond);

// From the sendto of a datagram to the return of the OnDataAvailable handler that read it.
void BM_DataAvailableRoundTrip(benchmark::State& state) {
  TWSocket s(nullptr);
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort("0");
  s.Listen();
  auto port = static_cast<std::uint16_t>(std::stoi(s.GetLocalPortText()));
  bool arrived = false;
  s.OnDataAvailable = [&](TObject*, WORD) {
    if (!s.ReceiveStr().empty()) arrived = true;
  };
  BenchUdp from;
  std::string data(64, 'x');
  for (auto _ : state) {
    arrived = false;
    from.SendTo(port, data.data(), data.size());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!arrived) {
      PumpAll();
      if (std::chrono::steady_clock::now() > deadline) {
        state.SkipWithError("a datagram did not arrive");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DataAvailableRoundTrip)->Unit(benchmark::kMicrosecond);

// Line mode over TCP: 4 MiB of lines of the given length per iteration, each line taken by its OnDataAvailable.
// Receives are large, so this shows what handing out many lines from one buffer costs.
void BM_LineModeLines(benchmark::State& state) {
  const auto lineLength = static_cast<std::size_t>(state.range(0));
  std::string line(lineLength - 2, 'x');
  line += "\r\n";
  std::string block;
  while (block.size() < (4u << 20)) block += line;
  const std::size_t linesPerBlock = block.size() / lineLength;
  BenchTcpFeeder feeder;
  TWSocket s(nullptr);
  s.SetLineMode(true);
  std::size_t lines = 0;
  s.OnDataAvailable = [&](TObject*, WORD) {
    if (s.ReceiveStr().size() == lineLength) ++lines;
  };
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(feeder.Port()));
  s.Connect();
  if (!feeder.Accept()) {
    state.SkipWithError("no connection");
    return;
  }
  for (auto _ : state) {
    lines = 0;
    feeder.Feed(block);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (lines < linesPerBlock) {
      PumpAll();
      if (std::chrono::steady_clock::now() > deadline) {
        state.SkipWithError("the lines did not arrive");
        return;
      }
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * linesPerBlock));
}
BENCHMARK(BM_LineModeLines)->Arg(16)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
