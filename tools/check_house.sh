#!/usr/bin/env bash
# Keeps the house in order, from the code's own includes: every include points to the file's
# own folder or a floor below it, and no source file outside tests/ grows past 600 lines.
# Runs first in tools/test.sh (and so in CI); prints each offence and fails on any.
set -euo pipefail
cd "$(dirname "$0")/.."

# Floors from the ground up; a folder may include its own floor's folders and those below.
declare -A floor=(
  [platform]=0
  [link]=1 [formats]=1
  [nes]=2 [families]=2
  [cartridge]=3
  [runner]=4 [app]=4
)
max_lines=600
failed=0

while IFS= read -r file; do
  folder="${file%%/*}"
  [ -n "${floor[$folder]+set}" ] || continue
  while IFS=: read -r line target; do
    to="${target%%/*}"
    if [ -z "${floor[$to]+set}" ]; then
      echo "check_house: $file:$line includes $target, which is not part of the program" >&2
      failed=1
    elif [ "$to" != "$folder" ] && [ "${floor[$to]}" -ge "${floor[$folder]}" ]; then
      echo "check_house: $file:$line includes $target: $folder/ may not reach up or across" \
           "to $to/" >&2
      failed=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
           sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/' | grep -E '^[0-9]+:[^:]*/' || true)
done < <(git ls-files '*.cpp' '*.h' '*.inc')

while IFS= read -r file; do
  lines=$(wc -l <"$file")
  if [ "$lines" -gt "$max_lines" ]; then
    echo "check_house: $file has $lines lines; split it by concern (at most $max_lines)" >&2
    failed=1
  fi
done < <(git ls-files '*.cpp' '*.h' '*.sh' '*.py' | grep -v '^tests/')

if [ "$failed" -ne 0 ]; then
  echo "check_house: FAILED" >&2
  exit 1
fi
echo "check_house: every include points down; no file past $max_lines lines"
