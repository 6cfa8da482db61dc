// What the sender's tests share: the run on a host of the simulated LAN (sender_main.cpp), the message boxes
// the program showed, pumping the GUI thread's messages, plain UDP sockets that play the receivers' part, and the
// creation and destruction of the main form. For tests only.
//
// The test binaries move themselves onto host 1 of a LAN of their own before anything starts a thread, so that
// GetLocalIP and the route for 255.255.255.255 are defined and the ports are the process's own. Where no LAN can
// be made the tests that cross the network skip with the reason.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Unit1.h"
#include "udp_peer.h"

namespace sender_testing {

// Set by main: on a LAN host (the reason why not otherwise), and the host's own address.
extern bool GOnLan;
extern std::string GNoLanReason;
extern std::string GHostAddress;

#define SENDER_NEED_LAN() \
  if (!::sender_testing::GOnLan) GTEST_SKIP() << "needs a host of the simulated LAN: " << ::sender_testing::GNoLanReason

// main() of both test binaries: moves onto the LAN, starts the toolkit, runs the tests.
int Main(int argc, char** argv);

// ---- Message boxes ---------------------------------------------------------------------------------------------

struct TBox {
  std::string Text;
  std::string Caption;
  UINT Type = 0;
};
std::vector<TBox> Boxes();
void ClearBoxes();
// Runs on the GUI thread inside MessageBoxA, before it returns (nullptr: none).
void SetBoxHook(std::function<void(const TBox&)> hook);

// ---- The GUI thread --------------------------------------------------------------------------------------------

// How long a test waits for what must happen: generous, for a loaded machine and a sanitizer build. A wait ends
// as soon as the awaited thing happens.
constexpr int kPatienceMs = 60000;

// Handles the GUI thread's messages until done() holds or timeoutMs pass; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs);
// Checks done() every millisecond, handling nothing on the GUI thread, until it holds or timeoutMs pass.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs);
// Handles messages for this long.
void PumpFor(int ms);

// ---- The form ------------------------------------------------------------------------------------------------------

// Creates Form1 from its stored description (FormCreate runs); the form is not shown.
TForm1* CreateForm();
// Destroys Form1 (FormDestroy runs).
void DestroyForm();

// Hands a prepared frame to the sender thread as the capture callback does: fills OutFrame with `size` bytes
// (byte i is FrameByte(size, i)), sets OutSize, clears CanCompress, then sets FrameReady.
void HandOver(TForm1* form, std::uint32_t size);
std::uint8_t FrameByte(std::uint32_t size, std::uint32_t i);
// The datagram sizes of a frame of `size` bytes while no send would block: header first.
std::vector<std::size_t> ExpectedDatagrams(std::uint32_t size);
// The picture type of a compressed frame: 'I', 'P', 'B', or '?' without a picture header.
char PictureType(const std::uint8_t* data, std::size_t size);

// The file descriptor behind a socket of the form (a socket handle is a descriptor), or -1 while closed.
int SocketFd(TWSocket* socket);

// Runs a shell command inside this host; its exit status.
int Shell(const std::string& command);

}  // namespace sender_testing
