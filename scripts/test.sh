#!/usr/bin/env bash
# Builds everything and runs every test: unit, contract and end-to-end tests
# of the POSIX build, the same under AddressSanitizer and UndefinedBehaviorSanitizer,
# the end-to-end tests of the Windows build under Wine, and a bounded run of
# every fuzz target, and the benchmark's quick correctness run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages cmake ninja-build g++ python3 rapidjson-dev libgtest-dev googletest mingw-w64 wine wine64 util-linux e2fsprogs clang libclang-rt-14-dev \
  rpm wixl msitools python3-yaml systemd

./scripts/check_layers.sh

jobs=$(nproc)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
cmake --preset native -DSWEEPDIRS_TESTS=ON -DSWEEPDIRS_WINE_TESTS=ON >/dev/null
cmake --build --preset native -j "$jobs"
cmake --preset sanitize -DSWEEPDIRS_TESTS=ON -DSWEEPDIRS_WINE_TESTS=OFF >/dev/null
cmake --build --preset sanitize -j "$jobs"

status=0
ctest --preset native -j 1 || status=1
ctest --preset sanitize -j 1 || status=1
./scripts/fuzz.sh "${SWEEPDIRS_FUZZ_SECONDS:-60}" || status=1
# The benchmark's correctness checks on tiny trees (no time is judged).
./bench/run.sh --quick --out build/bench/results || status=1
exit $status
