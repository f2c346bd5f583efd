#!/bin/sh
# Runs quorvit-cli over a copy of the example home, so nothing outside a temporary folder changes.
set -eu
cli=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvit-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -R "$here/home" "$work/home"
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config"

echo "Example home: $HOME"
find "$HOME" -type f \( -name '*.html' -o -name '*.plist' -o -name 'Bookmarks' \) | sed "s|^$HOME/|  ~/|" | sort
find "$HOME" -type f -name 'bookmarks.html' | sort | while IFS= read -r file; do
    echo
    echo "== dump ~/${file#"$HOME"/}"
    "$cli" dump "$file" --decoded
    echo
    echo "== convert to Netscape and back (byte-identical on the second pass)"
    "$cli" convert "$file" "$work/first.html" --to netscape
    "$cli" convert "$work/first.html" "$work/second.html" --to netscape --raw
    if cmp -s "$work/first.html" "$work/second.html"; then
        echo "identical: $(wc -c <"$work/first.html") bytes"
    else
        echo "DIFFERENT"; exit 1
    fi
done
