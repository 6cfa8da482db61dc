// e2e_wire: the end-to-end test's witness of what went on the wire. Run on a host of the simulated LAN that
// takes no part in the broadcast, it listens on the announcement port (7712) and the frame port (7710), and
// writes one line per event to the file named by its only argument, each line written whole:
//
//   <ms> ready                    it listens on both ports: nothing sent from now on is missed
//   <ms> login <address>          a "login_mp4_cw" announcement and the address it carries
//   <ms> logout <address>         a "logoutmp4_cw" announcement
//   <ms> other <bytes>            anything else on 7712
//   <ms> header <size>            a frame header on 7710
//   <ms> frame <seq> <key> <size> a frame gathered whole after its header: the stamp its picture carries (or -),
//                                 1 when it is a key frame
//
// <ms> is CLOCK_MONOTONIC in milliseconds, the clock of the paint log. It runs until it is killed.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "vfw/compman.h"
#include "vfw/stamp.h"

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;

std::uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000 + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000;
}

int Listen(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  int big = 8 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// True for an MPEG-4 video frame whose first picture is intra coded.
bool IsKeyFrame(const std::string& frame) {
  for (std::size_t i = 0; i + 4 < frame.size(); ++i)
    if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && static_cast<unsigned char>(frame[i + 3]) == 0xB6)
      return (static_cast<unsigned char>(frame[i + 4]) >> 6) == 0;
  return false;
}

class TWitness {
 public:
  explicit TWitness(int out) : FOut(out) {
    FCodec = ICOpen(ICTYPE_VIDEO, mmioFOURCC('D', 'I', 'V', 'X'), ICMODE_FASTDECOMPRESS);
    for (BITMAPINFO* f : {&FIn, &FOutFormat}) {
      f->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
      f->bmiHeader.biWidth = kWidth;
      f->bmiHeader.biHeight = kHeight;
      f->bmiHeader.biPlanes = 1;
      f->bmiHeader.biBitCount = 24;
      f->bmiHeader.biSizeImage = kWidth * kHeight * 3;
    }
    FIn.bmiHeader.biCompression = mmioFOURCC('D', 'I', 'V', 'X');
    if (FCodec) ICDecompressBegin(FCodec, &FIn, &FOutFormat);
    FPicture.resize(kWidth * kHeight * 3);
  }
  ~TWitness() {
    if (FCodec) ICClose(FCodec);
  }

  void Ready() { Line("ready"); }

  void Announcement(const char* data, std::size_t n) {
    std::string s(data, n);
    if (s.rfind("login_mp4_cw", 0) == 0)
      Line("login " + Printable(s.substr(12)));
    else if (s.rfind("logoutmp4_cw", 0) == 0)
      Line("logout " + Printable(s.substr(12)));
    else
      Line("other " + std::to_string(n));
  }

  void FrameDatagram(const char* data, std::size_t n) {
    if (n == 9 && std::memcmp(data, "frame", 5) == 0) {
      const auto* p = reinterpret_cast<const unsigned char*>(data) + 5;
      FSize = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
      FFrame.clear();
      FGathering = true;
      Line("header " + std::to_string(FSize));
      return;
    }
    if (!FGathering) return;
    FFrame.append(data, n);
    if (FFrame.size() < FSize) return;
    FGathering = false;
    std::string seq = "-";
    if (FCodec) {
      std::vector<unsigned char> input(kWidth * kHeight * 3 + 64);
      std::memcpy(input.data(), FFrame.data(), std::min(FFrame.size(), input.size()));
      std::uint32_t s = 0, ms = 0;
      if (ICDecompress(FCodec, 0, &FIn.bmiHeader, input.data(), &FOutFormat.bmiHeader, FPicture.data()) ==
              static_cast<DWORD>(ICERR_OK) &&
          DecodeStamp(FPicture.data(), kWidth, kHeight, s, ms))
        seq = std::to_string(s);
    }
    Line("frame " + seq + " " + (IsKeyFrame(FFrame) ? "1" : "0") + " " + std::to_string(FFrame.size()));
  }

 private:
  static std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) out += (c > ' ' && c < 127) ? static_cast<char>(c) : '?';
    return out.empty() ? "-" : out;
  }
  void Line(const std::string& text) {
    std::string line = std::to_string(NowMs()) + " " + text + "\n";
    ssize_t ignored = ::write(FOut, line.data(), line.size());
    (void)ignored;
  }

  int FOut;
  HIC FCodec = nullptr;
  BITMAPINFO FIn{};
  BITMAPINFO FOutFormat{};
  std::vector<unsigned char> FPicture;
  std::string FFrame;
  std::uint32_t FSize = 0;
  bool FGathering = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: e2e_wire OUTPUT-FILE\n");
    return 2;
  }
  int out = ::open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) {
    std::perror(argv[1]);
    return 1;
  }
  int announce = Listen(7712), frames = Listen(7710);
  if (announce < 0 || frames < 0) {
    std::perror("e2e_wire: bind");
    return 1;
  }
  TWitness witness(out);
  witness.Ready();
  std::vector<char> buffer(65536);
  pollfd fds[2] = {{announce, POLLIN, 0}, {frames, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      for (;;) {
        ssize_t n = ::recv(fds[i].fd, buffer.data(), buffer.size(), 0);
        if (n < 0) break;
        if (i == 0)
          witness.Announcement(buffer.data(), static_cast<std::size_t>(n));
        else
          witness.FrameDatagram(buffer.data(), static_cast<std::size_t>(n));
      }
    }
  }
}
