#!/usr/bin/env bash
# Checks a signed release against this tree's own build of the same commit
# (run ./scripts/package.sh first). Every file must be the same bit for bit,
# signatures aside: sweepdirs.exe without its signature is the executable
# built here; the MSI without its signature, and the ZIP, are what this tree
# makes around the release's signed executable; the winget manifest names
# the release's MSI; everything else is compared as it is.
# Argument: the release folder, as scripts/sign.sh left it.
set -euo pipefail
release=$(realpath "$1")
cd "$(dirname "$0")/.."
out=build/packages
work=$(mktemp -d /tmp/sweepdirs-check-XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$release" && sha256sum --quiet -c SHA256SUMS) || { echo "the release does not match its SHA256SUMS"; exit 1; }
msi=$(cd "$release" && ls sweepdirs-*-x64.msi)
version=${msi#sweepdirs-}; version=${version%-x64.msi}
manifest=winget/SweepdirsDevelopers.Sweepdirs.installer.yaml
url=$(sed -n 's|^  InstallerUrl: \(.*\)/[^/]*$|\1|p' "$release/$manifest")
cmake -DVERSION="$version" -DSOURCE_DIR="$PWD" -DBINARY_DIR="$release" -DOUT_DIR="$work/around" -DRELEASE_URL="$url" \
  -P cmake/windows_installer.cmake
for f in sweepdirs.exe "$msi"; do
  osslsigncode remove-signature -in "$release/$f" -out "$work/$f" >/dev/null || { echo "$f: no signature to remove"; exit 1; }
done
sed "s/^  InstallerSha256: .*/  InstallerSha256: $(sha256sum "$release/$msi" | cut -c1-64 | tr a-f A-F)/" \
  "$work/around/$manifest" >"$work/installer.yaml"
status=0
listed() { (cd "$1" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort); }
for f in $(comm -13 <(listed "$out") <(listed "$release")); do echo "EXTRA      $f (not built here)"; status=1; done
same() {
  if cmp -s "$1" "$2"; then echo "same       $3"; else echo "DIFFERENT  $3"; status=1; fi
}
for f in $(listed "$out"); do
  case "$f" in
    sweepdirs.exe) same "$work/$f" "$out/$f" "$f (signature removed)" ;;
    "$msi") same "$work/$f" "$work/around/$f" "$f (signature removed; made around the signed executable)" ;;
    *.zip) same "$release/$f" "$work/around/$f" "$f (made around the signed executable)" ;;
    "$manifest") same "$release/$f" "$work/installer.yaml" "$f (with the signed MSI's SHA-256)" ;;
    *) same "$release/$f" "$out/$f" "$f" ;;
  esac
done
exit $status
