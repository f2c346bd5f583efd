#!/bin/bash
# Peers find each other over real mDNS: one namespace announces with AvahiPeerDiscovery (through
# the peer tool), the other browses.
#
#   mdns_discovery_test.sh PEER_TOOL
set -u
TOOL=${1:?usage: $0 PEER_TOOL}
. "$(dirname "$0")/mdns_netns_lib.sh"

# start_tool A|B: the peer tool in that namespace, fed commands through tell.
start_tool() {
    local side=$1
    mkfifo "$WORK/$side/tool.in"
    # Holds the command pipe open for the tool's whole life (read-write, so opening does not block).
    eval "exec {TOOL_$side}<>\"$WORK/$side/tool.in\""
    spawn_in_ns "$side" "$TOOL" <"$WORK/$side/tool.in" >"$WORK/$side/tool.out" 2>"$WORK/$side/tool.err"
    FAIL_LOGS+=("$WORK/$side/tool.out" "$WORK/$side/tool.err")
}

tell() { local fd="TOOL_$1"; echo "$2" >&"${!fd}"; }

# wait_for A|B PATTERN [SECONDS]: waits for a line of the tool's output matching an extended regex.
wait_for() {
    local side=$1 pattern=$2 limit=${3:-20} i
    for ((i = 0; i < limit * 10; i++)); do
        grep -Eq -- "$pattern" "$WORK/$side/tool.out" && return 0
        sleep 0.1
    done
    fail "$side never reported /$pattern/"
}

count() { grep -Ec -- "$2" "$WORK/$1/tool.out"; }

netns_up
start_tool A
start_tool B
T=$'\t'

# B browses, A announces: B sees A's address, port and offer.
tell B browse
tell A "publish qv-peer 4711 v=1 files=a,b"
wait_for B "^resolved${T}qv-peer${T}10\.231\.0\.1${T}4711${T}files=a,b;v=1\$"
# Seen over IPv4 and IPv6, it is handed out with its IPv4 address from the start.
grep -m1 "^resolved${T}qv-peer${T}" "$WORK/B/tool.out" | grep -q "${T}10\.231\.0\.1${T}" ||
    fail "B handed out another address of A before its IPv4 one"
echo "ok: peer found"

# A changes its offer: the TXT record is updated in place.
tell A "publish qv-peer 4711 v=2 files=a,b,c"
wait_for B "^resolved${T}qv-peer${T}10\.231\.0\.1${T}4711${T}files=a,b,c;v=2\$"
echo "ok: offer change seen"

# A moves its server to another port: the service is announced again with it.
tell A "publish qv-peer 4713 v=2 files=a,b,c"
wait_for B "^resolved${T}qv-peer${T}10\.231\.0\.1${T}4713${T}files=a,b,c;v=2\$"
echo "ok: port change seen"

[ "$(count B "^removed${T}qv-peer\$")" = 0 ] || fail "B saw A leave while A only changed its offer"

# B wants the same name. mDNS settles it by renaming one of the two: normally B, whose probe A
# answers; but A, when it was still announcing its new port or a packet came late. Either way each
# side then has its own name, sees the other under it, and never reports itself.
tell A browse
# A has just announced its new port, and mDNS answers a record at most once a second: a probe for
# the same name arriving now may go unanswered, and then A, not B, would be the one renamed.
sleep 3
tell B "publish qv-peer 4712 v=9"
for _ in $(seq 100); do
    grep -q 'is taken on the local network' "$WORK/A/tool.err" "$WORK/B/tool.err" && break
    sleep 0.1
done
A_NAME=qv-peer
B_NAME=qv-peer
if grep -q 'is taken on the local network' "$WORK/B/tool.err"; then
    tell B name
    wait_for B "^name${T}qv-peer .+"
    B_NAME=$(grep -m1 "^name${T}" "$WORK/B/tool.out" | cut -f2)
elif grep -q 'is taken on the local network' "$WORK/A/tool.err"; then
    tell A name
    wait_for A "^name${T}qv-peer .+"
    A_NAME=$(grep -m1 "^name${T}" "$WORK/A/tool.out" | cut -f2)
    wait_for B "^resolved${T}${A_NAME}${T}10\.231\.0\.1${T}4713${T}files=a,b,c;v=2\$"
else
    fail "neither side settled the name collision"
fi
wait_for A "^resolved${T}${B_NAME}${T}10\.231\.0\.2${T}4712${T}v=9\$"
[ "$(count A "^resolved${T}${A_NAME}${T}")" = 0 ] || fail "A reported its own service"
REMOVED_B=$(count A "^removed${T}${B_NAME}\$")
tell B unpublish
for _ in $(seq 100); do [ "$(count A "^removed${T}${B_NAME}\$")" -gt "$REMOVED_B" ] && break; sleep 0.1; done
[ "$(count A "^removed${T}${B_NAME}\$")" -gt "$REMOVED_B" ] || fail "A did not see B leave"
[ "$(count B "^resolved${T}[^${T}]*${T}10\.231\.0\.2${T}")" = 0 ] || fail "B reported its own service"
echo "ok: name collision settled ($([ "$A_NAME" = qv-peer ] && echo B || echo A) renamed)"

# A's daemon restarts: B sees A go and come back; A publishes again by itself.
A_SEEN="qv-peer( #[0-9]+)?"
GONE="^removed${T}${A_SEEN}\$"
AGAIN="^resolved${T}${A_SEEN}${T}10\.231\.0\.1${T}4713${T}files=a,b,c;v=2\$"
GONE_BEFORE=$(count B "$GONE")
AGAIN_BEFORE=$(count B "$AGAIN")
kill "$AVAHI_A"
wait "$AVAHI_A" 2>/dev/null
wait_for A "^unavailable${T}The Avahi daemon stopped\.\$"
for _ in $(seq 200); do [ "$(count B "$GONE")" -gt "$GONE_BEFORE" ] && break; sleep 0.1; done
[ "$(count B "$GONE")" -gt "$GONE_BEFORE" ] || fail "B did not see A go when its daemon stopped"
start_avahi A
for _ in $(seq 200); do [ "$(count B "$AGAIN")" -gt "$AGAIN_BEFORE" ] && break; sleep 0.1; done
[ "$(count B "$AGAIN")" -gt "$AGAIN_BEFORE" ] || fail "A was not announced again after its daemon restarted"
echo "ok: daemon restart survived"

# A stops sharing: B sees it leave, once, although A was seen over IPv4 and IPv6.
BEFORE=$(count B "$GONE")
tell A quit
for _ in $(seq 100); do [ "$(count B "$GONE")" -gt "$BEFORE" ] && break; sleep 0.1; done
sleep 2
[ "$(count B "$GONE")" = $((BEFORE + 1)) ] || fail "B did not see A leave exactly once"
echo "ok: peer leaving seen"
exit 0
