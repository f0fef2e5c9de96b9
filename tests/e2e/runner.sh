#!/usr/bin/env bash
# cartlink-run against a mounted virtual device, natively or as cartlink-run.exe under wine.
#   runner.sh nes-read native|windows   read nes-cpu at an odd address and length, at firmware
#                                       400 (packet reads) and 403 (the window)
#   runner.sh refusals native|windows   no device: exit 3; a bad length: exit 2, nothing sent
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

nes_read() {
  random_file "$WORK/prg.bin" 32768
  tail -c +2 "$WORK/prg.bin" | head -c 2049 >"$WORK/expected.bin"
  local firmware
  for firmware in 400 403; do
    mount_runner_device "$WORK/drive$firmware" --name "NES_HWRKA_FW$firmware" \
      --identity "NES_HWRKA_FW$firmware" --cartridge f90 --prg "$WORK/prg.bin"
    mkdir -p "$WORK/run$firmware"
    run_tool "$WORK/run$firmware" read nes-cpu 0x8001 2049 out.bin
    expect_status 0
    grep -qx "Device: NES_HWRKA_FW$firmware" "$WORK/out.txt" || fail "no Device line: $(cat "$WORK/out.txt")"
    same_bytes "$WORK/run$firmware/out.bin" "$WORK/expected.bin" "PRG read at firmware $firmware"
    [ "$(ls -A "$WORK/run$firmware")" = out.bin ] || fail "stray files: $(ls -A "$WORK/run$firmware")"
    stop_device TERM "$WORK/drive$firmware"
  done
}

refusals() {
  mkdir -p "$WORK/run"
  if [ "$PLATFORM" = windows ]; then map_drive_e; fi
  if [ "$PLATFORM" = native ]; then
    other=$(awk -v t="$MOUNT_TYPE" '$3 == t { print $2; exit }' /proc/self/mounts)
    [ -z "$other" ] || skip "a virtual device is mounted at $other; unmount it first"
  fi
  run_tool "$WORK/run" read nes-cpu 0 16 out.bin
  expect_status 3
  grep -q "Open device error." "$WORK/err.txt" || fail "no 'Open device error.' on standard error"
  mount_runner_device "$WORK/drive" --cartridge f90 --trace "$WORK/trace.txt"
  run_tool "$WORK/run" read nes-cpu 0xFFF0 0x20 out.bin
  expect_status 2
  grep -q "past the end" "$WORK/err.txt" || fail "no refusal message: $(cat "$WORK/err.txt")"
  ! grep -q '^CMD' "$WORK/trace.txt" || fail "a refused read sent commands"
  [ -z "$(ls -A "$WORK/run")" ] || fail "files were written: $(ls -A "$WORK/run")"
}

case "${1:-}" in
  nes-read) require_platform "${2:?native or windows}"; nes_read ;;
  refusals) require_platform "${2:?native or windows}"; refusals ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
