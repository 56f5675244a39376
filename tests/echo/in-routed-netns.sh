#!/usr/bin/env bash
# Runs a test in a network namespace of its own behind a router: three
# namespaces, the test's, a router that forwards and a host beyond it, as
# lab_routed (scripts/lib/lab.sh) joins them, every kernel answering echoes.
# The router and the host are named in LAGOSCOPE_ROUTER_NS and
# LAGOSCOPE_HOST_NS; their nftables are the test's to set. Needs root.
set -u
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: creating network namespaces needs root"
    exit 77
fi
command -v nft >/dev/null || { echo "SKIP: nftables is not installed"; exit 77; }
source "$(dirname "$0")/../../scripts/lib/lab.sh"
here="lagoscope-routed-$$-$RANDOM"
router="$here-router"
host="$here-host"
for ns in "$here" "$router" "$host"; do
    if ! lab_namespace "$ns"; then
        echo "SKIP: this machine does not allow network namespaces"
        exit 77
    fi
done
mkdir -p "/etc/netns/$here"
at_exit "rm -rf '/etc/netns/$here'"
echo "nameserver 127.0.0.1" >"/etc/netns/$here/resolv.conf"
printf '127.0.0.1 localhost\n::1 localhost\n' >"/etc/netns/$here/hosts"

lab_routed "$here" "$router" "$host"

# Until both families reach the host (neighbour discovery takes a moment).
for _ in $(seq 50); do
    ip netns exec "$here" ping -c1 -W1 198.51.100.2 >/dev/null 2>&1 &&
        ip netns exec "$here" ping -6 -c1 -W1 2001:db8:2::2 >/dev/null 2>&1 && break
    sleep 0.1
done

LAGOSCOPE_ROUTER_NS="$router" LAGOSCOPE_HOST_NS="$host" ip netns exec "$here" "$@"
