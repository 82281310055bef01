#!/usr/bin/env bash
# Builds the packages into build/packages: a ZIP and an MSI of the Windows
# executable with the MSI's winget manifest, and a .deb, an .rpm and a
# .tar.gz of the POSIX port.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages cmake ninja-build g++ rapidjson-dev libsystemd-dev mingw-w64 dpkg-dev rpm wixl msitools
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
(cd build/windows && cpack -G ZIP >/dev/null)
cmake --build --preset windows --target msi >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSWEEPDIRS_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
(cd build/release && cpack -G "DEB;RPM;TGZ" >/dev/null)
ls -1 build/packages/*.zip build/packages/*.msi build/packages/*.deb build/packages/*.rpm build/packages/*.tar.gz \
  build/packages/winget/*.yaml
