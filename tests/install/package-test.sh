#!/usr/bin/env bash
# Needs root, and changes this machine. Builds the Debian source and binary
# packages twice (they must be the same to the bit), checks them with
# lintian, runs their autopkgtest here, then installs the package with apt,
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
changes=${deb%.deb}.changes
check "source and binary packages built: $deb" \
    '[ -f "$deb" ] && ls build-package/lagoscope_*.dsc build-package/lagoscope_*.orig.tar.xz build-package/lagoscope_*.debian.tar.xz'
check "its dependencies were computed from the binary" \
    'dpkg-deb -f "$deb" Depends | grep -q "libqt6widgets6"'
# No error or warning; the one tag left is information: there is no
# upstream release to watch, this is upstream.
lintian --pedantic -I "$changes" 2>/dev/null
check "lintian --pedantic on the source and binary finds nothing but debian-watch-file-is-missing" \
    '[ -z "$(lintian --pedantic -I "$changes" 2>/dev/null | grep -v "debian-watch-file-is-missing")" ]'
check "the binary is hardened: bindnow, relro, stack protector, fortified, PIE" \
    'dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/lagoscope >"$run_bin" &&
     readelf -d "$run_bin" | grep -q "BIND_NOW\|FLAGS.*NOW" && readelf -l "$run_bin" | grep -q GNU_RELRO &&
     readelf -h "$run_bin" | grep -q "DYN (Position-Independent" &&
     nm -D "$run_bin" | grep -q __stack_chk_fail && nm -D "$run_bin" | grep -q "_chk@"'

# Reproducible: built again in another folder, later, with another umask,
# locale and time zone, the packages are the same to the bit.
again=build-package-again
(umask 002 && LC_ALL=de_DE.UTF-8 TZ=Pacific/Auckland scripts/package.sh "$again" >/dev/null)
sha256sum build-package/*.deb build-package/*.dsc "$again"/*.deb "$again"/*.dsc
same() { cmp -s "build-package/$1" "$again/$1" || { diffoscope "build-package/$1" "$again/$1" | head -50; false; }; }
check "built twice, the .deb is the same to the bit" 'same "$(basename "$deb")"'
check "and so are the source package's files" \
    'same lagoscope_1.01-1.dsc && same lagoscope_1.01.orig.tar.xz && same lagoscope_1.01-1.debian.tar.xz'
rm -rf "$again"

# The package's own test, on this machine as its testbed.
check "autopkgtest passes (the installed program pings as an ordinary user)" \
    'autopkgtest "$deb" build-package/lagoscope-1.01/ -- null >build-package/autopkgtest.log 2>&1 ||
     { tail -20 build-package/autopkgtest.log; false; }'
grep -E "echo requests|PASS|FAIL" build-package/autopkgtest.log

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
