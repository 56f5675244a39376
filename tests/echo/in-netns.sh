#!/usr/bin/env bash
# Runs a test inside a private network namespace: its own loopback, unprivileged
# ping allowed, and a resolver that answers nothing, so no query leaves it.
set -u
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: creating a network namespace needs root"
    exit 77
fi
ns="lagoscope-test-$$-$RANDOM"
if ! ip netns add "$ns" 2>/dev/null; then
    echo "SKIP: this machine does not allow network namespaces"
    exit 77
fi
trap 'ip netns del "$ns"; rm -rf "/etc/netns/$ns"' EXIT
mkdir -p "/etc/netns/$ns"
echo "nameserver 127.0.0.1" >"/etc/netns/$ns/resolv.conf"
printf '127.0.0.1 localhost\n::1 localhost\n' >"/etc/netns/$ns/hosts"
ip -n "$ns" link set lo up
ip netns exec "$ns" sysctl -qw net.ipv4.ping_group_range="0 2147483647"
ip netns exec "$ns" "$@"
