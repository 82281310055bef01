#!/usr/bin/env bash
# Builds everything and runs every test: the unit and end-to-end tests of the
# POSIX build, the same under AddressSanitizer and UndefinedBehaviorSanitizer,
# the threaded walk under ThreadSanitizer,
# the end-to-end tests of the Windows build under Wine, the packages (built
# twice, the same bytes each time; signed and checked against a rebuild), a
# bounded run of every fuzz target, and the benchmark's quick correctness run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages cmake ninja-build g++ python3 rapidjson-dev libgtest-dev googletest mingw-w64 wine wine64 util-linux e2fsprogs clang libclang-rt-14-dev \
  rpm wixl msitools python3-yaml systemd openssh-server sshfs libsystemd-dev faketime zip openssl osslsigncode diffoscope-minimal time

./scripts/check_layers.sh
# The tests stay within 0.40 of the code, in lines.
test_lines=$(git ls-files tests | xargs cat | wc -l)
code_lines=$(git ls-files src cmake | xargs cat | wc -l)
awk -v t="$test_lines" -v c="$code_lines" 'BEGIN { printf "tests %d lines, code %d: %.2f\n", t, c, t / c; exit !(t <= 0.40 * c) }' \
  || { echo "the tests exceed 0.40 of the code"; exit 1; }

jobs=$(nproc)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
cmake --preset native -DSWEEPDIRS_TESTS=ON -DSWEEPDIRS_WINE_TESTS=ON >/dev/null
cmake --build --preset native -j "$jobs"
cmake --preset sanitize -DSWEEPDIRS_TESTS=ON -DSWEEPDIRS_WINE_TESTS=OFF >/dev/null
cmake --build --preset sanitize -j "$jobs"
cmake --preset tsan -DSWEEPDIRS_TESTS=ON -DSWEEPDIRS_WINE_TESTS=OFF >/dev/null
cmake --build --preset tsan -j "$jobs"

status=0
# Two builds of the last commit give the same packages; a signed release checks out.
tests/packaging/reproducible_test.sh "$PWD" || status=1
ctest --preset native -j 1 --output-on-failure || status=1
ctest --preset sanitize -j 1 --output-on-failure || status=1
# The threaded walk's parts, each with real threads, under ThreadSanitizer;
# then the walk against one thread on random trees, its assertions on (both
# ctest runs above also run it).
build/tsan/tests/unit_tests --gtest_filter='SharedWalkParts.*' || status=1
python3 tests/threads/random_walk.py build/tsan/sweepdirs build/native/tests/e2e/librace_interposer.so \
  --seconds "${SWEEPDIRS_RANDOM_SECONDS:-60}" --sanitized || status=1
./scripts/fuzz.sh "${SWEEPDIRS_FUZZ_SECONDS:-60}" || status=1
# The benchmark's correctness checks on tiny trees (no time is judged).
./bench/run.sh --quick --out build/bench/results || status=1
exit $status
