#!/usr/bin/env bash
# Runs a test inside a private network namespace: its own loopback, unprivileged
# ping allowed, and a resolver on its own loopback, so no query leaves it. A
# second namespace, named in LAGOSCOPE_PEER_NS, is a host at the far end of a
# veth pair (near0 here, far0 there) that the kernel answers pings on:
# 198.18.0.1 and fe80::1 here, 198.18.0.2 and fe80::2 there.
set -u
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: creating a network namespace needs root"
    exit 77
fi
source "$(dirname "$0")/../../scripts/lib/lab.sh"
ns="lagoscope-test-$$-$RANDOM"
peer="$ns-peer"
if ! lab_namespace "$ns"; then
    echo "SKIP: this machine does not allow network namespaces"
    exit 77
fi
mkdir -p "/etc/netns/$ns"
at_exit "rm -rf '/etc/netns/$ns'"
echo "nameserver 127.0.0.1" >"/etc/netns/$ns/resolv.conf"
printf '127.0.0.1 localhost\n::1 localhost\n' >"/etc/netns/$ns/hosts"

lab_namespace "$peer"
ip -n "$ns" link add near0 type veth peer name far0 netns "$peer"
ip netns exec "$ns" sysctl -qw net.ipv6.conf.near0.keep_addr_on_down=1
ip -n "$ns" addr add 198.18.0.1/30 dev near0
ip -n "$ns" addr add fe80::1/64 dev near0 nodad
ip -n "$peer" addr add 198.18.0.2/30 dev far0
ip -n "$peer" addr add fe80::2/64 dev far0 nodad
ip -n "$peer" link set far0 up
ip -n "$ns" link set near0 up

LAGOSCOPE_PEER_NS="$peer" ip netns exec "$ns" "$@"
