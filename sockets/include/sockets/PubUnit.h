// String helpers that the sender and the receiver share for their announcement texts: cut a keyword off the
// front of a received text and an address off its end. Byte-wise (a character is a byte); no failure for
// any count.
#pragma once

#include <cstdint>
#include <string>

// The first N characters of S (all of S when N is at least its length; empty for N of 0 or less).
std::string LeftPart(const std::string& S, std::int32_t N);
// The last N characters of S; all of S when N is not smaller than its length; empty for N of 0 or less.
std::string RightPart(const std::string& S, std::int32_t N);
