#!/bin/bash
# A release is signed with tools/sign.sh: a throwaway code-signing certificate
# made here signs copies of both programs, whose signatures then verify
# against it; the password never appears on a command line.
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Tapstart test signing" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
  -keyout key.pem -out cert.pem 2>/dev/null
printf 'throwaway secret' > password
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signing.pfx -passout file:password
mkdir dist
cp "$BUILD_DIR/dist/setup.exe" "$BUILD_DIR/dist/unins000.exe" dist/

fail=0
DIST_DIR=dist SIGN_PASSWORD_FILE=password SIGN_CA_FILE=cert.pem "$SOURCE_DIR/tools/sign.sh" signing.pfx || fail=1
for name in setup.exe unins000.exe; do
  if osslsigncode verify -CAfile cert.pem -ignore-cdp -in "dist/$name" 2>&1 | grep -q "Signature verification: ok"; then
    echo "ok: $name is signed and verifies"
  else
    echo "FAIL: $name does not verify"; fail=1
  fi
  osslsigncode verify -in "dist/$name" 2>&1 | grep -q "Message digest algorithm.*SHA256" ||
    { echo "FAIL: $name is not signed with SHA-256"; fail=1; }
done
# The password from a variable, too; a wrong one signs nothing.
cp "$BUILD_DIR/dist/setup.exe" "$BUILD_DIR/dist/unins000.exe" dist/
DIST_DIR=dist SIGN_PASSWORD='throwaway secret' SIGN_CA_FILE=cert.pem "$SOURCE_DIR/tools/sign.sh" signing.pfx >/dev/null ||
  { echo "FAIL: the password from SIGN_PASSWORD"; fail=1; }
cp "$BUILD_DIR/dist/setup.exe" dist/
if DIST_DIR=dist SIGN_PASSWORD=wrong "$SOURCE_DIR/tools/sign.sh" signing.pfx >/dev/null 2>&1; then
  echo "FAIL: a wrong password signed"; fail=1
fi
cmp -s dist/setup.exe "$BUILD_DIR/dist/setup.exe" || { echo "FAIL: a failed signing changed the program"; fail=1; }
if "$SOURCE_DIR/tools/sign.sh" signing.pfx secret >/dev/null 2>&1; then
  echo "FAIL: a password on the command line was taken"; fail=1
fi
exit $fail
