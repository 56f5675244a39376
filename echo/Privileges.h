#pragma once

#include <string>

// Gives up every capability and any set-user-id or set-group-id identity for
// good, once the sockets are open. Empty on success; otherwise what failed,
// and the program must not go on.
std::string dropPrivileges();
