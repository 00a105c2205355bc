# apt-get for the set-up scripts (sourced): waits for another package
# operation instead of failing. On a fresh machine unattended upgrades hold
# the locks for minutes at boot.

# apt_get ARGS...: apt-get ARGS, its output on stdout. DPkg::Lock::Timeout
# covers the dpkg lock; the package lists' lock (apt-get update) has no such
# option, so a run that found it taken is repeated, for up to ten minutes.
apt_get() {
    local out status tries=0
    out=$(mktemp)
    while :; do
        status=0
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@" >"$out" 2>&1 || status=$?
        if [ "$status" -ne 0 ] && [ "$tries" -lt 120 ] && grep -q "Could not get lock" "$out"; then
            tries=$((tries + 1))
            sleep "${JOR_APT_RETRY_SECONDS:-5}"
            continue
        fi
        cat "$out"
        rm -f "$out"
        return "$status"
    done
}

# dpkg_waiting ARGS...: dpkg ARGS (--add-architecture, say), repeated while
# another package operation holds dpkg's lock.
dpkg_waiting() {
    local out status tries=0
    out=$(mktemp)
    while :; do
        status=0
        dpkg "$@" >"$out" 2>&1 || status=$?
        if [ "$status" -ne 0 ] && [ "$tries" -lt 120 ] && grep -qi "lock" "$out"; then
            tries=$((tries + 1))
            sleep "${JOR_APT_RETRY_SECONDS:-5}"
            continue
        fi
        cat "$out"
        rm -f "$out"
        return "$status"
    done
}

# installed PACKAGE: true when dpkg has it installed.
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
