#!/usr/bin/env bash
# Draws the sample book's pages (sample/draw-pages.py) and makes them into build/Sample.exe with
# `pageturn-pack make`, the player and the stand-in runtime of the Windows build. Called by
# ./build.sh build and run after the native and Windows builds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

pack=build/native/tools/pageturn-pack
for f in "$pack" build/windows/app/pageturn.exe build/windows/standin/flash.ocx; do
  [ -f "$f" ] || { echo "make-sample: $f is missing; build the native and windows presets" >&2; exit 1; }
done
pages=build/sample-pages
rm -rf "$pages"
# Pages of two sizes (page 3 on its side) and a photo taken sideways, turned upright by its EXIF
# orientation: the stage takes the size most pages have, every page fitted and centred on it.
python3 sample/draw-pages.py "$pages" --pages 5 --jpeg-even --landscape 3 --photo
# The player and runtime are found where the Windows build puts them, beside the native tool's
# build tree.
"$pack" make "$pages" -o build/Sample.exe --caption "Pageturn Sample Book"
