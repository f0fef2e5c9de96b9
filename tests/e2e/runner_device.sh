#!/usr/bin/env bash
# cartlink-run's device jobs against a mounted virtual device, natively or as cartlink-run.exe
# under wine (where no HID device is present: the drive link is found).
#   runner_device.sh device-info native|windows   the drive link's facts
#   runner_device.sh system native|windows        a block written and a word of it read back
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

expect_line() {
  grep -qxF "$1" "$WORK/out.txt" || fail "no line '$1' in: $(cat "$WORK/out.txt")"
}

device_info() {
  mount_runner_device "$WORK/drive" --name "NES_HWRKA_FW400" --identity "NES_HWRKA_FW401" \
    --date 20220102 --key-source request --cartridge f90
  mkdir -p "$WORK/run"
  run_tool "$WORK/run" device-info
  expect_status 0
  expect_line "Device: NES_HWRKA_FW400"
  expect_line "Link: drive"
  if [ "$PLATFORM" = windows ]; then expect_line 'Root: E:\'; else expect_line "Root: $WORK/drive/"; fi
  expect_line "Name: NES_HWRKA_FW400"
  expect_line "Identity: NES_HWRKA_FW401"
  expect_line "Protocol level: 401"
  expect_line "Date number: 20220102"
  expect_line "Key data: from the device"
}

system() {
  mount_runner_device "$WORK/drive" --cartridge f90
  mkdir -p "$WORK/run"
  printf '\x34\x12\x78\x56' >"$WORK/run/block.bin"
  run_tool "$WORK/run" write-block 0x100 block.bin
  expect_status 0
  run_tool "$WORK/run" get-word 0x102
  expect_status 0
  expect_line "Word at 0x00000102: 0x5678"
  run_tool "$WORK/run" get-word 0x100000000
  expect_status 2
}

case "${1:-}" in
  device-info) require_platform "${2:?native or windows}"; device_info ;;
  system) require_platform "${2:?native or windows}"; system ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
