#!/bin/sh
# netns_run.sh itself: what a command sees inside, and the skip when no namespace can be made.
set -u
here=$(cd "$(dirname "$0")" && pwd)
fail=0
check() {  # check NAME EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected [$2], got [$3]"; fail=1; fi
}

# Without unshare there is no namespace: skip (77) with the reason, never run the command.
out=$(env PATH=/nonexistent /bin/sh "$here/netns_run.sh" /bin/echo ran 2>&1)
check "skips without unshare" "77" "$?"
case "$out" in *"SKIP: unshare is not installed"*) check "says why" x x ;; *) check "says why" "SKIP: ..." "$out" ;; esac

inside=$(/bin/sh "$here/netns_run.sh" --addr 10.9.0.1/16 sh -c '
    echo "$(ip -o link show | awk -F": " "{print \$2}" | tr "\n" " ")"
    echo "|$(ip -o link show lo | grep -o "UP,LOWER_UP\|MULTICAST" | sort -u | tr "\n" " ")"
    echo "|$(ip route show 224.0.0.0/4)"
    echo "|$(ip route get 10.9.77.5 | head -1 | cut -d" " -f1)"')
rc=$?
[ $rc -eq 77 ] && { echo "SKIP: no namespace here"; exit 77; }
check "runs the command" 0 $rc
check "only loopback" "lo " "$(echo "$inside" | sed -n 1p)"
check "loopback up, multicast on" "|MULTICAST UP,LOWER_UP " "$(echo "$inside" | sed -n 2p)"
check "multicast routed on loopback" "|224.0.0.0/4 dev lo scope link " "$(echo "$inside" | sed -n 3p)"
check "--addr puts the subnet on loopback" "|local" "$(echo "$inside" | sed -n 4p)"

/bin/sh "$here/netns_run.sh" sh -c 'exit 7'
check "passes the exit code through" 7 $?
exit $fail
