#!/bin/sh
# manifest.sh DIR [sha256]: one line per file of the release directory DIR,
# "SHA-256 mtime size name" (mtime in seconds since 1970 with its fraction,
# name relative to DIR with / between folders), sorted by name. Without
# "sha256" the first field is "-": hashing costs more than a run of the tool.
cd "$1" || exit 1
find . -type f -printf '%P\n' | LC_ALL=C sort | while IFS= read -r name; do
  if [ "$2" = sha256 ]; then sum=$(sha256sum <"$name" | cut -c1-64); else sum=-; fi
  printf '%s %s %s %s\n' "$sum" "$(stat -c %.9Y -- "$name")" "$(stat -c %s -- "$name")" "$name"
done
