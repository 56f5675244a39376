#include "FailureText.h"

#include <system_error>

std::string failureText(EchoFailure reason, int detail, const std::string &host)
{
    const auto systemMessage = [detail] { return std::system_category().message(detail); };
    switch (reason) {
    case EchoFailure::ResolveFailed:
        if (host.find_first_not_of(' ') == std::string::npos)
            return "No host to ping: type a name or an address";
        return "Cannot find host " + host;
    case EchoFailure::NameServerSilent:
        return "Looking up name\u2026 (no answer from the name server yet)";
    case EchoFailure::NoPermission:
        return "No permission to ping: see man lagoscope";
    case EchoFailure::NoSocket:
        return "Cannot ping this kind of address here: " + systemMessage();
    case EchoFailure::SendFailed:
        return "Cannot send to " + host + ": " + systemMessage();
    case EchoFailure::Timeout:
    case EchoFailure::IcmpError:
        break;
    }
    return {};
}
