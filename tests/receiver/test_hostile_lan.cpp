// The real tarvoview on a simulated LAN, sent the hostile datagrams that were found by fuzzing its frame port by
// another host, between the frames of a sender: the sender's frames after them must paint. Host 1 runs tarvoview
// (Qt's offscreen platform, its paint log telling which stamped frames it painted), host 2 plays the sender,
// host 3 is anyone else on the network. Needs root; skips without a LAN.
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "lan_gtest.h"
#include "lan_peers.h"
#include "receiver_fixture.h"

using std::chrono::seconds;

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The stored datagrams (each a 32-bit little-endian length and its bytes).
TDatagrams StoredDatagrams(const std::string& name) {
  const std::string bytes = Read(std::string(TARVO_HOSTILE_DATA) + "/" + name);
  TDatagrams out;
  for (std::size_t at = 0; at + 4 <= bytes.size();) {
    std::size_t n = 0;
    for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    out.push_back(bytes.substr(at + 4, n));
    at += 4 + n;
  }
  return out;
}

// The stamps in a paint log ("<ms> <surface> <seq>:<ms>", or "-" for a picture without one), in order.
std::vector<std::uint32_t> PaintedStamps(const std::string& paintLog) {
  std::istringstream lines(Read(paintLog));
  std::vector<std::uint32_t> stamps;
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string ms, surface, stamp;
    if (words >> ms >> surface >> stamp && stamp != "-") stamps.push_back(std::stoul(stamp));
  }
  return stamps;
}

bool Painted(const std::string& paintLog, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t s : PaintedStamps(paintLog))
    if (s >= from && s <= to) return true;
  return false;
}

class THostileLanTest : public tarvo::lan::TLanTest {
 protected:
  THostileLanTest() : TLanTest(3) {}
};

}  // namespace

TEST_F(THostileLanTest, TheSendersFramesPaintAfterHostileDatagramsFromAnotherHost) {
  const TDatagrams studio = StoredDatagrams("studio-profile.dgrams");
  const std::string huge = Read(std::string(TARVO_HOSTILE_DATA) + "/header-8191x8191.bin");
  ASSERT_EQ(studio.size(), 2u);
  ASSERT_EQ(huge.size(), 427u);
  std::vector<TDatagrams> before, after;  // frames 1..20 and 21..40, each from a key frame
  for (const std::string& frame : EncodeStream(40, 20))
    (before.size() < 20 ? before : after).push_back(FrameDatagrams(frame));

  char dir[] = "/tmp/tarvo-hostile-lan.XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string paintLog = std::string(dir) + "/tarvoview.paint";
  const pid_t viewer = Lan().Start(
      1, {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "TARVO_UNATTENDED=1", "TARVO_PAINT_LOG=" + paintLog,
          std::string("XDG_RUNTIME_DIR=") + dir, TARVOVIEW_PATH});
  const std::string senderAddress = Lan().Address(2);
  ASSERT_EQ(Lan().RunFunction(2, [&] { return AnswerAnnouncement(senderAddress); }, seconds(40)), 0)
      << "tarvoview announced nothing";

  // The receiver listens for frames only once it has handled the answer: the first frames go again until one
  // paints. The deadlines here and below are generous, for a loaded machine and sanitizer builds.
  auto sendUntilPainted = [&](const std::vector<TDatagrams>& frames, std::uint32_t from, std::uint32_t to) {
    const auto deadline = std::chrono::steady_clock::now() + seconds(90);
    while (!Painted(paintLog, from, to) && std::chrono::steady_clock::now() < deadline)
      if (Lan().RunFunction(2, [&] { return BroadcastFrames(frames) ? 0 : 1; }) != 0) return false;
    return Painted(paintLog, from, to);
  };
  ASSERT_TRUE(sendUntilPainted(before, 1, 20)) << "tarvoview painted none of the sender's frames";

  // Anyone else: the pair that left the decoder painting its old picture for good, then a second of frames that
  // declare 8191 x 8191 pixels, one every 40 ms.
  std::vector<TDatagrams> attack{studio};
  for (int i = 0; i < 25; ++i) attack.push_back({FrameHeader(static_cast<std::uint32_t>(huge.size())), huge});
  ASSERT_EQ(Lan().RunFunction(3, [&] { return BroadcastFrames(attack) ? 0 : 1; }), 0);

  // The sender's stream from its next key frame paints to its last frame.
  EXPECT_TRUE(sendUntilPainted(after, 40, 40)) << "tarvoview shows " << PaintedStamps(paintLog).back()
                                               << " and no later frame of the sender";
  int status = 0;
  EXPECT_EQ(::waitpid(viewer, &status, WNOHANG), 0) << "tarvoview ended";
  std::filesystem::remove_all(dir);
}
