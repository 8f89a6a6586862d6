#!/bin/bash
# Signs the release's two programs in place: setup.exe and unins000.exe in the
# distributable folder, with SHA-256 and, where SIGN_TIMESTAMP_URL names an
# RFC 3161 time-stamp server, a time stamp; then verifies each signature.
#
#   tools/sign.sh <certificate.pfx>
#
# The certificate's password comes from the file SIGN_PASSWORD_FILE or the
# variable SIGN_PASSWORD (never the command line, which other users can read);
# neither means a certificate without a password. DIST_DIR names another
# folder than build/dist; SIGN_CA_FILE the certificates to verify against
# (the system's by default).
set -eu
pfx=${1:?usage: tools/sign.sh <certificate.pfx>}
[ $# -eq 1 ] || { echo "sign.sh: the password goes in SIGN_PASSWORD_FILE or SIGN_PASSWORD" >&2; exit 2; }
[ -r "$pfx" ] || { echo "sign.sh: cannot read $pfx" >&2; exit 2; }
dist=${DIST_DIR:-"$(dirname "$0")/../build/dist"}
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 700 "$work"
password_file=${SIGN_PASSWORD_FILE:-}
if [ -z "$password_file" ]; then
  password_file="$work/password"
  (umask 077; printf '%s' "${SIGN_PASSWORD:-}" > "$password_file")
fi

for name in setup.exe unins000.exe; do
  program="$dist/$name"
  [ -f "$program" ] || { echo "sign.sh: $program is missing" >&2; exit 1; }
  timestamp=()
  [ -n "${SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$SIGN_TIMESTAMP_URL")
  osslsigncode sign -pkcs12 "$pfx" -readpass "$password_file" -h sha256 \
    -n "Tapstart installer" "${timestamp[@]}" -in "$program" -out "$work/$name" >/dev/null
  ca=()
  [ -n "${SIGN_CA_FILE:-}" ] && ca=(-CAfile "$SIGN_CA_FILE")
  osslsigncode verify "${ca[@]}" -ignore-cdp -in "$work/$name" > "$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt" >&2; echo "sign.sh: the signature of $name does not verify" >&2; exit 1; }
  mv "$work/$name" "$program"
  echo "signed and verified: $program"
done
