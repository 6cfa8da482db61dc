// The lookup tests' own host database (see private_hosts.cpp).
#pragma once

namespace wstest {

// In the host database's order; "multi" has two addresses, the higher one first.
inline constexpr const char* PrivateHostsFile =
    "127.0.0.1 localhost\n"
    "10.9.9.2 multi multi-alias\n"
    "10.9.9.1 multi\n";

// Call from main before any thread starts.
void SetUpPrivateHosts();
// Null when the private database is in place; otherwise why not.
const char* PrivateHostsMissing();

}  // namespace wstest
