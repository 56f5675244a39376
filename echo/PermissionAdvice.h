#pragma once

#include "EchoChannel.h"

#include <string>

// How to allow pinging when a family has no channel, in one line, or nothing
// when both have one. It names the running program's file by its absolute
// path where the system tells it.
std::string permissionAdvice(const EchoChannels &channels, const std::string &invokedAs);

// Whether a channel failed to open because this program may not ping.
bool lacksPermission(int channelError);
