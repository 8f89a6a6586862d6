#!/bin/bash
# Installs what building and testing need on a Debian machine, if it is missing.
# With their recommended packages: Wine draws its dialogs with the fonts and X
# libraries it only recommends.
set -eu
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build wine64 wine
          xvfb googletest icoutils imagemagick x11-utils locales osslsigncode openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# A program under Wine takes its user-interface language from LANG only when
# the host has that locale; the dialog tests run in English and German.
for name in en_US de_DE; do
  locale -a 2>/dev/null | grep -qix "$name.utf-\?8" || $SUDO localedef -i "$name" -f UTF-8 "$name.UTF-8"
done
