#include "Platform.h"

#include <linux/securebits.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
std::string failed(const char *step)
{
    return std::string(step) + " failed: " + std::strerror(errno);
}
} // namespace

std::string dropPrivileges()
{
    // Root keeps no special powers across exec. Setting the bits needs
    // CAP_SETPCAP, which an ordinary user lacks, so that failure is expected
    // and harmless: such a user has no root powers to lose.
    prctl(PR_SET_SECUREBITS, SECBIT_NOROOT | SECBIT_NOROOT_LOCKED);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return failed("PR_SET_NO_NEW_PRIVS");
    const gid_t gid = getgid();
    const uid_t uid = getuid();
    if (setresgid(gid, gid, gid) != 0)
        return failed("setresgid");
    if (setresuid(uid, uid, uid) != 0)
        return failed("setresuid");
    cap_t none = cap_init();
    if (!none)
        return failed("cap_init");
    const bool cleared = cap_set_proc(none) == 0;
    cap_free(none);
    if (!cleared)
        return failed("cap_set_proc");

    // Read back what the kernel now holds, rather than trust the calls.
    cap_t held = cap_get_proc();
    cap_t empty = cap_init();
    const bool noneHeld = held && empty && cap_compare(held, empty) == 0;
    cap_free(held);
    cap_free(empty);
    uid_t r = 0, e = 0, s = 0;
    gid_t rg = 0, eg = 0, sg = 0;
    if (!noneHeld || getresuid(&r, &e, &s) != 0 || getresgid(&rg, &eg, &sg) != 0 || e != uid ||
        s != uid || eg != gid || sg != gid)
        return "privileges still held after dropping them";
    return {};
}
