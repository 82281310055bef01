#!/usr/bin/env bash
# Signs the release in build/packages, after ./scripts/package.sh in the same
# tree: an Authenticode signature (osslsigncode, SHA-256) on sweepdirs.exe;
# then the MSI and the ZIP are made again around the signed executable, so
# that what they install is signed too; then the MSI is signed, its winget
# manifest given the signed MSI's SHA-256, and SHA256SUMS lists every file.
# Usage: scripts/sign.sh CERT.p12 PASSWORD-FILE [TIME-STAMP-URL]
# PASSWORD-FILE holds the PKCS#12 file's password; with a time-stamp server
# (RFC 3161) the signatures stay valid after the certificate expires.
# Removing a signature (osslsigncode remove-signature) gives back the
# unsigned file bit for bit: scripts/check_release.sh compares a release with
# a rebuild that way.
set -euo pipefail
[ $# -ge 2 ] && [ -f "$1" ] && [ -f "$2" ] || { echo "usage: $0 CERT.p12 PASSWORD-FILE [TIME-STAMP-URL]"; exit 2; }
p12=$(realpath "$1"); pass=$(realpath "$2"); server=${3:-}
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages osslsigncode
out=build/packages
msi=$(ls "$out"/sweepdirs-*-x64.msi)
version=${msi#"$out"/sweepdirs-}; version=${version%-x64.msi}
manifest=$out/winget/SweepdirsDevelopers.Sweepdirs.installer.yaml
url=$(sed -n 's|^  InstallerUrl: \(.*\)/[^/]*$|\1|p' "$manifest")
rm -f "$out/signature.p7"
if osslsigncode extract-signature -in "$out/sweepdirs.exe" -out "$out/signature.p7" >/dev/null 2>&1; then
  rm -f "$out/signature.p7"
  echo "$out is signed already: run ./scripts/package.sh again first"; exit 1
fi
sign() {
  osslsigncode sign -pkcs12 "$p12" -readpass "$pass" -h sha256 -n sweepdirs ${server:+-ts "$server"} \
    -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}
sign "$out/sweepdirs.exe"
cmake -DVERSION="$version" -DSOURCE_DIR="$PWD" -DBINARY_DIR="$out" -DOUT_DIR="$out" -DRELEASE_URL="$url" \
  -P cmake/windows_installer.cmake
sign "$msi"
sed -i "s/^  InstallerSha256: .*/  InstallerSha256: $(sha256sum "$msi" | cut -c1-64 | tr a-f A-F)/" "$manifest"
(cd "$out" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort | xargs sha256sum >SHA256SUMS)
cat "$out/SHA256SUMS"
