#!/bin/bash
# Virtual USB printers attached with tools/fixtures/usbprinter are what the real scan
# finds: two printers listed newest first with their ports and hardware IDs,
# none once they are detached.
set -eu
source "$(dirname "$0")/lib.sh"
e2e_begin
out="$E2E_DIR/usbprinter.log"
# Runs the fixture, shows its lines and keeps them in $out.
fixture() {
  e2e_usbprinter "$@" > "$E2E_DIR/last.log"
  tee -a "$out" < "$E2E_DIR/last.log"
}

fixture add --description "Vellumor VL-K20" --port 1 --serial VK20-1
check "the fixture attaches Vellumor VL-K20 on port 1" test "$E2E_RC" -eq 0
fixture add --description "Vellumor VL-K410A_" --port 12
check "the fixture attaches Vellumor VL-K410A_ on port 12" test "$E2E_RC" -eq 0
check "it says what it attached" grep -q '^added USB012 "Vellumor VL-K410A_"' "$out"
fixture add --description "Vellumor VL-K21" --port 12
check "a second device on the same port is refused" test "$E2E_RC" -eq 1

e2e_wine "$BUILD_DIR/integration_tests.exe" --gtest_filter=DiscoveryOnWine.TwoAttachedPrintersAreListedNewestFirst
check "the scan lists both, newest first, with ports and hardware IDs" test "$E2E_RC" -eq 0

fixture remove --port 1
check "the fixture detaches the printer on port 1" test "$E2E_RC" -eq 0
fixture list
cp "$E2E_DIR/last.log" "$E2E_DIR/list.log"
check "the printer on port 12 stays" grep -q '^present USB012 "Vellumor VL-K410A_"' "$E2E_DIR/list.log"
check "the printer on port 1 is gone" test "$(grep -c USB001 "$E2E_DIR/list.log")" -eq 0
fixture remove --port 1
check "detaching an absent printer is reported as a failure" test "$E2E_RC" -eq 1

fixture remove-all
check "the fixture detaches every printer" test "$E2E_RC" -eq 0
e2e_wine "$BUILD_DIR/integration_tests.exe" --gtest_filter=DiscoveryOnWine.NoPrinterAttached
check "the scan finds nothing once they are detached" test "$E2E_RC" -eq 0

# A detached port can be attached again.
fixture add --description "Vellumor VL-K20" --port 1
check "a detached port can be used again" test "$E2E_RC" -eq 0
e2e_end
