#!/usr/bin/env bash
# Sets everything up and runs every test: installs the packages, cross-builds cartlink.exe,
# builds and tests natively (end-to-end tests included: cartlink and, under wine, cartlink.exe
# against a mounted virtual device), then builds and tests again with ASan and UBSan, runs
# clang-tidy's checks (tools/tidy.sh) and every fuzz target over its seeds and for a few seconds
# more (tools/fuzz.sh; CARTLINK_FUZZ_SECONDS per target, default 5 here; CI fuzzes 30 s each).
# First of all, tools/check_house.sh checks that every include points down a floor.
# CARTLINK_WERROR=ON turns warnings into errors; CARTLINK_E2E_REQUIRED=ON makes a missing FUSE,
# wine or cartlink.exe fail the end-to-end tests instead of skipping them. CI sets both.
set -euo pipefail
cd "$(dirname "$0")/.."
werror="${CARTLINK_WERROR:-OFF}"
e2e_required="${CARTLINK_E2E_REQUIRED:-OFF}"

bash tools/check_house.sh
bash tools/setup.sh

cmake --preset windows -DCARTLINK_WERROR="$werror"
cmake --build --preset windows

cmake --preset native -DCARTLINK_WERROR="$werror" -DCARTLINK_E2E_REQUIRED="$e2e_required" \
  -DCARTLINK_WINDOWS_EXE="$PWD/build/windows/cartlink.exe"
cmake --build --preset native
ctest --preset native

cmake --preset asan -DCARTLINK_WERROR="$werror" -DCARTLINK_E2E_REQUIRED="$e2e_required" \
  -DCARTLINK_WINDOWS_EXE="$PWD/build/windows/cartlink.exe"
cmake --build --preset asan
ctest --preset asan

bash tools/tidy.sh
CARTLINK_FUZZ_SECONDS="${CARTLINK_FUZZ_SECONDS:-5}" bash tools/fuzz.sh
