#!/usr/bin/env bash
# Packs the sample book onto the player (with the stand-in runtime as its flash.ocx), checks the
# book that results and plays it. Called by ./build.sh run after the native and Windows builds.
# On the Xvfb display that build.sh starts, the book is shown for a few seconds, a screenshot is
# written to build/sample-book.png and the book is closed; with PAGETURN_SHOW=1 and a display of
# your own (DISPLAY), it stays open until you close it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

pack=build/native/tools/pageturn-pack
player=build/windows/app/pageturn.exe
runtime=build/windows/standin/flash.ocx
book=build/sample-book.exe
for f in "$pack" "$player" "$runtime"; do
  [ -f "$f" ] || { echo "play-sample: $f is missing; build the native and windows presets" >&2; exit 1; }
done

stage=build/sample-book.d
rm -rf "$stage"
cp -r sample/book "$stage"
cp "$runtime" "$stage/flash.ocx"
"$pack" pack --player "$player" --from "$stage" -o "$book"
"$pack" verify "$book"
"$pack" list "$book"
# The same check by the Windows build of the reader, under Wine.
build/windows/wine-run.sh build/windows/tools/pageturn-pack.exe verify "$book"

echo "== playing $book"
build/windows/wine-run.sh "$book" &
player_pid=$!
if [ "${PAGETURN_SHOW:-0}" = 1 ]; then
  wait "$player_pid"
  exit 0
fi
caption="$(sed -n 's/.*<ExeCaption><!\[CDATA\[\(.*\)\]\]><\/ExeCaption>.*/\1/p' sample/book/ExeConfig.xml)"
shown=0
for _ in $(seq 1 40); do
  if xdotool search --name "^${caption}\$" >/dev/null 2>&1; then shown=1; break; fi
  sleep 0.5
done
if [ "$shown" = 1 ]; then
  sleep 2
  import -window root build/sample-book.png 2>/dev/null && echo "screenshot: build/sample-book.png"
fi
# Closing the window ends the book; taskkill without /f asks it to close.
build/windows/wine-run.sh taskkill /im sample-book.exe >/dev/null 2>&1 || true
for _ in $(seq 1 20); do kill -0 "$player_pid" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$player_pid" 2>/dev/null; then
  kill "$player_pid" 2>/dev/null || true
  echo "play-sample: the book did not close when asked" >&2
  exit 1
fi
[ "$shown" = 1 ] || { echo "play-sample: the book's window did not appear" >&2; exit 1; }
echo "== the sample book opened its window \"$caption\" and closed when asked"
