#!/bin/sh
# manifest.sh DIR: one line per file of the release directory DIR,
# "SHA-256 mtime name" (mtime in seconds since 1970 with its fraction, name
# relative to DIR with / between folders), sorted by name.
cd "$1" || exit 1
find . -type f -printf '%P\n' | LC_ALL=C sort | while IFS= read -r name; do
  printf '%s %s %s\n' "$(sha256sum <"$name" | cut -c1-64)" "$(stat -c %.9Y -- "$name")" "$name"
done
