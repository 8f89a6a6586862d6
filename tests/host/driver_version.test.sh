#!/bin/bash
# The driver version the program is built with is the shipped INF's DriverVer:
# the build's own check passes for the two as they are, and stops a build
# whose INF says another version.
set -eu
check() { cmake -DVERSION_HEADER="$SOURCE_DIR/install/register_printer.h" -DSHIPPED_INF="$1" \
                -P "$SOURCE_DIR/cmake/driver_version.cmake" 2>&1; }
check "$SOURCE_DIR/tools/fixtures/testpackage/vlm6v6.inf" >/dev/null || { echo "the shipped pair is refused"; exit 1; }
other=$(mktemp)
trap 'rm -f "$other"' EXIT
sed 's/^DriverVer=.*/DriverVer=09\/01\/2025,2025.9.1.1/' "$SOURCE_DIR/tools/fixtures/testpackage/vlm6v6.inf" > "$other"
if out=$(check "$other"); then echo "an INF of another version is accepted"; exit 1; fi
grep -q "2025.9.1.1" <<<"$out" || { echo "unexpected refusal: $out"; exit 1; }
echo "driver version and DriverVer agree; another DriverVer stops the build"
