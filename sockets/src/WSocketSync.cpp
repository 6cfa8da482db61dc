// The synchronous-wait layer: waits that keep the thread's message processing going until an event handler
// reports that a step is done.
#include "sockets/WSocket.h"

namespace {

// What a wait returns when it ends for any reason but its flag.
constexpr std::int32_t kWaitEndedOtherwise = 12001;

}  // namespace

TCustomSyncWSocket::TCustomSyncWSocket(TComponent* AOwner) : TCustomLineWSocket(AOwner) {}

std::int32_t TCustomSyncWSocket::Synchronize(const TSyncStep& Step, bool& Done) {
  Done = false;
  if (Step) Step();
  return WaitUntilReady(Done);
}

std::int32_t TCustomSyncWSocket::WaitUntilReady(bool& Done) {
  WaitDeadline = static_cast<std::int32_t>(GetTickCount() + static_cast<DWORD>(WaitTimeout));
  for (;;) {
    if (Done) return 0;
    // The difference, taken as signed, stays right when the tick count wraps during the wait.
    if (WaitTimeout > 0 && static_cast<std::int32_t>(GetTickCount() - static_cast<DWORD>(WaitDeadline)) > 0)
      return kWaitEndedOtherwise;
    if (ApplicationTerminated() || PumpTerminated) return kWaitEndedOtherwise;
    MessagePump();
    Sleep(0);
  }
}
