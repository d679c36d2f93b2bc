#!/usr/bin/env bash
# make install and make uninstall into a private prefix: the executables, the man pages, the
# manual, a desktop entry that desktop-file-validate accepts and the icons in the hicolor
# theme; the uninstall leaves nothing of ours behind.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
manifest="$build/install_manifest.txt"
saved=""
# The user's own manifest (of a real `make install`) is put back afterwards.
if [ -e "$manifest" ]; then
  saved=$(mktemp)
  cp "$manifest" "$saved"
fi
cleanup() {
  rm -rf "$prefix"
  if [ -n "$saved" ]; then mv "$saved" "$manifest"; else rm -f "$manifest"; fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > /dev/null

expected=(
  bin/korvanthile bin/korvanthile-cli
  share/man/man1/korvanthile.1 share/man/man1/korvanthile-cli.1
  share/doc/korvanthile/Korv.html
  share/applications/korvanthile.desktop
  share/icons/hicolor/scalable/apps/korvanthile.svg
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/korvanthile.png")
done
for f in "${expected[@]}"; do
  [ -s "$prefix/$f" ] || fail "$f not installed"
done
[ -x "$prefix/bin/korvanthile" ] || fail "korvanthile not executable"

desktop="$prefix/share/applications/korvanthile.desktop"
desktop-file-validate "$desktop" || fail "desktop entry invalid"
grep -qx 'Exec=korvanthile %F' "$desktop" || fail "Exec line"
grep -q '^MimeType=.*audio/x-wav;' "$desktop" || fail "wave files not offered"
grep -qx 'Icon=korvanthile' "$desktop" || fail "Icon line"

# Each PNG is the size its folder says (bytes 16..23 of a PNG: width and height).
for size in 16 48 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/korvanthile.png"
  dims=$(od -An -tu1 -j16 -N8 "$png" | tr -s ' ')
  want=$(printf ' 0 0 %d %d 0 0 %d %d' $((size / 256)) $((size % 256)) $((size / 256)) $((size % 256)))
  [ "$dims" = "$want" ] || fail "${size}x${size} icon is $dims"
done

# The man page is a man page.
if command -v man > /dev/null; then
  MANWIDTH=80 man -l "$prefix/share/man/man1/korvanthile.1" 2>/dev/null | grep -q 'korv.ini' ||
    fail "man page does not name the settings file"
fi

# The help of the installed program finds the installed manual: no copy beside it.
[ ! -e "$prefix/bin/Korv.html" ] || fail "manual beside the installed executable"

cmake --build "$build" --target uninstall > /dev/null
left=$(find "$prefix" -type f)
[ -z "$left" ] || fail "left after uninstall: $left"
[ ! -d "$prefix/share/doc/korvanthile" ] || fail "manual folder left"
echo "install and uninstall: ok"
