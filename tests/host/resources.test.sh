#!/bin/bash
# setup.exe carries its string tables and both dialogs in all eight languages,
# the two pictures, the program icon and the manifest, as wrestool lists them;
# and the committed pictures match their drawing script.
set -eu
list=$(wrestool -l "$BUILD_DIR/setup.exe")
fail=0
has() {  # has TYPE NAME LANGUAGE
  grep -q -- "^--type=$1 --name=$2 --language=$3 " <<<"$list" || {
    echo "missing: type $1, name $2, language $3"
    fail=1
  }
}
# Chinese (Simplified, Traditional), German, English, Spanish, French, Italian, Dutch.
languages=(4 1028 7 9 10 12 16 19)
for lang in "${languages[@]}"; do
  has 6 7 "$lang"    # strings 101..111
  has 6 8 "$lang"    # strings 112..119
  has 5 105 "$lang"  # uninstall dialog
  has 5 106 "$lang"  # installer dialog
done
has 2 112 0
has 2 113 0
has 14 102 0
has 3 1 0
has 24 1 1033
has 16 1 1033   # the version
# Exactly those: no language left over from an old file, no second manifest.
count=$(grep -c '^--type=' <<<"$list")
expected=$((4 * ${#languages[@]} + 6))
[ "$count" -eq "$expected" ] || { echo "$count resources, expected $expected:"; echo "$list"; fail=1; }
echo "$count resources listed"

# The committed pictures are what their script draws.
if command -v python3 >/dev/null; then
  drawn=$(mktemp -d)
  python3 "$SOURCE_DIR/tools/pictures/make_pictures.py" "$drawn" >/dev/null
  for f in gear.bmp connection.bmp program.ico; do
    cmp -s "$drawn/$f" "$SOURCE_DIR/resources/$f" || { echo "resources/$f differs from what tools/pictures draws"; fail=1; }
  done
  rm -rf "$drawn"
fi
exit $fail
