#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A name server on 127.0.0.1:53 that takes every query and answers none, so
// that the system's resolver waits until it gives up. Only for tests inside
// a namespace of their own, whose resolv.conf names 127.0.0.1 (in-netns.sh).
class SwallowingNameServer {
  public:
    SwallowingNameServer() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~SwallowingNameServer()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    SwallowingNameServer(const SwallowingNameServer &) = delete;
    SwallowingNameServer &operator=(const SwallowingNameServer &) = delete;

    bool ok() const { return fd_ >= 0; }

  private:
    int fd_;
};
