#pragma once

// The system's socket and name lookup headers, ready for getaddrinfo:
// Winsock must be started once before it answers.
#include <winsock2.h>
#include <ws2tcpip.h>

inline bool socketsStarted()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
