#!/usr/bin/env bash
# Packs the sample book folder onto the player and checks the book that results.
# Called by ./build.sh run after the native and Windows builds (DISPLAY and WINEPREFIX set).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

pack=build/native/tools/pageturn-pack
book=build/sample-book.exe
# Until the player exists any PE image serves: the bundle does not care what it is appended to.
player=build/windows/app/pageturn.exe
[ -f "$player" ] || player=build/windows/tools/pageturn-pack.exe
for f in "$pack" "$player"; do
  [ -f "$f" ] || { echo "play-sample: $f is missing; build the native and windows presets" >&2; exit 1; }
done

"$pack" pack --player "$player" --from sample/book -o "$book"
"$pack" verify "$book"
"$pack" list "$book"
# The same check by the Windows build of the reader, under Wine.
if [ -x build/windows/wine-run.sh ] && [ -f build/windows/tools/pageturn-pack.exe ]; then
  build/windows/wine-run.sh build/windows/tools/pageturn-pack.exe verify "$book"
fi
