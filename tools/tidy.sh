#!/usr/bin/env bash
# clang-tidy with the checks of .clang-tidy on the program's own sources and the virtual
# device (POSIX side; the Windows platform files need the Windows headers). Fails on any
# finding. Arguments name files to check instead of all.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/tidy -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCARTLINK_TESTS=ON >/dev/null
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  mapfile -t files < <(git ls-files 'app/*.cpp' 'link/*.cpp' 'formats/*.cpp' 'nes/*.cpp' \
    'families/*.cpp' 'cartridge/*.cpp' \
    'platform/posix/*.cpp' 'platform/*.cpp' 'runner/*.cpp' 'virtual_device/*.cpp' \
    'virtual_device/fuse/*.cpp')
fi
tidy=run-clang-tidy
command -v "$tidy" >/dev/null || tidy=run-clang-tidy-14
if ! "$tidy" -p build/tidy -quiet "${files[@]}" >build/tidy/report.txt 2>&1; then
  grep -E -A3 'warning:|error:' build/tidy/report.txt >&2 || cat build/tidy/report.txt >&2
  echo "tidy: findings (whole report in build/tidy/report.txt)" >&2
  exit 1
fi
echo "tidy: ${#files[@]} files, no findings"
