#!/bin/sh
# A full synchronisation of the example home: every example browser is read, compared against the
# Firefox bookmarks, and written back with the merged bookmarks, each file backed up first.
# It works on a temporary copy, so nothing outside that copy changes.
set -eu
cli=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvit-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -R "$here/home" "$work/home"
export HOME="$work/home"
export XDG_CONFIG_HOME="$work/config"

section() { printf '\n== %s\n' "$1"; }

section "Browsers found in the example home ($HOME)"
"$cli" browsers | cut -f1,2 | sed "s|$HOME|~|"

base="$HOME/Library/Application Support/Firefox/Profiles/x7kq2m9d.default-release/bookmarks.html"
"$cli" browsers | cut -f2 | while IFS= read -r path; do
    "$cli" browsers --activate "$path" >/dev/null
done
"$cli" browsers --default "$base" >/dev/null

section "Synchronising every browser against Firefox"
"$cli" sync --write --missing-into "From other browsers" 2>/dev/null | sed "s|$HOME|~|g"

section "Backups made before the files were replaced"
"$cli" backups | sed "s|$HOME|~|g"

section "Every browser now holds the same bookmarks"
"$cli" browsers | cut -f1,2 | while IFS="$(printf '\t')" read -r name path; do
    count=$("$cli" dump "$path" 2>/dev/null | grep -c '"kind": "bookmark"' || true)
    printf '  %-20s %4s bookmarks\n' "$name" "$count"
done
