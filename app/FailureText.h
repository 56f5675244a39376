#pragma once

#include "EchoEngine.h"

#include <string>

// The line the window shows for a failure the engine reported: what is wrong
// and, where there is something to do, what. Empty for failures that the
// counters and the graph already show (timeouts, ICMP errors).
std::string failureText(EchoFailure reason, int detail, const std::string &host);
