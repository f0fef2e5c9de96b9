#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for a bounded time, starting from its seeds
# in fuzz/corpus/<target>/ (copied: the repository's seeds stay as they are). Fails on any crash,
# leak, undefined behaviour or timeout; the input that did it is left in build/fuzz/findings/.
# CARTLINK_FUZZ_SECONDS sets the time per target (default 30); arguments name targets to run
# (default: all). A new target is a fuzz/fuzz_NAME.cpp and its seeds in fuzz/corpus/fuzz_NAME/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${CARTLINK_FUZZ_SECONDS:-30}"
werror="${CARTLINK_WERROR:-OFF}"

cmake --preset fuzz -DCARTLINK_WERROR="$werror" >/dev/null
cmake --build --preset fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do
    name="$(basename "$source" .cpp)"
    targets+=("$name")
  done
fi

findings="build/fuzz/findings"
mkdir -p "$findings"
failed=()
for target in "${targets[@]}"; do
  work="build/fuzz/corpus/$target"
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds=("fuzz/corpus/$target")
  echo "fuzz: $target for ${seconds}s"
  if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
      "$work" "${seeds[@]}" >"build/fuzz/$target.log" 2>&1; then
    tail -n 60 "build/fuzz/$target.log" >&2
    failed+=("$target")
  else
    grep -E '^stat::number_of_executed_units|^Done' "build/fuzz/$target.log" || true
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: FAILED: ${failed[*]} (inputs in $findings/)" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} passed, 0 failed"
