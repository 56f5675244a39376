#pragma once

#include "EchoChannel.h"

#include <functional>
#include <optional>
#include <string>

class QObject;

// Everything a platform provides, in one place. A port implements these,
// the EchoChannel interface (EchoChannel.h), DeadlineTimer's native part
// (DeadlineTimer.h) and the socket headers for name lookups
// (SystemSockets.h) in a folder of its own, as linux/ and windows/ do;
// echo/CMakeLists.txt picks the folder once.

// Opens one channel per family, in the least privileged way the system allows.
EchoChannels openEchoChannels();

// Gives up every capability and any set-user-id or set-group-id identity for
// good, once the channels are open. Empty on success; otherwise what failed,
// and the program must not go on.
std::string dropPrivileges();

// How to allow pinging when a family has no channel, in one line, or nothing
// when both have one. It names the running program's file by its absolute
// path where the system tells it.
std::string permissionAdvice(const EchoChannels &channels, const std::string &invokedAs);

// Whether a channel failed to open because this program may not ping.
bool lacksPermission(int channelError);

// Calls `ready` from `owner`'s event loop whenever `handle` signals that
// results wait; the watch ends with `owner`.
void watchReadyHandle(ReadyHandle handle, QObject *owner, std::function<void()> ready);

// The gateway the system routes `to` through, as `ip route get` tells it:
// none for a host on a link of this machine's, this machine itself, or
// where there is no route. Asks the system without waiting on the network.
std::optional<IpAddress> gatewayTo(const IpAddress &to);

// The name of the interface numbered `index`, or the number where it has none.
std::string interfaceName(uint32_t index);

// Calls `changed` from `owner`'s event loop when this machine's routes or
// addresses change (a laptop moving between networks), more than once for
// one change, as the system tells it; the watch ends with `owner`.
void watchRoutes(QObject *owner, std::function<void()> changed);
