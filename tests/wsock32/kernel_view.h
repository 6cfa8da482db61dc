// What the kernel holds for a socket of the layer, read with the system's own calls, so that tests can tell
// whether a Winsock option really reached the descriptor. Kept apart from the Winsock header, since it needs
// the system's socket headers.
#pragma once

#include <cstdint>

namespace wstest {

enum class TKernelOption { ReuseAddr, KeepAlive, DontRoute, Broadcast, OobInline, RcvBuf, SndBuf, NoDelay };

// The option's value on the descriptor of a layer handle (its low 32 bits), or -1 when it cannot be read.
int KernelOption(std::uint64_t handle, TKernelOption option);
// The linger setting as the kernel holds it; false when it cannot be read.
bool KernelLinger(std::uint64_t handle, int& onoff, int& seconds);

}  // namespace wstest
