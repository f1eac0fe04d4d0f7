#!/usr/bin/env bash
# Signs a copy of the helper with a throw-away self-signed code-signing certificate, then checks
# that the signature is seen, that the image kept its shape and imports, and that the signed copy
# still passes the Windows tests of the three exit statuses.
#   sign_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
work="$build_dir/signing-test"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

step() { echo "-- $*"; }

step "making a throw-away code-signing certificate"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=tavelune-helper test signing" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout key.pem -out certificate.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in certificate.pem -out certificate.p12 \
  -passout pass:throw-away

step "signing a copy of the helper"
cp "$build_dir/tavelune-helper.exe" unsigned.exe
cp unsigned.exe tavelune-helper.exe
TAVELUNE_SIGNING_PASSWORD=throw-away "$source_dir/scripts/sign-exe" tavelune-helper.exe certificate.p12

step "the signature is seen, and the unsigned copy has none"
osslsigncode verify -CAfile certificate.pem -in tavelune-helper.exe >verify.log 2>&1 || {
  cat verify.log
  exit 1
}
grep -q "Signature verification: ok" verify.log
if osslsigncode verify -CAfile certificate.pem -in unsigned.exe >/dev/null 2>&1; then
  echo "the unsigned copy verified" >&2
  exit 1
fi

step "the imports are the same as before signing"
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n '/The Import Tables/,/The Function Table/p'; }
[ "$(imports unsigned.exe | grep -c -E 'MessageBoxW|CreateToolhelp32Snapshot|fwprintf')" -eq 3 ]
diff <(imports unsigned.exe) <(imports tavelune-helper.exe)

step "the Windows tests pass against the signed copy"
export WINEPREFIX="$work/wine"
export TAVELUNE_HELPER="Z:${work//\//\\}\\tavelune-helper.exe"
unset DISPLAY
for test in image_test command_line_test scan_test; do
  "$source_dir/scripts/wine-run" "$build_dir/$test.exe" --gtest_brief=1
done
echo "signed copy: verified, same shape and imports, tests pass"
