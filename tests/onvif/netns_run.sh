#!/bin/sh
# Runs a command inside a network namespace of its own: loopback only, up, with multicast routed
# on it, so discovery traffic of the tests never reaches the machine's real interfaces.
#
#   netns_run.sh [--addr CIDR]... [--] COMMAND [ARG]...
#
# --addr puts a whole subnet on loopback (e.g. 192.168.1.1/24), so simulated cameras can sit at
# camera-like addresses. Exits 77 (the tests' skip code) with the reason when no namespace can be
# made; there is deliberately no fallback to the host's network.
set -eu

skip() {
    echo "SKIP: $*" >&2
    exit 77
}

if [ "${KP_TEST_NETNS:-}" != "inside" ]; then
    command -v unshare >/dev/null 2>&1 || skip "unshare is not installed (util-linux)"
    command -v ip >/dev/null 2>&1 || skip "ip is not installed (iproute2)"
    # Without root, or as a root that lacks the capability (a container), a user namespace
    # brings the right to make a network namespace.
    flags=""
    for try in -n -rn; do
        [ "$try" = -n ] && [ "$(id -u)" -ne 0 ] && continue
        if why=$(unshare $try true 2>&1); then
            flags=$try
            break
        fi
    done
    [ -n "$flags" ] || skip "cannot make a network namespace: ${why:-unshare failed}"
    KP_TEST_NETNS=inside exec unshare $flags sh "$0" "$@"
fi

addrs=""
while [ $# -gt 0 ]; do
    case "$1" in
    --addr) addrs="$addrs $2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: netns_run.sh [--addr CIDR]... [--] COMMAND [ARG]..." >&2; exit 2; }

# A fresh namespace has loopback only; anything else means we are not where we think.
others=$(ip -o link show | awk -F': ' '$2 != "lo" {print $2}')
if [ -n "$others" ]; then
    echo "netns_run.sh: interfaces other than lo in the namespace: $others" >&2
    exit 1
fi
ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo
for a in $addrs; do
    ip addr add "$a" dev lo
done
exec "$@"
