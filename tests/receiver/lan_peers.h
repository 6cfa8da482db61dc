// The hosts around a receiver on the simulated LAN, in a child that entered a host: a sender that answers an
// announcement, and any host broadcasting datagrams to the frame port. Plain POSIX sockets, kept apart from the
// platform's socket declarations that the receiver's headers bring.
#pragma once

#include <string>
#include <vector>

using TDatagrams = std::vector<std::string>;

// Waits (at most 30 s) for a receiver's announcement on port 7712 and answers it as the sender does, with
// "server/" and ownAddress to the announced address on port 7708. 0 when answered.
int AnswerAnnouncement(const std::string& ownAddress);

// Broadcasts each frame's datagrams back to back to 255.255.255.255 port 7710, then waits pauseMs. False when a
// datagram did not go whole.
bool BroadcastFrames(const std::vector<TDatagrams>& frames, int pauseMs = 40);
