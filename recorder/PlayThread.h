// The player thread of tarvorec: reads the records of the open playback file one by one, decodes each with the
// form's codec and draws it into the play panel's paint box, waiting between frames for the recorded delay less
// the time decoding and drawing took (never more than kMaxPlayWaitMs). Created and freed by the main form
// (Unit1.h) at Play and Stop; nothing else uses it.
#pragma once

#include <atomic>
#include <cstdint>

#include "gui/threads.h"

// The longest wait after one frame: a stop never waits longer than one position.
constexpr std::int32_t kMaxPlayWaitMs = 200;

// Milliseconds to sleep after a frame whose decoding began at t0, with the clock now at now: the recorded delay
// less the time taken since t0, at most kMaxPlayWaitMs; 0 or less means no sleep.
std::int32_t PlayWait(std::uint16_t delay, std::uint32_t t0, std::uint32_t now);

class TPlayThread : public TThread {
 public:
  // Created suspended; the form sets Running and the priority, then resumes it.
  TPlayThread() = default;

  // The loop goes on while set. Written by the GUI thread, read by this thread once per position.
  std::atomic<std::uint8_t> Running{0};

 protected:
  void Execute() override;
};
