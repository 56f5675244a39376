#!/usr/bin/env bash
# Needs root, and changes this machine: installs the Debian package with apt,
# runs the installed program as an ordinary user inside a namespace of its
# own where unprivileged ICMP sockets are not allowed, sees it ping that
# namespace's loopback, then removes the package and looks for anything of
# it left under /usr.
set -u
cd "$(dirname "$0")/../.."
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing a package needs root"
    exit 77
fi
. tests/checks.sh
run_bin=$(mktemp)
deb=$(scripts/package.sh | tail -n 1)
check "package built: $deb" '[ -f "$deb" ]'
check "its dependencies were computed from the binary" \
    'dpkg-deb -f "$deb" Depends | grep -q "libqt6widgets6"'
# No error or warning. The one pedantic tag left is information: the
# compiler's .comment note in the binary, which CPack's strip keeps.
check "lintian finds no error or warning" 'lintian --fail-on error,warning "$deb"'
check "lintian --pedantic finds nothing but the .comment note" \
    '[ -z "$(lintian --pedantic -I "$deb" 2>/dev/null | grep -v "binary-has-unneeded-section .comment")" ]'
check "the binary is hardened: bindnow, relro, stack protector, fortified, PIE" \
    'dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/lagoscope >"$run_bin" &&
     readelf -d "$run_bin" | grep -q "BIND_NOW\|FLAGS.*NOW" && readelf -l "$run_bin" | grep -q GNU_RELRO &&
     readelf -h "$run_bin" | grep -q "DYN (Position-Independent" &&
     nm -D "$run_bin" | grep -q __stack_chk_fail && nm -D "$run_bin" | grep -q "_chk@"'
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null 2>&1
check "installed with apt" 'dpkg-query -W -f="\${Status}" lagoscope | grep -q "ok installed"'
check "the postinst granted cap_net_raw+p" \
    'getcap /usr/bin/lagoscope | grep -q "cap_net_raw[=+]p"'

# No one may open an unprivileged ICMP socket here: the capability must do it.
ns="lagoscope-package-$$"
lab_namespace "$ns" "1 0"
kernel_echo 1 "$ns"
run=$(mktemp -d)
chown nobody "$run"
before=$(echo_requests "$ns")
ip netns exec "$ns" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$run" \
    setpriv --reuid=nobody --regid=nogroup --clear-groups timeout 2 lagoscope 127.0.0.1 \
    2>"$run/stderr"
sent=$(($(echo_requests "$ns") - before))
check "the installed program pings as an ordinary user ($sent echo requests)" '[ "$sent" -ge 10 ]'
check "and says nothing on standard error" '[ ! -s "$run/stderr" ]'
rm -rf "$run"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq lagoscope >/dev/null 2>&1
left=$(find /usr -iname '*lagoscope*' 2>/dev/null)
check "removed, with nothing left under /usr${left:+: $left}" '[ -z "$left" ]'
summary
