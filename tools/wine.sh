#!/bin/bash
# Starts Wine's loader for a 64-bit program, whichever name Debian gave it.
for w in wine64 wine /usr/lib/wine/wine64; do
  if command -v "$w" >/dev/null 2>&1; then exec "$w" "$@"; fi
done
echo "wine.sh: no Wine found" >&2
exit 127
