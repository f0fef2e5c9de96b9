#!/usr/bin/env bash
# Installs the Debian packages that building cartlink and running its tests need: the native
# tool chain and GoogleTest, mingw-w64 for cartlink.exe, libfuse3 and fuse3 for cartlink-virtual,
# wine64 to run cartlink.exe, hidapi for the HID link, zlib and nettle for the image hashes and
# expat for known-good lists (XML), clang with libFuzzer and clang-tidy for the
# fuzz targets and the static checks, Google Benchmark for bench/. Does nothing when all are
# installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ ccache pkg-config
  libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64-posix
  libfuse3-dev fuse3
  wine64
  libhidapi-dev
  zlib1g-dev nettle-dev libexpat1-dev
  clang clang-tidy libfuzzer-14-dev libclang-rt-14-dev
  libbenchmark-dev
  procps diffutils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages are installed"
  exit 0
fi

if [ "$(id -u)" = 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "setup: these packages are missing and installing them needs root (or sudo):" >&2
  echo "  ${missing[*]}" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y \
  "${missing[@]}"
