# Helpers for the scripts that run the program in a network namespace of
# their own. Sourced, not run; needs root.

# Commands to run when the script exits, the last added first.
lab_cleanups=()
at_exit() {
    lab_cleanups=("$1" "${lab_cleanups[@]}")
    trap 'for c in "${lab_cleanups[@]}"; do eval "$c" || true; done' EXIT
}

# Creates namespace $1 with its loopback up and unprivileged ping allowed
# for the groups in range $2 (everyone unless given), deleted at exit.
# Fails, with nothing made, where the machine allows no namespaces.
lab_namespace() {
    local ns=$1 groups=${2:-0 2147483647}
    ip netns add "$ns" 2>/dev/null || return 1
    at_exit "ip netns del '$ns' 2>/dev/null"
    ip -n "$ns" link set lo up
    ip netns exec "$ns" sysctl -qw net.ipv4.ping_group_range="$groups"
}

# Whether the kernel of namespace $2, or of this one, answers echo requests
# itself (1) or leaves them to a scripted host (0).
kernel_echo() {
    local set=(sysctl -qw net.ipv4.icmp_echo_ignore_all=$((1 - $1)))
    if [ -n "${2:-}" ]; then ip netns exec "$2" "${set[@]}"; else "${set[@]}"; fi
}

# The echo requests the kernel of namespace $1, or of this one, has received
# (InEchos).
echo_requests() {
    local read=(awk '/^Icmp:/ && ++n == 2 {print $10}' /proc/net/snmp)
    if [ -n "${1:-}" ]; then ip netns exec "$1" "${read[@]}"; else "${read[@]}"; fi
}

# The newest process matching pgrep's arguments, once it has started (up to
# 5 s); fails when none does.
wait_for_process() {
    local _ found
    for _ in $(seq 50); do
        found=$(pgrep -n "$@") && echo "$found" && return
        sleep 0.1
    done
    echo "no process: $*" >&2
    return 1
}

# Joins namespace $1 to a router $2 and a host $3 beyond it, with
# documentation addresses only, every kernel answering echoes; two links
# join $1 to the router, so that a route can move from one to the other:
#
#   $1 a0 192.0.2.2/28   2001:db8:1::2/64  fe80::2  -- r0 192.0.2.1   2001:db8:1::1  fe80::1  $2
#   $1 a1 192.0.2.18/28  2001:db8:3::2/64  fe80::12 -- r1 192.0.2.17  2001:db8:3::1  fe80::1  $2
#   $2 r2 198.51.100.1/24  2001:db8:2::1/64  -- h0 198.51.100.2  2001:db8:2::2  $3
#
# The routes of $1 go by a0 (IPv4 via 192.0.2.1, IPv6 via fe80::1).
lab_routed() {
    lab_veth() { # ns-a name-a ns-b name-b
        ip -n "$1" link add "$2" type veth peer name "$4" netns "$3"
        ip -n "$1" link set "$2" up
        ip -n "$3" link set "$4" up
    }
    lab_addresses() { # ns interface address...
        local ns=$1 dev=$2
        shift 2
        for a in "$@"; do
            case $a in
            *:*) ip -n "$ns" addr add "$a" dev "$dev" nodad ;;
            *) ip -n "$ns" addr add "$a" dev "$dev" ;;
            esac
        done
    }
    lab_veth "$1" a0 "$2" r0
    lab_veth "$1" a1 "$2" r1
    lab_veth "$2" r2 "$3" h0
    lab_addresses "$1" a0 192.0.2.2/28 2001:db8:1::2/64 fe80::2/64
    lab_addresses "$1" a1 192.0.2.18/28 2001:db8:3::2/64 fe80::12/64
    lab_addresses "$2" r0 192.0.2.1/28 2001:db8:1::1/64 fe80::1/64
    lab_addresses "$2" r1 192.0.2.17/28 2001:db8:3::1/64 fe80::1/64
    lab_addresses "$2" r2 198.51.100.1/24 2001:db8:2::1/64
    lab_addresses "$3" h0 198.51.100.2/24 2001:db8:2::2/64
    ip netns exec "$2" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
    ip -n "$1" route add default via 192.0.2.1 dev a0
    ip -n "$1" -6 route add default via fe80::1 dev a0
    ip -n "$3" route add default via 198.51.100.1
    ip -n "$3" -6 route add default via 2001:db8:2::1
}
