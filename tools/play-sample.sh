#!/usr/bin/env bash
# Makes the sample book (tools/make-sample.sh: drawn pages, `pageturn-pack make`), checks the book
# that results and plays it. Called by ./build.sh run after the native and Windows builds.
# On the Xvfb display that build.sh starts, the book is shown for a few seconds, a screenshot is
# written to build/Sample.png and the book is closed; with PAGETURN_SHOW=1 and a display of
# your own (DISPLAY), it stays open until you close it.
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
shown=0
for _ in $(seq 1 40); do
  if xdotool search --name "^${caption}\$" >/dev/null 2>&1; then shown=1; break; fi
  sleep 0.5
done
if [ "$shown" = 1 ]; then
  sleep 2
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
