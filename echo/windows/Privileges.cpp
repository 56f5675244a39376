#include "Platform.h"

// The ICMP helper API needs no privileges, and the program asks for none, so
// there is nothing to give up.
std::string dropPrivileges()
{
    return {};
}
