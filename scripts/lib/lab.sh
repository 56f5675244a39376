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
