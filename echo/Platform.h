#pragma once

#include "EchoChannel.h"

#include <functional>
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
