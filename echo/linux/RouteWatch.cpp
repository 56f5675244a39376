#include "Platform.h"

#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

// The kernel's news of routes, addresses and links, on a socket of its own.
class RouteNews : public QObject {
  public:
    RouteNews(QObject *owner, std::function<void()> changed)
        : QObject(owner), changed_(std::move(changed)),
          fd_(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE))
    {
        sockaddr_nl groups{};
        groups.nl_family = AF_NETLINK;
        groups.nl_groups = RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_IFADDR |
                           RTMGRP_IPV6_IFADDR | RTMGRP_LINK;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr *>(&groups), sizeof groups) != 0)
            return; // no news: the gateway found at each Start stays
        auto *notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &RouteNews::read);
    }
    ~RouteNews() override
    {
        if (fd_ >= 0)
            close(fd_);
    }

  private:
    // What changed does not matter: the route is asked for anew. A queue
    // that overflowed (ENOBUFS) is news too.
    void read()
    {
        std::array<uint8_t, 16384> buffer;
        bool news = false;
        for (int i = 0; i < 64; ++i) {
            const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno != ENOBUFS)
                break;
            news = true;
        }
        if (news)
            changed_();
    }

    std::function<void()> changed_;
    int fd_;
};

} // namespace

void watchRoutes(QObject *owner, std::function<void()> changed)
{
    new RouteNews(owner, std::move(changed));
}
