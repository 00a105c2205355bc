# apt-get for the set-up scripts (sourced): waits for another package
# operation instead of failing. On a fresh machine unattended upgrades hold
# the locks for minutes at boot.

# locked_retry COMMAND...: runs COMMAND, its output on stdout; while it fails
# because another package operation holds a lock, runs it again, for up to
# ten minutes.
locked_retry() {
    local out status tries=0
    out=$(mktemp)
    while :; do
        status=0
        "$@" >"$out" 2>&1 || status=$?
        if [ "$status" -ne 0 ] && [ "$tries" -lt 120 ] && grep -qiE "could not get lock|lock.*held|locked by" "$out"; then
            tries=$((tries + 1))
            sleep "${JOR_APT_RETRY_SECONDS:-5}"
            continue
        fi
        cat "$out"
        rm -f "$out"
        return "$status"
    done
}

# apt_get ARGS...: apt-get ARGS. DPkg::Lock::Timeout covers the dpkg lock;
# the package lists' lock (apt-get update) has no such option.
apt_get() { DEBIAN_FRONTEND=noninteractive locked_retry apt-get -o DPkg::Lock::Timeout=600 "$@"; }

# dpkg_waiting ARGS...: dpkg ARGS (--add-architecture, say).
dpkg_waiting() { locked_retry dpkg "$@"; }

# installed PACKAGE: true when dpkg has it installed.
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
