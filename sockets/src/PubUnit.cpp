// String helpers of the announcement protocol.
#include "sockets/PubUnit.h"

std::string LeftPart(const std::string& S, std::int32_t N) {
  if (N <= 0) return {};
  return S.substr(0, static_cast<std::size_t>(N));
}

std::string RightPart(const std::string& S, std::int32_t N) {
  auto len = static_cast<std::int64_t>(S.size());
  if (N >= len) return S;
  if (N <= 0) return {};
  return S.substr(static_cast<std::size_t>(len - N), static_cast<std::size_t>(N));
}
