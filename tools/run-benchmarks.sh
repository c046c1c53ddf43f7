#!/usr/bin/env bash
# Runs every benchmark program of both builds (named bench_*); each prints its own figures.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
status=0
while IFS= read -r b; do
  echo "== $(basename "$b")"
  "$b" || status=1
done < <(find "$root/build/native" -type f -name 'bench_*' -perm -u+x | sort)
while IFS= read -r b; do
  echo "== $(basename "$b")"
  "$root/build/windows/wine-run.sh" "$b" || status=1
done < <(find "$root/build/windows" -type f -name 'bench_*.exe' | sort)
exit $status
