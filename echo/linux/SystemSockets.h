#pragma once

// The system's socket and name lookup headers, ready for getaddrinfo.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

inline bool socketsStarted()
{
    return true;
}
