#!/bin/sh
# Makes the example home's Firefox profile at its Linux place: an empty places database of a fresh
# profile (the tables of tests/data/places/schema.sql, small pages to keep the file small) that
# quorvit-cli fills with a few bookmarks. Run it from the project's root with the command-line program:
#   sh examples/make-firefox-profile.sh build/apps/quorvit-cli/quorvit-cli
set -eu
cli=$1
here=$(cd "$(dirname "$0")" && pwd)
firefox="$here/home/.mozilla/firefox"
profile="$firefox/q4v8r2tk.default-esr"
mkdir -p "$profile"
rm -f "$profile/places.sqlite"
/usr/bin/python3 - "$here/../tests/data/places/schema.sql" "$profile/places.sqlite" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[2])
db.execute("PRAGMA page_size = 1024")
db.executescript(open(sys.argv[1], encoding="utf-8").read())
db.commit()
db.execute("VACUUM")
db.close()
PY
cat > "$firefox/profiles.ini" <<'INI'
[Profile0]
Name=default-esr
IsRelative=1
Path=q4v8r2tk.default-esr
Default=1

[General]
StartWithLastProfile=1
Version=2
INI
tree=$(mktemp "${TMPDIR:-/tmp}/firefox-example.XXXXXX")
trap 'rm -f "$tree"' EXIT
cat > "$tree" <<'HTML'
<!DOCTYPE NETSCAPE-Bookmark-file-1>
<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
<TITLE>Bookmarks</TITLE>
<H1>Bookmarks Menu</H1>
<DL><p>
    <DT><A HREF="https://www.debian.org/" ADD_DATE="1701000020" SHORTCUTURL="deb">Debian</A>
    <DT><A HREF="https://wiki.archlinux.org/" ADD_DATE="1701000030">ArchWiki</A>
    <HR>
    <DT><H3 ADD_DATE="1701000031">Desktop</H3>
    <DL><p>
        <DT><A HREF="https://kde.org/" ADD_DATE="1701000032">KDE</A>
        <DT><A HREF="https://www.gnome.org/" ADD_DATE="1701000033">GNOME</A>
    </DL><p>
    <DT><H3 PERSONAL_TOOLBAR_FOLDER="true">Bookmarks Toolbar</H3>
    <DL><p>
        <DT><A HREF="https://lwn.net/" ADD_DATE="1701000012">LWN.net</A>
        <DT><A HREF="https://www.mozilla.org/firefox/" ADD_DATE="1701000001">Firefox</A>
    </DL><p>
    <DT><H3 UNFILED_BOOKMARKS_FOLDER="true">Other Bookmarks</H3>
    <DL><p>
        <DT><A HREF="https://flathub.org/" ADD_DATE="1701000040">Flathub</A>
    </DL><p>
</DL><p>
HTML
"$cli" convert "$tree" "$profile/places.sqlite" --to places
/usr/bin/python3 -c "import sqlite3, sys; db = sqlite3.connect(sys.argv[1]); db.execute('VACUUM'); db.close()" \
    "$profile/places.sqlite"
ls -l "$profile/places.sqlite"
