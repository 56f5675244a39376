#pragma once

#include "IpAddress.h"

#include <string>
#include <vector>

struct LookupResult {
    std::vector<IpAddress> addresses; // in the resolver's order of preference
    int error = 0;                    // the resolver's own code when it found nothing
    bool temporary = false;           // the name server did not answer; ask again later
};

// Asks the system's resolver (hosts file, DNS and its other name services)
// for the addresses of an ASCII name; may block for as long as the resolver
// takes. With `literalOnly`, reads an address literal alone (with an IPv6
// zone after "%"), which never blocks.
LookupResult lookUpHost(const std::string &name, bool literalOnly);
