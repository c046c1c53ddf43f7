#!/usr/bin/env bash
# Makes the sample book (tools/make-sample.sh: drawn pages, `pageturn-pack make`), checks the book
# that results and plays it. Called by ./build.sh run after the native and Windows builds.
# On the Xvfb display that build.sh starts, the book is shown until its window has settled on its
# first page, a screenshot is written to build/Sample.png and the book is closed; with
# PAGETURN_SHOW=1 and a display of your own (DISPLAY), it stays open until you close it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

pack=build/native/tools/pageturn-pack
book=build/Sample.exe
caption="Pageturn Sample Book"
tools/make-sample.sh
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
# The screenshot is taken once the window has settled: its rectangle the same on three looks in
# a row (a maximised window is placed after it first shows) and the first page painted (the
# sample's paper colour a quarter of the height above the window's centre, where the first
# page shows paper whatever the window's shape).
paper="FAF7F0"
pixel() {  # the colour at $1,$2 of the screen, as RRGGBB
  import -window root -crop "1x1+$1+$2" +repage -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tr a-f A-F
}
shown=0
window=""
for _ in $(seq 1 40); do
  window="$(xdotool search --name "^${caption}\$" 2>/dev/null | head -1)" && [ -n "$window" ] && { shown=1; break; }
  sleep 0.5
done
settled=0
if [ "$shown" = 1 ]; then
  last="" same=0
  for _ in $(seq 1 100); do
    geometry="$(xdotool getwindowgeometry "$window" 2>/dev/null | tr -d '\n' || true)"
    if [ -n "$geometry" ] && [ "$geometry" = "$last" ]; then same=$((same + 1)); else same=0; fi
    last="$geometry"
    if [ "$same" -ge 2 ]; then
      eval "$(xdotool getwindowgeometry --shell "$window")"
      if [ "$(pixel $((X + WIDTH / 2)) $((Y + HEIGHT / 4)))" = "$paper" ]; then settled=1; break; fi
    fi
    sleep 0.2
  done
  [ "$settled" = 1 ] || echo "play-sample: the window did not settle on the first page; taking the screenshot as it is" >&2
  import -window root build/Sample.png 2>/dev/null && echo "screenshot: build/Sample.png"
fi
# Closing the window ends the book; taskkill without /f asks it to close.
build/windows/wine-run.sh taskkill /im Sample.exe >/dev/null 2>&1 || true
for _ in $(seq 1 20); do kill -0 "$player_pid" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$player_pid" 2>/dev/null; then
  kill "$player_pid" 2>/dev/null || true
  echo "play-sample: the book did not close when asked" >&2
  exit 1
fi
[ "$shown" = 1 ] || { echo "play-sample: the book's window did not appear" >&2; exit 1; }
echo "== the sample book opened its window \"$caption\" and closed when asked"
