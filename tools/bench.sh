#!/usr/bin/env bash
# Host time beside the I/O floor: builds the benchmarks and cartlink-virtual, mounts a virtual
# device on a fresh folder for each part and unmounts it again: the link's figures on an NES
# device (identity NES_HWRKA_FW403), one verified pass of a dump on a 4 MiB LoROM and on a
# 64 MiB N64 cartridge, and the peak memory of a 64 MiB read. The dumps run twice: against a
# device that answers as fast as the host serves it (the host's cost laid bare), and against
# one that reads at USB's pace (--read-speed, 40 MiB/s), where the host's work should hide
# behind the device's. Holds the end-to-end lock, since every mounted device is seen by every
# test.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native --target cartlink_bench_io cartlink_bench_dump cartlink-virtual \
  cartlink-run

work=$(mktemp -d)
point="$work/mnt"
mkdir -p "$point" "$work/out"
device_pid=
unmount() {
  if grep -q " $point " /proc/self/mounts; then
    fusermount3 -u -z "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true
  fi
  [ -n "$device_pid" ] && kill "$device_pid" 2>/dev/null || true
  [ -n "$device_pid" ] && wait "$device_pid" 2>/dev/null || true
  device_pid=
}
cleanup() {
  unmount
  rm -rf "$work"
}
trap cleanup EXIT

# mount_virtual OPTIONS...: a virtual device on $point, until unmount.
mount_virtual() {
  build/native/virtual_device/fuse/cartlink-virtual --foreground "$@" "$point" \
    2>"$work/virtual.err" &
  device_pid=$!
  for _ in $(seq 100); do
    grep -q " $point " /proc/self/mounts && return 0
    sleep 0.05
  done
  cat "$work/virtual.err" >&2
  echo "bench: cartlink-virtual did not mount" >&2
  exit 1
}

exec 9>/tmp/cartlink-e2e.lock
flock 9
mount_virtual --identity NES_HWRKA_FW403
build/native/bench/cartlink_bench_io "$point"
unmount

echo
mount_virtual --name SFC_Q3V8_FW412 --identity SFC_Q3V8_FW412 --cartridge sfc-lorom \
  --rom-size 4M
build/native/bench/cartlink_bench_dump sfc "$point" "$work/out"
unmount
echo "The same at USB's pace (--read-speed 40):"
mount_virtual --name SFC_Q3V8_FW412 --identity SFC_Q3V8_FW412 --cartridge sfc-lorom \
  --rom-size 4M --read-speed 40
build/native/bench/cartlink_bench_dump sfc "$point" "$work/out"
unmount

echo
mount_virtual --name N64_HWRKB_FW320 --identity N64_HWRKB_FW320 --cartridge n64-rom \
  --rom-size 64M
build/native/bench/cartlink_bench_dump n64 "$point" "$work/out"
/usr/bin/time -f '%M' -o "$work/peak" build/native/cartlink-run read n64 0x10000000 64M \
  "$work/out/read.z64" >"$work/read.out"
grep -q '^Device: N64_HWRKB_FW320$' "$work/read.out" || {
  echo "bench: cartlink-run read found another device: $(cat "$work/read.out")" >&2
  exit 1
}
printf '%-46s %10s KiB %17s   %s\n' "read n64 0x10000000 64M, peak memory" "$(cat "$work/peak")" \
  "" "independent of the length"
unmount
echo "The same at USB's pace (--read-speed 40):"
mount_virtual --name N64_HWRKB_FW320 --identity N64_HWRKB_FW320 --cartridge n64-rom \
  --rom-size 64M --read-speed 40
build/native/bench/cartlink_bench_dump n64 "$point" "$work/out"
unmount
