// receiver_bench_feeder: the sender's part on the wire, with frames of a chosen size, for the receiver's
// benchmarks. Run on a host of the simulated LAN, it answers each "login_mp4_cw" announcement on port 7712
// with "server/" to the announced address on port 7708, and broadcasts 25 frames a second to port 7710 as
// tarvocast does: the 9-byte header, then the compressed bytes in pieces of 10240 bytes, each sent as
// datagrams of at most 1514 bytes and followed by a pause of 5 ms; a key frame every 125 frames.
//
// The pictures are the test pattern, stamped with the sequence number and the capture time (CLOCK_MONOTONIC
// milliseconds, the paint log's clock), with sensor noise that makes the compressed frames about the size
// given (the only argument, in bytes) at the finest quality without a bit-rate ceiling; 0 gives the plain
// pattern at the default settings, as tarvocast sends it. The stream starts once the first announcement has
// been answered. It runs until it is killed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "divx.h"
#include "driver.h"
#include "vfw/stamp.h"

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr size_t kImage = static_cast<size_t>(kWidth) * kHeight * 3;
constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');
constexpr int kNoiseFields = 16;

std::uint32_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

sockaddr_in Endpoint(in_addr_t address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = address;
  return a;
}

// A UDP socket on 0.0.0.0 and the port (0: any) that may broadcast.
int Socket(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  const sockaddr_in local = Endpoint(htonl(INADDR_ANY), port);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    std::perror("receiver_bench_feeder: socket");
    std::exit(1);
  }
  return fd;
}

void SendTo(int fd, const void* data, size_t size, in_addr_t address, std::uint16_t port) {
  const sockaddr_in to = Endpoint(address, port);
  ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

class TFeeder {
 public:
  explicit TFeeder(size_t target) {
    if (target > 0) TDivxSettings::SetCurrent({0, 100});
    FCodec = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
    FIn.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 24, BI_RGB, static_cast<DWORD>(kImage), 0, 0, 0, 0};
    FOut = FIn;
    FOut.bmiHeader.biCompression = kDivx;
    FPicture.resize(kImage + 64);
    FFrame.resize(kImage + 64);
    if (!FCodec || ICCompressBegin(FCodec, &FIn, &FOut) != ICERR_OK) {
      std::fprintf(stderr, "receiver_bench_feeder: no DIVX codec\n");
      std::exit(1);
    }
    if (target > 0) Tune(target);
  }

  // Compresses the next frame, stamped now; returns its size.
  size_t Next() {
    ++FSeq;
    RenderPattern(FPicture.data(), kWidth, kHeight, FSeq, NowMs());
    if (!FNoise.empty()) {
      const std::vector<int8_t>& noise = FNoise[FSeq % kNoiseFields];
      for (size_t i = 0; i < kImage; ++i) {
        const int v = FPicture[i] + noise[i] * FAmplitude / 127;
        FPicture[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
      StampFrame(FPicture.data(), kWidth, kHeight, FSeq, NowMs());  // the stamp stays clean black and white
    }
    ICCompress(FCodec, FSeq % 125 == 1 ? ICCOMPRESS_KEYFRAME : 0, &FOut.bmiHeader, FFrame.data(), &FIn.bmiHeader,
               FPicture.data(), nullptr, nullptr, static_cast<LONG>(FSeq), 0, 0, nullptr, nullptr);
    return FOut.bmiHeader.biSizeImage;
  }
  const uint8_t* Frame() const { return FFrame.data(); }

 private:
  // The noise amplitude whose predicted frames come closest to the target.
  void Tune(size_t target) {
    std::mt19937 random(11);
    FNoise.assign(kNoiseFields, std::vector<int8_t>(kImage));
    for (auto& field : FNoise)
      for (auto& n : field) n = static_cast<int8_t>(static_cast<int>(random() % 255) - 127);
    int lo = 0, hi = 127;
    while (lo < hi) {
      FAmplitude = (lo + hi) / 2;
      size_t total = 0;
      for (int n = 0; n < 10; ++n) {
        size_t size = Next();
        if (n >= 2 && FSeq % 125 != 1) total += size;
      }
      if (total / 8 < target) lo = FAmplitude + 1;
      else hi = FAmplitude;
    }
    FAmplitude = lo;
    FSeq = 0;
  }

  HIC FCodec = nullptr;
  BITMAPINFO FIn{}, FOut{};
  std::vector<uint8_t> FPicture, FFrame;
  std::vector<std::vector<int8_t>> FNoise;
  int FAmplitude = 0;
  std::uint32_t FSeq = 0;
};

// Answers every announcement that waits, without blocking; true when there was one.
bool AnswerLogins(int logins, int answers) {
  char text[512];
  for (bool answered = false;;) {
    ssize_t n = ::recv(logins, text, sizeof text - 1, MSG_DONTWAIT);
    if (n < 0) return answered;
    text[n] = '\0';
    if (n > 12 && std::strncmp(text, "login_mp4_cw", 12) == 0) {
      in_addr_t address = ::inet_addr(text + 12);
      if (address != INADDR_NONE) SendTo(answers, "server/feeder", 13, address, 7708), answered = true;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const size_t target = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0;
  TFeeder feeder(target);
  const int logins = Socket(7712);
  const int out = Socket(0);
  const in_addr_t broadcast = htonl(INADDR_BROADCAST);
  // The stream starts, with a key frame, half a second after the first answer, when the receiver listens on
  // the frame port: as tarvocast's starts with its Start button.
  std::chrono::steady_clock::time_point start{};
  auto next = std::chrono::steady_clock::now();
  for (;;) {
    next += std::chrono::milliseconds(40);
    if (AnswerLogins(logins, out) && start == std::chrono::steady_clock::time_point{})
      start = next + std::chrono::milliseconds(500);
    if (start == std::chrono::steady_clock::time_point{} || next < start) {
      std::this_thread::sleep_until(next);
      continue;
    }
    const size_t size = feeder.Next();
    uint8_t header[9] = {'f', 'r', 'a', 'm', 'e', static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                         static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    SendTo(out, header, sizeof header, broadcast, 7710);
    for (size_t piece = 0; piece < size; piece += 10240) {
      const size_t end = std::min(size, piece + 10240);
      for (size_t at = piece; at < end; at += 1514)
        SendTo(out, feeder.Frame() + at, std::min<size_t>(1514, end - at), broadcast, 7710);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_until(next);
  }
}
