#!/bin/bash
# Two homes, each in its own network namespace, share and sync over real mDNS: A shares a Netscape
# file with the household's sharing password and serves it; B, with the same password and no
# QUORVIT_PEERS, finds it through Avahi, syncs against it and writes its change back. A request
# without the password is refused.
#
#   mdns_sync_test.sh QUORVIT_CLI
set -u
CLI=${1:?usage: $0 QUORVIT_CLI}
HERE=$(cd "$(dirname "$0")" && pwd)
SAMPLE=$HERE/../../data/netscape/netscape4.html
WITH_KEYRING=$HERE/../../../.ci/with-keyring
# shellcheck source=mdns_netns_lib.sh
. "$HERE/mdns_netns_lib.sh"
for c in dbus-run-session gnome-keyring-daemon dbus-send curl; do
    command -v "$c" >/dev/null 2>&1 || skip "$c is not installed"
done

# home_env A|B: sets HOME_ENV to the environment of a private home per side (configuration, data and
# runtime folders in it; the keyring's throwaway folder in the side's work folder).
home_env() {
    local home=$WORK/$1/home
    HOME_ENV=(HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
        XDG_DATA_DIRS="$home/no-system-apps" XDG_RUNTIME_DIR="$home" TMPDIR="$WORK/$1")
}

# start_session A|B: a session bus with an unlocked keyring, inside the namespace (session buses
# may listen on abstract sockets, which belong to the network namespace); lives until the clean-up.
start_session() {
    local side=$1
    mkdir -p "$WORK/$side/home"
    chmod 700 "$WORK/$side/home"
    home_env "$side"
    # shellcheck disable=SC2016
    spawn_in_ns "$side" env "${HOME_ENV[@]}" dbus-run-session -- "$WITH_KEYRING" sh -c \
        'echo "$DBUS_SESSION_BUS_ADDRESS" >"$0.tmp" && mv "$0.tmp" "$0" && exec sleep 1000' \
        "$WORK/$side/session" </dev/null >"$WORK/$side/session.log" 2>&1
    for _ in $(seq 100); do [ -s "$WORK/$side/session" ] && break; sleep 0.1; done
    [ -s "$WORK/$side/session" ] || fail "the session bus of $side did not start"
    in_ns "$side" env DBUS_SESSION_BUS_ADDRESS="$(cat "$WORK/$side/session")" dbus-send --session \
        --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
        string:org.freedesktop.secrets 2>/dev/null | grep -q true ||
        skip "gnome-keyring does not answer as the Secret Service in the namespace"
}

# on A|B command…: runs a command as that side's user: its home, session bus and system bus, and
# discovery through Avahi only.
on() {
    local side=$1
    shift
    home_env "$side"
    in_ns "$side" env -u QUORVIT_DISCOVERY -u QUORVIT_PEERS "${HOME_ENV[@]}" \
        DBUS_SESSION_BUS_ADDRESS="$(cat "$WORK/$side/session")" "$@"
}

netns_up
start_session A
start_session B
A_FILE=$WORK/A/home/books/bookmarks.html
B_FILE=$WORK/B/home/books/bookmarks.html
mkdir -p "$(dirname "$A_FILE")" "$(dirname "$B_FILE")"
cp "$SAMPLE" "$A_FILE"
sed 's/>Netscape</>Netscape Den</' "$SAMPLE" >"$B_FILE"
grep -q '>Netscape Den<' "$B_FILE" || fail "the sample has no folder named Netscape"

# A shares every file under the name Study and serves on every address of its namespace.
on A "$CLI" browsers --add "$A_FILE" >/dev/null 2>"$WORK/A/add.err" || fail "A: browsers --add: $(cat "$WORK/A/add.err")"
printf 'household\n' | on A "$CLI" share --on --name Study --type all --password-stdin >/dev/null 2>"$WORK/A/share.err" ||
    fail "A: share --on: $(cat "$WORK/A/share.err")"
FAIL_LOGS+=("$WORK/A/serve.out" "$WORK/A/serve.err")
# The server's own process id is kept, to end it the way a user would.
home_env A
# shellcheck disable=SC2016
spawn_in_ns A env -u QUORVIT_DISCOVERY -u QUORVIT_PEERS "${HOME_ENV[@]}" \
    DBUS_SESSION_BUS_ADDRESS="$(cat "$WORK/A/session")" sh -c 'echo $$ >"$0" && exec "$1" share --serve' \
    "$WORK/A/serve.pid" "$CLI" </dev/null >"$WORK/A/serve.out" 2>"$WORK/A/serve.err"
SERVE=$SPAWNED
for _ in $(seq 300); do grep -q '^Sharing as Study on ' "$WORK/A/serve.out" && break; sleep 0.1; done
PORT=$(sed -n 's/^Sharing as Study on 0\.0\.0\.0:\([0-9]\+\)$/\1/p' "$WORK/A/serve.out")
[ -n "$PORT" ] || fail "A did not start serving"
! grep -q '^Note:' "$WORK/A/serve.out" || fail "A: $(grep '^Note:' "$WORK/A/serve.out")"
echo "ok: A serves on port $PORT"

# B, with the same password, finds A's file through Avahi alone.
printf 'household\n' | on B "$CLI" share --browse on --password-stdin >/dev/null 2>"$WORK/B/share.err" ||
    fail "B: share --browse on: $(cat "$WORK/B/share.err")"
FAIL_LOGS+=("$WORK/B/browsers.out" "$WORK/B/browsers.err")
for _ in $(seq 10); do
    on B "$CLI" browsers >"$WORK/B/browsers.out" 2>"$WORK/B/browsers.err"
    grep -q 'peer:Study/NETS1' "$WORK/B/browsers.out" && break
done
grep -q 'peer:Study/NETS1' "$WORK/B/browsers.out" || fail "B never listed peer:Study/NETS1"
echo "ok: B found A's file over mDNS"

# B syncs against A's file and writes the result back to A, which keeps a backup of its original.
on B "$CLI" sync --base "$B_FILE" --sources "$B_FILE" peer:Study/NETS1 --write --to peer:Study/NETS1 \
    >"$WORK/B/sync.out" 2>"$WORK/B/sync.err" || fail "B: sync: $(cat "$WORK/B/sync.err")"
grep -q '>Netscape Den<' "$A_FILE" || fail "A's file does not hold B's change"
BACKED_UP=no
while IFS= read -r -d '' backup; do
    cmp -s "$backup" "$SAMPLE" && BACKED_UP=yes
done < <(find "$WORK/A/home" -name '*.bkup' -type f -print0)
[ "$BACKED_UP" = yes ] || fail "A has no backup of its original file"
echo "ok: B's change written to A, A's original backed up"

# A request from B without the password sees nothing.
CODE=$(in_ns B curl -s --max-time 10 -o "$WORK/B/stranger.body" -w '%{http_code}' "http://10.231.0.1:$PORT/v1/offer")
[ "$CODE" = 401 ] || fail "a request without the password got $CODE"
! grep -q NETS1 "$WORK/B/stranger.body" || fail "a request without the password was shown the offer"
echo "ok: a request without the password is refused"

# A stops serving on SIGTERM, cleanly.
kill -TERM "$(cat "$WORK/A/serve.pid")"
wait "$SERVE"
STATUS=$?
[ "$STATUS" = 0 ] || fail "A's server ended with status $STATUS"
echo "ok: A stopped serving"
exit 0
