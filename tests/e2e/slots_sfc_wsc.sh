#!/usr/bin/env bash
# cartlink-run's sfc and wsc slots against a mounted virtual device, natively or as
# cartlink-run.exe under wine.
#   slots_sfc_wsc.sh sfc-read native|windows   a whole 4 MiB SFC ROM through the window, at
#                                              firmware 308 (half select) and 320 (whole bus)
#   slots_sfc_wsc.sh wsc-read native|windows   a whole 1 MiB WSC ROM; then write, read back and
#                                              erase a sector of its flash
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

sfc_read() {
  random_file "$WORK/rom.sfc" 4194304
  local identity
  for identity in SFC_HWRKA_FW308 GEN_HWRKA_FW320; do
    mount_runner_device "$WORK/drive-$identity" --name "$identity" --identity "$identity" \
      --cartridge sfc --rom "$WORK/rom.sfc" --chip-size 4M
    mkdir -p "$WORK/run-$identity"
    run_tool "$WORK/run-$identity" read sfc 0 4M rom.sfc
    expect_status 0
    grep -qx "Device: $identity" "$WORK/out.txt" || fail "no Device line: $(cat "$WORK/out.txt")"
    same_bytes "$WORK/run-$identity/rom.sfc" "$WORK/rom.sfc" "SFC ROM read as $identity"
    stop_device TERM "$WORK/drive-$identity"
  done
}

wsc_read() {
  random_file "$WORK/rom.wsc" 1048576
  random_file "$WORK/data.bin" 3001
  mount_runner_device "$WORK/drive" --name WSC_HWRKA_FW400 --identity WSC_HWRKA_FW400 \
    --cartridge wsc --rom "$WORK/rom.wsc" --save-dir "$WORK"
  mkdir -p "$WORK/run"
  run_tool "$WORK/run" read wsc 0 1M rom.wsc
  expect_status 0
  same_bytes "$WORK/run/rom.wsc" "$WORK/rom.wsc" "WSC ROM read"
  run_tool "$WORK/run" erase wsc 0x20000
  expect_status 0
  cp "$WORK/data.bin" "$WORK/run/data.bin"
  run_tool "$WORK/run" write wsc 0x20003 data.bin
  expect_status 0
  run_tool "$WORK/run" read wsc 0x20003 3001 back.bin
  expect_status 0
  same_bytes "$WORK/run/back.bin" "$WORK/data.bin" "WSC flash written and read back"
  stop_device TERM "$WORK/drive"
  # The saved flash: the sector erased apart from the data, everything else the ROM.
  { head -c 131072 "$WORK/rom.wsc"; printf '\377\377\377'; cat "$WORK/data.bin"
    head -c $((65536 - 3 - 3001)) /dev/zero | tr '\0' '\377'
    tail -c +196609 "$WORK/rom.wsc"; } >"$WORK/expected.bin"
  same_bytes "$WORK/wsc_flash.bin" "$WORK/expected.bin" "WSC flash after erase and write"
}

case "${1:-}" in
  sfc-read) require_platform "${2:?native or windows}"; sfc_read ;;
  wsc-read) require_platform "${2:?native or windows}"; wsc_read ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
