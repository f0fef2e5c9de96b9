#!/usr/bin/env bash
# Sets everything up and runs every test: installs the packages, cross-builds cartlink.exe,
# builds and tests natively (end-to-end tests included: cartlink and, under wine, cartlink.exe
# against a mounted virtual device), then builds and tests again with ASan and UBSan.
# CARTLINK_WERROR=ON turns warnings into errors (CI sets it).
set -euo pipefail
cd "$(dirname "$0")/.."
werror="${CARTLINK_WERROR:-OFF}"

bash tools/setup.sh

cmake --preset windows -DCARTLINK_WERROR="$werror"
cmake --build --preset windows

cmake --preset native -DCARTLINK_WERROR="$werror" \
  -DCARTLINK_WINDOWS_EXE="$PWD/build/windows/cartlink.exe"
cmake --build --preset native
ctest --preset native

cmake --preset asan -DCARTLINK_WERROR="$werror" \
  -DCARTLINK_WINDOWS_EXE="$PWD/build/windows/cartlink.exe"
cmake --build --preset asan
ctest --preset asan
