// Datagrams per second on the loopback: the layer's sendto against the C library's, same socket options, same
// receiver (which does not read, so both paths end in the same kernel work). SendtoRatio interleaves batches
// of both so that they share the machine's conditions; its "ratio" counter is layer rate / raw rate.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "raw_udp.h"
#include "wsock32/winsock.h"

namespace {

struct TStarted {
  TStarted() {
    WSADATA d;
    WSAStartup(MAKEWORD(1, 1), &d);
  }
};

void Started() { static TStarted once; }

sockaddr_in To(u_short port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  return a;
}

SOCKET LayerSocket() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = To(0);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return s;
}

void LayerSendto(benchmark::State& state) {
  Started();
  int rx = rawudp::OpenBound();
  SOCKET s = LayerSocket();
  sockaddr_in to = To(rawudp::Port(rx));
  std::string data(static_cast<size_t>(state.range(0)), 'd');
  for (auto _ : state) {
    int r = sendto(s, data.data(), static_cast<int>(data.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    benchmark::DoNotOptimize(r);
    if ((state.iterations() & 1023) == 0) rawudp::Drain(rx);
  }
  state.SetItemsProcessed(state.iterations());
  closesocket(s);
  rawudp::Close(rx);
}
BENCHMARK(LayerSendto)->Arg(64)->Arg(1514);

void RawSendto(benchmark::State& state) {
  int rx = rawudp::OpenBound();
  int tx = rawudp::OpenBound();
  std::uint16_t port = rawudp::Port(rx);
  std::string data(static_cast<size_t>(state.range(0)), 'd');
  for (auto _ : state) {
    int r = rawudp::SendTo(tx, data.data(), static_cast<int>(data.size()), port);
    benchmark::DoNotOptimize(r);
    if ((state.iterations() & 1023) == 0) rawudp::Drain(rx);
  }
  state.SetItemsProcessed(state.iterations());
  rawudp::Close(tx);
  rawudp::Close(rx);
}
BENCHMARK(RawSendto)->Arg(64)->Arg(1514);

void SendtoRatio(benchmark::State& state) {
  Started();
  using Clock = std::chrono::steady_clock;
  int rx = rawudp::OpenBound();
  int tx = rawudp::OpenBound();
  SOCKET s = LayerSocket();
  std::uint16_t port = rawudp::Port(rx);
  sockaddr_in to = To(port);
  std::string data(static_cast<size_t>(state.range(0)), 'd');
  const int len = static_cast<int>(data.size());
  constexpr int Batch = 256;
  Clock::duration layer{}, raw{};
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < Batch; ++i)
      benchmark::DoNotOptimize(sendto(s, data.data(), len, 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
    auto t1 = Clock::now();
    for (int i = 0; i < Batch; ++i) benchmark::DoNotOptimize(rawudp::SendTo(tx, data.data(), len, port));
    auto t2 = Clock::now();
    layer += t1 - t0;
    raw += t2 - t1;
    rawudp::Drain(rx);
  }
  double n = static_cast<double>(state.iterations()) * Batch;
  double layerRate = n / std::chrono::duration<double>(layer).count();
  double rawRate = n / std::chrono::duration<double>(raw).count();
  state.counters["layer_dgrams_per_s"] = layerRate;
  state.counters["raw_dgrams_per_s"] = rawRate;
  state.counters["ratio"] = layerRate / rawRate;
  closesocket(s);
  rawudp::Close(tx);
  rawudp::Close(rx);
}
BENCHMARK(SendtoRatio)->Arg(64)->Arg(1514)->MinTime(2.0);

}  // namespace
