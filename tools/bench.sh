#!/usr/bin/env bash
# Host time beside the I/O floor: builds cartlink_bench_io and cartlink-virtual, mounts a
# virtual device (identity NES_HWRKA_FW403) on a fresh folder, runs the benchmark on it and
# unmounts. Holds the end-to-end lock, since every mounted device is seen by every test.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native --target cartlink_bench_io cartlink-virtual

work=$(mktemp -d)
point="$work/mnt"
mkdir -p "$point"
device_pid=
cleanup() {
  if grep -q " $point " /proc/self/mounts; then
    fusermount3 -u -z "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true
  fi
  [ -n "$device_pid" ] && kill "$device_pid" 2>/dev/null || true
  [ -n "$device_pid" ] && wait "$device_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

exec 9>/tmp/cartlink-e2e.lock
flock 9
build/native/virtual_device/fuse/cartlink-virtual --foreground --identity NES_HWRKA_FW403 \
  "$point" 2>"$work/virtual.err" &
device_pid=$!
for _ in $(seq 100); do
  grep -q " $point " /proc/self/mounts && break
  sleep 0.05
done
if ! grep -q " $point " /proc/self/mounts; then
  cat "$work/virtual.err" >&2
  echo "bench: cartlink-virtual did not mount" >&2
  exit 1
fi
build/native/bench/cartlink_bench_io "$point"
