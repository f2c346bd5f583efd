# Two network namespaces, A and B, joined by a veth pair (qv0, 10.231.0.1 and 10.231.0.2), each with
# its own system bus and avahi-daemon limited to qv0. Nothing is published on the machine's own
# interfaces, and the host's daemon and bus are never touched. Sourced by the tests that need real
# mDNS; they call netns_up, then run what they need with in_ns / spawn_in_ns. Everything started
# stops with the test (trap) or after $LIFETIME seconds. Skips (exit 77) where namespaces are refused.
SKIP=77
# Log files shown when a test fails; a test adds its own.
FAIL_LOGS=()

skip() { echo "SKIP: $*"; exit $SKIP; }
fail() {
    echo "FAIL: $*"
    local f
    for f in "${FAIL_LOGS[@]}" "$WORK"/*/avahi.log; do
        [ -f "$f" ] && { echo "--- $f"; tail -n 40 "$f"; }
    done
    exit 1
}

[ "$(id -u)" = 0 ] || skip "network namespaces need root"
for c in ip unshare dbus-daemon avahi-daemon timeout mount; do
    command -v "$c" >/dev/null 2>&1 || skip "$c is not installed"
done
unshare -n true 2>/dev/null || skip "the sandbox refuses network namespaces (unshare -n failed)"
unshare -m true 2>/dev/null || skip "the sandbox refuses mount namespaces (unshare -m failed)"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quorvit-mdns.XXXXXX")
chmod 755 "$WORK"
NS_A=quorvit-mdns-a-$$
NS_B=quorvit-mdns-b-$$
PIDS=()
# Everything started here ends by itself at the latest after this many seconds.
LIFETIME=120

cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    ip netns del "$NS_A" 2>/dev/null
    ip netns del "$NS_B" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

ns_name() { case $1 in A) echo "$NS_A" ;; B) echo "$NS_B" ;; esac; }
bus_address() { echo "unix:path=$WORK/$1/system_bus_socket"; }

# in_ns A|B command…: runs a command in that namespace with its private system bus.
in_ns() {
    local side=$1
    shift
    ip netns exec "$(ns_name "$side")" env DBUS_SYSTEM_BUS_ADDRESS="$(bus_address "$side")" "$@"
}

# spawn_in_ns A|B command…: the same in the background, ended after $LIFETIME seconds at the latest
# and by the clean-up; its process id is left in SPAWNED. Standard input is passed on explicitly,
# or a background job would read /dev/null.
spawn_in_ns() {
    local side=$1
    shift
    (exec ip netns exec "$(ns_name "$side")" env DBUS_SYSTEM_BUS_ADDRESS="$(bus_address "$side")" \
        timeout $LIFETIME "$@") <&0 &
    SPAWNED=$!
    PIDS+=($SPAWNED)
}

start_avahi() {
    local side=$1
    # A private /run hides the host daemon's pid file and socket; an empty services folder keeps the
    # host's static services out.
    spawn_in_ns "$side" unshare -m --propagation private sh -c '
        mount -t tmpfs tmpfs /run && mkdir -p /run/avahi-daemon || exit 1
        if [ -d /etc/avahi/services ]; then mount --bind "$0/empty" /etc/avahi/services || exit 1; fi
        exec avahi-daemon -f "$0/avahi-daemon.conf" --no-chroot --no-drop-root --no-rlimits' \
        "$WORK/$side" >>"$WORK/$side/avahi.log" 2>&1
    eval "AVAHI_$side=$SPAWNED"
}

setup_side() {
    local side=$1 address=$2 host=$3
    mkdir -p "$WORK/$side/empty"
    cat >"$WORK/$side/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$WORK/$side/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
    cat >"$WORK/$side/avahi-daemon.conf" <<CONF
[server]
host-name=$host
use-ipv4=yes
use-ipv6=yes
allow-interfaces=qv0
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
publish-domain=no
[reflector]
enable-reflector=no
CONF
    ip -n "$(ns_name "$side")" link set lo up
    ip -n "$(ns_name "$side")" addr add "$address/24" dev qv0
    ip -n "$(ns_name "$side")" link set qv0 multicast on up
}

# The daemons start once both link-local IPv6 addresses are usable, so neither sees an interface
# come up halfway through the test.
wait_for_links() {
    local side
    for side in A B; do
        for _ in $(seq 50); do
            ip -n "$(ns_name "$side")" -6 addr show dev qv0 scope link | grep -q inet6 &&
                [ -z "$(ip -n "$(ns_name "$side")" -6 addr show dev qv0 tentative)" ] && break
            sleep 0.1
        done
    done
}

start_side() {
    local side=$1
    spawn_in_ns "$side" dbus-daemon --nofork --config-file="$WORK/$side/bus.conf" >"$WORK/$side/bus.log" 2>&1
    for _ in $(seq 50); do [ -S "$WORK/$side/system_bus_socket" ] && break; sleep 0.1; done
    [ -S "$WORK/$side/system_bus_socket" ] || fail "the private system bus of $side did not start"
    start_avahi "$side"
}

# netns_up: both namespaces with their link, buses and daemons.
netns_up() {
    ip netns add "$NS_A" 2>/dev/null || skip "cannot create a network namespace (ip netns add)"
    ip netns add "$NS_B" || fail "cannot create a second network namespace"
    ip -n "$NS_A" link add qv0 type veth peer name qv0 netns "$NS_B" || skip "cannot create a veth pair"
    setup_side A 10.231.0.1 quorvit-a
    setup_side B 10.231.0.2 quorvit-b
    wait_for_links
    start_side A
    start_side B
}
