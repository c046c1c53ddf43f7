#!/usr/bin/env bash
# Fetches Ruffle, the open-source Flash player that `pageturn-pack web` puts beside a book's web
# page, from the npm registry at one pinned version, checks the archive against the hash the
# registry published for that version, and unpacks its files into build/ruffle/. Run by
# `./build.sh setup`; does nothing when that version is already there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
version="0.6.0"
integrity="sha512-P2X1zDENBoiLt2ZjPcsUzaDxoR7fVF2e1U/bi7hbIAQEjkykxljSoG8AgbywHvlVVzL9Y5tIZMRqDwIm31jgPA=="
target="$root/build/ruffle"

[ "$(cat "$target/.version" 2>/dev/null)" = "$version $integrity" ] && exit 0
echo "== fetching Ruffle $version from the npm registry"
mkdir -p "$root/build"
work="$(mktemp -d "$root/build/ruffle-fetch.XXXXXX")"
trap 'rm -rf "$work"' EXIT
archive="$(cd "$work" && npm pack --silent "@ruffle-rs/ruffle@$version")"
actual="sha512-$(python3 -c 'import base64, hashlib, sys
print(base64.b64encode(hashlib.sha512(open(sys.argv[1], "rb").read()).digest()).decode())' "$work/$archive")"
if [ "$actual" != "$integrity" ]; then
  echo "Ruffle $version: the archive's hash $actual is not the pinned one, $integrity, that the registry published" >&2
  exit 1
fi
tar -xzf "$work/$archive" -C "$work"
echo "$version $integrity" > "$work/package/.version"
rm -rf "$target"
mv "$work/package" "$target"
