#!/usr/bin/env bash
# Run inside a test namespace (in-netns.sh) as root: the program as an
# ordinary user, where unprivileged ICMP sockets are not allowed. With
# cap_net_raw+p on a copy of the binary it pings, and the running process
# holds no capability and has NoNewPrivs; without it, it says how to allow
# pinging in one line and sends nothing.
set -u
binary=$1
user=nobody
. "$(dirname "$0")/../checks.sh"

sysctl -qw net.ipv4.ping_group_range="1 0"
sysctl -qw net.ipv4.icmp_echo_ignore_all=0
dir=$(mktemp -d)
trap 'rm -rf "$dir"; pkill -f "$dir/lagoscope" 2>/dev/null' EXIT
chmod 755 "$dir"
mkdir -m 700 "$dir/run" && chown "$user" "$dir/run" # keeps Qt quiet about it

# Runs the copy as $user for about two seconds: "pid echoes-sent".
run() {
    local before
    before=$(echo_requests)
    # Found on PATH, as an installed program is.
    PATH="$dir:$PATH" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$dir/run" \
        setpriv --reuid="$user" --regid=nogroup --clear-groups lagoscope 127.0.0.1 2>"$dir/stderr" &
    local pid=$!
    sleep 2
    status=$(cat "/proc/$pid/status" 2>/dev/null)
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    sent=$(($(echo_requests) - before))
}

cp "$binary" "$dir/lagoscope"
if ! setcap cap_net_raw+p "$dir/lagoscope" 2>/dev/null; then
    echo "SKIP: this file system keeps no file capabilities"
    exit 77
fi
run
check "pings with cap_net_raw+p ($sent echo requests)" '[ "$sent" -ge 10 ]'
for field in CapInh CapPrm CapEff; do
    value=$(awk -v f="$field:" '$1 == f {print $2}' <<<"$status")
    check "$field is $value" '[ "$value" = 0000000000000000 ]'
done
check "NoNewPrivs is set" 'grep -q "^NoNewPrivs:[[:space:]]*1" <<<"$status"'
check "nothing on standard error" '[ ! -s "$dir/stderr" ]'

setcap -r "$dir/lagoscope"
run
check "sends nothing without the capability ($sent)" '[ "$sent" -eq 0 ]'
check "one line of advice: $(head -c 120 "$dir/stderr")" \
    '[ "$(wc -l <"$dir/stderr")" -eq 1 ] && grep -q "setcap cap_net_raw+p $dir/lagoscope'"'"'" "$dir/stderr"'
check "the advice says how to keep it after a reboot" 'grep -q "/etc/sysctl.d/" "$dir/stderr"'
summary
