#!/bin/sh
# Chromium as the judge of the Chromium writer: Quorvit writes a tree into a fresh profile's
# Default/Bookmarks, Chromium starts headless on that profile and quits, and what Chromium then keeps in
# its own Bookmarks file is compared with what was written (folders, names, addresses, order, ids), and
# the checksum Chromium computes for it with the one Quorvit wrote.
# One node is written without its GUID so that Chromium has something to fill in and saves the file.
# Usage: chromium.sh BUILD_FOLDER
set -eu
build=${1:-build}
cli=$(cd "$build/apps/quorvit-cli" && pwd)/quorvit-cli
python=/usr/bin/python3

if ! command -v chromium >/dev/null 2>&1; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq chromium
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvit-interop-chromium.XXXXXX")
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cat > "$work/tree.xbel" <<'XBEL'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE xbel>
<xbel>
 <folder toolbar="yes">
  <title>Toolbar</title>
  <bookmark href="https://www.debian.org/"><title>Debian</title></bookmark>
  <folder>
   <title>Dev &lt;tools&gt; &amp; docs</title>
   <bookmark href="https://doc.qt.io/qt-6/?q=a&amp;b=c"><title>Qt "6" docs</title></bookmark>
   <folder>
    <title>Empty</title>
   </folder>
   <bookmark href="https://en.cppreference.com/w/"><title>cppreference</title></bookmark>
  </folder>
 </folder>
 <bookmark href="https://www.wikipedia.org/"><title>Wikipedia — Die freie Enzyklopädie</title></bookmark>
 <folder>
  <title>日本語</title>
  <bookmark href="https://www3.nhk.or.jp/news/"><title>ニュース</title></bookmark>
 </folder>
 <bookmark href="file:///etc/hosts"><title>a local file</title></bookmark>
</xbel>
XBEL

profile="$work/profile"
mkdir -p "$profile/Default"
"$cli" convert "$work/tree.xbel" "$profile/Default/Bookmarks" --to chromium
cp "$profile/Default/Bookmarks" "$work/written.json"
# Drop one GUID (not part of the checksum): Chromium adds one and so writes the file again.
"$python" - "$profile/Default/Bookmarks" <<'PY'
import json, sys
path = sys.argv[1]
data = json.load(open(path, encoding="utf-8"))
del data["roots"]["bookmark_bar"]["children"][0]["guid"]
open(path, "w", encoding="utf-8").write(json.dumps(data, indent=3, ensure_ascii=False))
PY

chromium --headless=new --no-sandbox --no-first-run --disable-gpu --disable-sync \
    --user-data-dir="$profile" about:blank >"$work/chromium.log" 2>&1 &
pid=$!
sleep 15
kill -TERM "$pid" 2>/dev/null || true
for _ in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$pid" 2>/dev/null || break
    sleep 1
done
kill -KILL "$pid" 2>/dev/null || true
pid=""

"$python" - "$work/written.json" "$profile/Default/Bookmarks" <<'PY'
import json, sys
def walk(node, path, out):
    for child in node.get("children", []):
        entry = (path, child["type"], child["name"], child.get("url"), child["id"])
        out.append(entry)
        if child["type"] == "folder":
            walk(child, path + "/" + child["name"], out)
    return out
def items(path):
    data = json.load(open(path, encoding="utf-8"))
    return [walk(data["roots"][root], root, []) for root in ("bookmark_bar", "other", "synced")], data
written, ours = items(sys.argv[1])
kept, data = items(sys.argv[2])
if "guid" not in data["roots"]["bookmark_bar"]["children"][0]:
    sys.exit("Chromium did not write its Bookmarks file again")
count = sum(len(r) for r in written)
if data["checksum"] != ours["checksum"]:
    sys.exit("Chromium's checksum %s differs from the one written, %s" % (data["checksum"], ours["checksum"]))
if written != kept:
    for a, b in zip(sum(written, []), sum(kept, [])):
        if a != b:
            print("written:", a, "\nkept:   ", b)
    sys.exit("Chromium kept different bookmarks (%d written, %d kept)" % (count, sum(len(r) for r in kept)))
print("chromium: %d items kept as written (folders, names, addresses, order, ids, checksum)" % count)
PY
# And Quorvit reads what Chromium wrote.
"$cli" dump "$profile/Default/Bookmarks" >/dev/null
