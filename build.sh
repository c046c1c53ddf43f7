#!/usr/bin/env bash
# One entry point for everything: ./build.sh run | test | bench | setup | build
#   run    install what is missing, build, make the sample book (build/Sample.exe) and play it
#   test   install what is missing, build, and run every test (native, Windows under Wine, fuzz)
#   bench  build and run the benchmarks (they print figures; nothing is judged)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$root"

packages=(cmake ninja-build g++ clang python3 libclang-rt-14-dev googletest libgtest-dev libgmock-dev
          g++-mingw-w64-i686 libz-mingw-w64-dev zlib1g-dev ccache libjpeg62-turbo-dev libpng-dev
          libstb-dev
          wine wine32:i386 wine64 xvfb x11-utils xdotool imagemagick
          chromium chromium-driver python3-selenium)

setup() {
  install_packages
  # Ruffle, which `pageturn-pack web` puts beside a book's page: pinned and checked, into build/.
  tools/fetch-ruffle.sh
}

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo dpkg --add-architecture i386
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

configure_and_build() {
  # A compiler cache keyed on paths inside the tree, so every clone and worktree shares it.
  if command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  fi
  for preset in "$@"; do
    echo "== building $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
  done
}

# Xvfb for everything with a window, and one long-lived wineserver on the build's private prefix
# (created here once, so no test pays for it).
xvfb_pid=""
start_display() {
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] || break
  done
  # Wine sees 1024 x 768 on Xvfb whatever its size (its RandR output reads as disconnected), so
  # the X screen is made that size too: full screen then covers what a screenshot shows.
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  export WINEPREFIX="$root/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Create or update the prefix and let that settle before any test starts a program in it.
  [ -f "$WINEPREFIX/system.reg" ] || echo "== creating the Wine prefix"
  mkdir -p "$(dirname "$WINEPREFIX")"
  # The server first (persistent; one already running is kept), then the boot: its services stay
  # with that server, away from CTest's pipes. Started by the first test instead, they would
  # inherit its output pipe and keep CTest waiting for the end of it until the timeout.
  wineserver -p 2>/dev/null || true
  wineboot -u </dev/null >/dev/null 2>&1 || true
  trap stop_display EXIT
}
stop_display() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}

# Wine's 32-bit loader is itself a 32-bit Linux program: a kernel booted without ia32 emulation
# refuses it ("Exec format error"), and then no Windows program of ours can start at all.
can_run_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

run_tests() {
  local status=0
  for preset in native windows fuzz; do
    if [ "$preset" = windows ] && ! can_run_32bit; then
      echo "== NOT testing windows: this machine's kernel cannot run 32-bit programs (ia32 emulation"
      echo "   is off; /usr/lib/wine/wine gives 'Exec format error'), so Wine cannot start any of the"
      echo "   Windows tests. They were built, not run."
      continue
    fi
    echo "== testing $preset"
    ctest --preset "$preset" || status=1
  done
  return $status
}

cmd="${1:-help}"
case "$cmd" in
  setup) setup ;;
  build) setup; configure_and_build native windows fuzz; tools/make-sample.sh ;;
  test)
    setup
    configure_and_build native windows fuzz
    start_display
    run_tests
    ;;
  run)
    setup
    configure_and_build native windows
    if ! can_run_32bit; then
      tools/make-sample.sh
      echo "build/Sample.exe is made, but this machine's kernel cannot run 32-bit programs, so Wine" >&2
      echo "cannot open it here (ia32 emulation is off: 'Exec format error')." >&2
      exit 1
    fi
    start_display
    tools/play-sample.sh
    ;;
  bench)
    setup
    configure_and_build native windows
    start_display
    tools/run-benchmarks.sh
    ;;
  *) sed -n '2,6p' "$0"; exit 2 ;;
esac
