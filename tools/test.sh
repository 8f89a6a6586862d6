#!/bin/bash
# Set-up, build and every test: unit tests against the fake machine under Wine,
# checks of the built program, and whole-program scenarios under Wine and Xvfb.
set -eu
cd "$(dirname "$0")/.."
tools/setup-host.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default "$@"
