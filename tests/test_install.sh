#!/usr/bin/env bash
# Installs the build into a temporary prefix (with a space and an accent in
# it, as a user's may have) and checks the installed tree: exactly the files
# a package ships, a desktop entry that names the installed command, valid
# metadata, a MIME package the database takes and man pages that render.
#   test_install.sh <build folder>
set -euo pipefail
build=$1
tmp=$(mktemp -d /tmp/tunabel-install.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/pré fixe"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log"; fail "install"; }

expected="bin/tunabel
bin/tunabel-player
share/applications/tunabel.desktop
share/icons/hicolor/scalable/apps/tunabel.svg
share/man/man1/tunabel-player.1
share/man/man1/tunabel.1
share/metainfo/org.example.tunabel.metainfo.xml
share/mime/packages/tunabel.xml"
got=$(cd "$prefix" && find . -type f -o -type l | sed 's#^\./##' | LC_ALL=C sort)
[ "$got" = "$expected" ] || fail "installed tree differs:"$'\n'"$got"
for b in tunabel tunabel-player; do
  [ -x "$prefix/bin/$b" ] || fail "$b is not executable"
done

entry="$prefix/share/applications/tunabel.desktop"
desktop-file-validate "$entry" || fail "desktop entry does not validate"
grep -qxF "Exec=\"$prefix/bin/tunabel\" %F" "$entry" || fail "Exec does not name the installed command: $(grep ^Exec "$entry")"
grep -qxF "TryExec=$prefix/bin/tunabel" "$entry" || fail "TryExec: $(grep ^TryExec "$entry")"
grep -q '^MimeType=.*application/x-tunabel-playlist;' "$entry" || fail "play-lists missing from MimeType"

meta="$prefix/share/metainfo/org.example.tunabel.metainfo.xml"
appstreamcli validate --no-net "$meta" >"$tmp/validate.log" 2>&1 || { cat "$tmp/validate.log"; fail "metainfo does not validate"; }
grep -qF '<launchable type="desktop-id">tunabel.desktop</launchable>' "$meta" || fail "metainfo does not launch the installed entry"
for b in $(sed -n 's#.*<binary>\(.*\)</binary>.*#\1#p' "$meta"); do
  [ -x "$prefix/bin/$b" ] || fail "metainfo provides $b, which is not installed"
done

# The package's MIME file is the one the player writes for the user.
cp -r "$prefix/share/mime" "$tmp/mime"
update-mime-database "$tmp/mime" >/dev/null 2>&1 || fail "update-mime-database refused the package"
grep -qxF 'application/x-tunabel-playlist:*.tnl' "$tmp/mime/globs" || fail ".tnl not in the MIME globs"

for page in tunabel tunabel-player; do
  warnings=$(cd "$prefix/share/man" && LC_ALL=C.UTF-8 MAN_KEEP_STDERR=1 man --warnings -E UTF-8 -l "man1/$page.1" 2>&1 >"$tmp/$page.txt") || fail "man $page"
  [ -z "$warnings" ] || fail "man $page warns: $warnings"
  grep -q 'tunabel-player' "$tmp/$page.txt" || fail "man $page is empty"
done
echo "installed tree checked under $prefix"
