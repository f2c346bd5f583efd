#!/bin/bash
# Link-check speed over loopback: 1,000 addresses, each answered after 50 ms, spread over 50 loopback
# hosts. quorvit-cli check-links one at a time, 8 and 32 at once, and Debian's linkchecker with the same
# number of threads, in one run against the same server. Prints a table of wall-clock seconds.
#
#   bench/linkcheck_bench.sh [path/to/quorvit-cli] [address count]
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
CLI=$(realpath "${1:-$HERE/../build/apps/quorvit-cli/quorvit-cli}")
COUNT=${2:-1000}
SERVER=$HERE/../tests/linkcheck/link_server.py

WORK=$(mktemp -d)
chmod 755 "$WORK" # linkchecker drops root to nobody and must still read the list
trap 'exec 3>&-; rm -rf "$WORK"' EXIT
export HOME=$WORK XDG_CONFIG_HOME=$WORK/.config
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

mkfifo "$WORK/stdin"
/usr/bin/python3 "$SERVER" --hosts "$(seq -s, -f '127.0.0.%g' 1 50)" --lifetime 3600 \
    <"$WORK/stdin" >"$WORK/ports" &
exec 3>"$WORK/stdin" # the server ends when this closes
for _ in $(seq 50); do [ -s "$WORK/ports" ] && break; sleep 0.1; done
read -r PORT _ _ <"$WORK/ports"

LIST=$WORK/links.html
{
    echo '<!DOCTYPE NETSCAPE-Bookmark-file-1>'
    echo '<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">'
    echo '<TITLE>Bookmarks</TITLE><H1>Bookmarks</H1><DL><p>'
    for i in $(seq "$COUNT"); do
        echo "<DT><A HREF=\"http://127.0.0.$((i % 50 + 1)):$PORT/slow/$i?ms=50\">link $i</A>"
    done
    echo '</DL><p>'
} >"$LIST"
chmod 644 "$LIST"

seconds() { # command... → wall-clock seconds; the command must succeed
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>"$WORK/err" || { echo "failed: $*" >&2; cat "$WORK/err" >&2; exit 1; }
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }'
}

printf '%-36s %10s %10s\n' "run ($COUNT addresses, 50 ms each)" seconds "addr/s"
row() { awk -v n="$1" -v s="$2" -v c="$COUNT" 'BEGIN { printf "%-36s %10.2f %10.1f\n", n, s, c / s }'; }
row "quorvit-cli check-links --jobs 1" "$(seconds "$CLI" check-links "$LIST" --jobs 1)"
for jobs in 8 32; do
    row "quorvit-cli check-links --jobs $jobs" "$(seconds "$CLI" check-links "$LIST" --jobs "$jobs")"
    command -v linkchecker >/dev/null || continue # Debian's linkchecker, for comparison
    row "linkchecker --threads $jobs" "$(seconds linkchecker --check-extern -r 1 --threads "$jobs" \
        --no-status -o none "file://$LIST")"
done
