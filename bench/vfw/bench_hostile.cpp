// What hostile frames cost the DIVX decompressor: time per ICDecompress and the peak memory it adds, for a
// frame whose stream header declares 8191 x 8191 pixels, for the studio-profile header that used to wedge the
// decoder, and for an ordinary key frame as the reference. Each case runs in a child process of its own, so that
// its peak resident size (getrusage) is its own; the figure is the peak less the child's size after it had
// decoded one ordinary key frame. Also says whether an ordinary key frame still decodes after the hostile frame.
//
//   vfw_hostile_bench [decodes per case, default 5]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_frames.h"

using namespace vfwbench;

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

std::vector<uint8_t> ReadFile(const std::string& name) {
  std::ifstream in(std::string(TARVO_HOSTILE_DATA) + "/" + name, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s/%s\n", TARVO_HOSTILE_DATA, name.c_str());
    std::exit(1);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The data datagram of a stored pair (32-bit little-endian length, then the bytes, twice): the frame the
// receiver completes after the header that announced 0 bytes.
std::vector<uint8_t> SecondDatagram(const std::vector<uint8_t>& pair) {
  size_t at = 0;
  std::vector<uint8_t> last;
  while (at + 4 <= pair.size()) {
    const size_t n = pair[at] | pair[at + 1] << 8 | pair[at + 2] << 16 | static_cast<size_t>(pair[at + 3]) << 24;
    at += 4;
    if (at + n > pair.size()) break;
    last.assign(pair.begin() + static_cast<long>(at), pair.begin() + static_cast<long>(at + n));
    at += n;
  }
  return last;
}

std::vector<uint8_t> KeyFrame(int picture) {
  HIC hic = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
  ICCompressBegin(hic, &in, &out);
  std::vector<uint8_t> buffer(kBuffer);
  ICCompress(hic, ICCOMPRESS_KEYFRAME, &out.bmiHeader, buffer.data(), &in.bmiHeader,
             const_cast<uint8_t*>(Pictures()[picture].data()), nullptr, nullptr, 1, 0, 0, nullptr, nullptr);
  buffer.resize(out.bmiHeader.biSizeImage);
  ICClose(hic);
  return buffer;
}

long PeakKb() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_maxrss;
}

struct TResult {
  double FirstMs = 0, MedianMs = 0, MaxMs = 0;
  long AddedKb = 0;
  long Result = 0;
  bool KeyAfter = false;
};

// In the child: one ordinary key frame, then the case's frames in turn until the first of them has been decoded
// `decodes` times (only those are timed), then the key frame again. A frame given twice in a row would not be
// decoded again, so ordinary frames are timed in pairs.
TResult RunCase(const std::vector<uint8_t>& key, const std::vector<std::vector<uint8_t>>& frames, int decodes) {
  HIC hic = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  BITMAPINFO in = Record(kDivx), out = Record(BI_RGB);
  ICDecompressBegin(hic, &in, &out);
  std::vector<uint8_t> input(kBuffer), picture(kBuffer);
  auto decode = [&](const std::vector<uint8_t>& bytes) {
    std::fill(input.begin(), input.end(), 0);
    std::copy(bytes.begin(), bytes.end(), input.begin());
    return static_cast<LONG>(ICDecompress(hic, 0, &in.bmiHeader, input.data(), &out.bmiHeader, picture.data()));
  };
  TResult r;
  decode(key);
  const long base = PeakKb();
  std::vector<double> ms;
  for (int i = 0; i < decodes; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    r.Result = decode(frames[0]);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    for (size_t k = 1; k < frames.size(); ++k) decode(frames[k]);
  }
  r.AddedKb = PeakKb() - base;
  r.FirstMs = ms.front();
  std::sort(ms.begin(), ms.end());
  r.MedianMs = ms[ms.size() / 2];
  r.MaxMs = ms.back();
  r.KeyAfter = decode(key) == ICERR_OK;
  ICClose(hic);
  return r;
}

void Report(const char* name, const std::vector<uint8_t>& key, const std::vector<std::vector<uint8_t>>& frames,
            int decodes) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) std::exit(1);
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    const TResult r = RunCase(key, frames, decodes);
    ssize_t written = write(pipeFds[1], &r, sizeof r);
    _exit(written == sizeof r ? 0 : 1);
  }
  close(pipeFds[1]);
  TResult r;
  const bool got = read(pipeFds[0], &r, sizeof r) == sizeof r;
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!got) {
    std::printf("%-44s the child failed (status %d)\n", name, status);
    return;
  }
  std::printf("%-40s result %4ld; ms per decode: first %8.3f, median of %d %8.3f, max %8.3f; peak memory "
              "+%.1f MB; a key frame after it %s\n",
              name, r.Result, r.FirstMs, decodes, r.MedianMs, r.MaxMs, static_cast<double>(r.AddedKb) / 1024.0,
              r.KeyAfter ? "decodes" : "FAILS");
}

}  // namespace

int main(int argc, char** argv) {
  const int decodes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::vector<uint8_t> key = KeyFrame(0);
  const std::vector<uint8_t> huge = ReadFile("header-8191x8191.bin");
  Report("ordinary key frame (352 x 288)", key, {KeyFrame(1), KeyFrame(2)}, decodes);
  Report("stream header of 8191 x 8191", key, {huge}, decodes);
  Report("8191 x 8191, each after an ordinary one", key, {huge, KeyFrame(1)}, decodes);
  Report("studio-profile stream header", key, {SecondDatagram(ReadFile("studio-profile.dgrams"))}, decodes);
  return 0;
}
