// The network side of the receiver's tests, kept apart from the platform's socket declarations: a private
// network namespace with only loopback (entered by main before anything else runs) and a plain UDP peer that
// plays the sender.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Moves the process into a network namespace of its own with loopback up and 255.255.255.255 routed onto it, so
// that the form's broadcasts come back to the test and reach nothing else. False (with the reason) when it may
// not: the tests then skip.
bool EnterPrivateLoopback(std::string& why);
bool InPrivateLoopback();
const std::string& PrivateLoopbackProblem();

// How long a test waits for what must happen: generous, for a loaded machine and a sanitizer build. A wait ends
// as soon as the awaited thing happens.
constexpr std::chrono::seconds kPatience{60};

// Handles the GUI thread's messages (socket notifications, timer ticks) until pred holds or timeout passes.
bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = kPatience);
void PumpFor(std::chrono::milliseconds duration);

// A plain datagram socket of the private namespace, sending to 127.0.0.1.
class TPeer {
 public:
  // Bound to 0.0.0.0:port (0: any port); broadcasting allowed.
  explicit TPeer(std::uint16_t port = 0);
  ~TPeer();
  TPeer(const TPeer&) = delete;
  TPeer& operator=(const TPeer&) = delete;

  bool Ok() const { return FFd >= 0; }
  // False (errno kept) when the datagram did not go whole.
  bool SendTo(std::uint16_t port, const void* data, std::size_t size);
  bool SendTo(std::uint16_t port, const std::string& text) { return SendTo(port, text.data(), text.size()); }
  // One waiting datagram, waiting at most timeout while the GUI thread's messages are handled; false when none.
  bool Receive(std::string& datagram, std::chrono::milliseconds timeout);

 private:
  int FFd = -1;
};

// Bytes waiting in the receive queue of this namespace's UDP sockets bound to port.
long QueuedBytes(std::uint16_t port);

constexpr std::uint16_t kAnnouncePort = 7712;
constexpr std::uint16_t kAnswerPort = 7708;
constexpr std::uint16_t kFramePort = 7710;
