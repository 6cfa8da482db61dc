// The own-address helper. The only code of the socket layer that calls the socket library through the
// link instead of the component's binding.
#include "sockets/LocalIP.h"

#include <cstring>

#include "wsock32/winsock.h"

std::string GetLocalIP() {
  WSADATA wsaData{};
  // A failed start must not be paired with a cleanup: that would undo a start made by someone else in the
  // process (the socket component's binding, another thread's call).
  bool started = WSAStartup(0x0101, &wsaData) == 0;
  std::string result;
  char name[64] = {};
  // A failed gethostname leaves no name to look up; the last byte stays a terminator in any case, so the
  // lookup never reads past the buffer.
  if (gethostname(name, 64) == 0) {
    name[63] = '\0';
    if (hostent* phe = gethostbyname(name); phe != nullptr && phe->h_addr_list != nullptr) {
      for (char** p = phe->h_addr_list; *p != nullptr; ++p) {
        in_addr addr{};
        std::memcpy(&addr, *p, sizeof addr);
        if (const char* text = inet_ntoa(addr)) result = text;
      }
    }
  }
  if (started) WSACleanup();
  return result;
}
