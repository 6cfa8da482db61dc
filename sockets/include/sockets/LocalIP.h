// The machine's own IPv4 address, for the texts that the sender and the receiver announce.
//
// It calls the socket library directly (the programs' ordinary link to "wsock32.dll"), starting and stopping
// it once per call; it does not use or count in the socket component's run-time binding (WSocket.h), and it
// needs no socket object. Safe from any thread.
#pragma once

#include <string>

// The last IPv4 address that the host database lists for this machine's host name, in dotted form; empty
// when the name cannot be read or does not resolve.
std::string GetLocalIP();
