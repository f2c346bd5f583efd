#!/bin/sh
# Firefox judges what Quorvit writes into its places.sqlite: a fresh profile is made by a first headless
# run, quorvit-cli writes a tree into its database, Firefox starts again and, quitting, exports its
# bookmarks to bookmarks.html (browser.bookmarks.autoExportHTML). The export must hold the same names,
# addresses, keywords, folders, order and separators as the tree written.
set -eu
build=${1:-build}
cli=$(cd "$build/apps/quorvit-cli" && pwd)/quorvit-cli
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3

if ! command -v firefox-esr >/dev/null 2>&1; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq firefox-esr
fi
firefox-esr --version

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvit-firefox.XXXXXX")
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
profile="$work/profile"
mkdir -p "$profile"
port=$($py -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$profile/user.js" <<PREFS
user_pref("browser.bookmarks.autoExportHTML", true);
user_pref("marionette.port", $port);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.auto", false);
PREFS

# Quits Firefox the way a user does (Marionette's quit), so that its shutdown work runs.
cat > "$work/quit.py" <<'PY'
import json, socket, sys, time
deadline = time.time() + 90
while True:
    try:
        s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=60)
        break
    except OSError:
        if time.time() > deadline:
            sys.exit("Firefox's remote control did not answer")
        time.sleep(0.5)
buffer = b""
def receive():
    global buffer
    while b":" not in buffer:
        buffer += s.recv(65536)
    size, _, rest = buffer.partition(b":")
    while len(rest) < int(size):
        rest += s.recv(65536)
    buffer = rest[int(size):]
    return json.loads(rest[:int(size)])
def send(message):
    data = json.dumps(message).encode()
    s.sendall(str(len(data)).encode() + b":" + data)
receive()
send([0, 1, "WebDriver:NewSession", {"capabilities": {}}])
receive()
send([0, 2, "Marionette:Quit", {"flags": ["eAttemptQuit"]}])
receive()
PY

run_firefox() {
    firefox-esr --headless --no-remote --marionette --profile "$profile" about:blank >>"$work/firefox.log" 2>&1 &
    pid=$!
    $py "$work/quit.py" "$port"
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 60 ]; do sleep 1; i=$((i + 1)); done
    pid=""
    # The profile lock goes with the last process.
    i=0
    while [ -L "$profile/lock" ] && [ $i -lt 30 ]; do sleep 1; i=$((i + 1)); done
}

echo "first run: Firefox makes the profile"
run_firefox
[ -f "$profile/places.sqlite" ] || { echo "Firefox made no places.sqlite"; exit 1; }
rm -f "$profile/bookmarks.html"

echo "quorvit-cli writes the tree into places.sqlite"
"$cli" convert "$here/firefox-tree.html" "$profile/places.sqlite" --to places

echo "second run: Firefox reads it and exports bookmarks.html on quitting"
run_firefox
[ -f "$profile/bookmarks.html" ] || { echo "Firefox exported no bookmarks.html"; cat "$work/firefox.log"; exit 1; }

# Names, addresses, keywords, folders, order and separators, one line per item. Addresses are compared
# in their Unicode form (Firefox keeps hosts in ASCII and paths percent-encoded), and a keyword belongs to
# an address in Firefox, so every bookmark of that address shows it.
cat > "$work/outline.py" <<'PY'
import json, sys, urllib.parse
def address(text):
    parts = urllib.parse.urlsplit(text)
    host = parts.netloc
    try:
        host = ".".join(p.encode().decode("idna") if p.startswith("xn--") else p for p in host.split("."))
    except UnicodeError:
        pass
    return urllib.parse.unquote(urllib.parse.urlunsplit(parts._replace(netloc=host)))
def keywords(node, found):
    for child in node.get("children", []):
        if child["kind"] == "bookmark" and child.get("keyword"):
            found[address(child["address"])] = child["keyword"]
        keywords(child, found)
def walk(node, depth, found, out):
    for child in node.get("children", []):
        kind = child["kind"]
        # Firefox leaves an empty Other Bookmarks folder out of its export.
        if depth == 0 and kind == "folder" and child["name"] == "Other Bookmarks" and not child["children"]:
            continue
        line = "  " * depth + kind
        if kind != "divider":
            line += " " + child["name"]
        if kind == "bookmark":
            line += " <" + address(child["address"]) + ">"
            if address(child["address"]) in found:
                line += " keyword=" + found[address(child["address"])]
        out.append(line)
        walk(child, depth + 1, found, out)
tree = json.load(sys.stdin)
found, out = {}, []
keywords(tree, found)
walk(tree, 0, found, out)
print("\n".join(out))
PY
compare() {
    "$cli" dump "$1" | $py "$work/outline.py" > "$work/written.txt"
    "$cli" dump "$profile/bookmarks.html" | $py "$work/outline.py" > "$work/kept.txt"
    if diff -u "$work/written.txt" "$work/kept.txt"; then
        echo "Firefox kept every item as written ($(wc -l < "$work/written.txt") items)"
    else
        echo "Firefox's bookmarks differ from what was written"
        exit 1
    fi
}
compare "$here/firefox-tree.html"

echo "quorvit-cli writes a changed tree over Firefox's own database (one removed, one renamed, one moved)"
sed -e '/Debian again/d' -e 's|>KDE<|>KDE Community<|' -e '/>GNOME</d' \
    -e 's|^\(.*<DT><A HREF="https://www.mozilla.org/firefox/">Firefox</A>\)|&\n        <DT><A HREF="https://gnome.org/">GNOME</A>|' \
    "$here/firefox-tree.html" > "$work/changed.html"
# The GUID of the bookmark with that address and name.
guid() {
    $py - "$profile/places.sqlite" "$1" "$2" <<'PY'
import sqlite3, sys
query = "SELECT b.guid FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk WHERE p.url = ? AND b.title = ?"
print(sqlite3.connect(sys.argv[1]).execute(query, sys.argv[2:4]).fetchone()[0])
PY
}
before=$(guid https://gnome.org/ GNOME)
rm -f "$profile/bookmarks.html"
"$cli" convert "$work/changed.html" "$profile/places.sqlite" --to places
after=$(guid https://gnome.org/ GNOME)
[ "$before" = "$after" ] || { echo "the moved bookmark lost its GUID ($before, now $after)"; exit 1; }
echo "the moved bookmark kept its GUID $after"
run_firefox
[ -f "$profile/bookmarks.html" ] || { echo "Firefox exported no bookmarks.html"; cat "$work/firefox.log"; exit 1; }
compare "$work/changed.html"
