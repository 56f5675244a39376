# Sourced by the shell tests. `check NAME CONDITION` evaluates CONDITION,
# says ok or FAILED (with what it printed), and tallies it; `summary` prints
# the closing "N passed, M failed" line and fails if any check did.
checks=0
fails=0
check() {
    local out
    checks=$((checks + 1))
    if out=$(eval "$2" 2>&1); then
        echo "ok: $1"
    else
        echo "FAILED: $1"
        [ -n "$out" ] && printf '%s\n' "$out"
        fails=$((fails + 1))
    fi
}
summary() {
    echo "$((checks - fails)) passed, $fails failed"
    [ "$fails" -eq 0 ]
}

. "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/lab.sh"
