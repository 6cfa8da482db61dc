// The C library's datagram calls for the comparison, kept apart from the Winsock header (both declare
// socket, sendto ...).
#pragma once

#include <cstdint>

namespace rawudp {

int OpenBound();                                                    // a datagram socket bound to a loopback port
std::uint16_t Port(int fd);                                         // host byte order
int SendTo(int fd, const char* data, int len, std::uint16_t port);  // to 127.0.0.1:port
void Drain(int fd);                                                 // receives whatever waits, without blocking
void Close(int fd);

}  // namespace rawudp
