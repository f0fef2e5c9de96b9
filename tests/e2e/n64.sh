#!/usr/bin/env bash
# cartlink-run's N64 slots against a mounted virtual N64 cartridge, natively or under wine.
#   n64.sh rom-read native|windows    8 MiB of the ROM window at firmware 320 (DUMP.ROM)
#   n64.sh save native|windows        the probed save memory written, read back and saved
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

mount_n64() {
  mount_runner_device "$WORK/drive" --name N64_HWRKB_FW320 --identity N64_HWRKB_FW320 \
    --cartridge n64 "$@"
}

rom_read() {
  random_file "$WORK/rom.z64" $((8 * 1024 * 1024))
  mount_n64 --rom "$WORK/rom.z64"
  mkdir -p "$WORK/run"
  run_tool "$WORK/run" read n64 0x10000000 8M rom.z64
  expect_status 0
  grep -qx "Device: N64_HWRKB_FW320" "$WORK/out.txt" || fail "no Device line: $(cat "$WORK/out.txt")"
  same_bytes "$WORK/run/rom.z64" "$WORK/rom.z64" "8 MiB ROM read"
  [ "$(ls -A "$WORK/run")" = rom.z64 ] || fail "stray files: $(ls -A "$WORK/run")"
  stop_device TERM "$WORK/drive"
}

save() {
  random_file "$WORK/save.bin" 32768
  mkdir -p "$WORK/saved" "$WORK/run"
  mount_n64 --save-dir "$WORK/saved"
  cp "$WORK/save.bin" "$WORK/run/in.bin"
  run_tool "$WORK/run" write n64-save 0 in.bin
  expect_status 0
  run_tool "$WORK/run" read n64-save 0 32K back.bin
  expect_status 0
  same_bytes "$WORK/run/back.bin" "$WORK/save.bin" "save memory read back"
  stop_device TERM "$WORK/drive"
  head -c 32768 "$WORK/saved/N64_SAVE.bin" >"$WORK/saved_part.bin"
  same_bytes "$WORK/saved_part.bin" "$WORK/save.bin" "N64_SAVE.bin saved at unmount"
}

case "${1:-}" in
  rom-read) require_platform "${2:?native or windows}"; rom_read ;;
  save) require_platform "${2:?native or windows}"; save ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
