#!/bin/sh
# The desktop program over a temporary copy of the example home: every example browser is active and
# Firefox is the base, so Continue runs a comparison at once. Nothing outside the copy changes.
set -eu
gui=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cli=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvit-gui.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -R "$here/home" "$work/home"
export HOME="$work/home"
export XDG_CONFIG_HOME="$work/config"
# A program of its own, even when Quorvit already runs in this session.
export QUORVIT_DBUS_NAME="com.tarnwell.quorvit.example$$"

"$cli" browsers | cut -f2 | while IFS= read -r path; do
    "$cli" browsers --activate "$path" >/dev/null
done
"$cli" browsers --default "$HOME/Library/Application Support/Firefox/Profiles/x7kq2m9d.default-release/bookmarks.html" >/dev/null

echo "Quorvit runs over the example home in $HOME (removed when it quits)."
"$gui"
