#!/usr/bin/env bash
# cartlink-run on the slots of the further command families, natively or under wine.
#   runner_fams.sh fam20-read native|windows        read fam20 across a bank boundary
#   runner_fams.sh fam19-write-read native|windows  write fam19 at an even address, read it back
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

fam20_read() {
  random_file "$WORK/rom.bin" 131072
  # 20000 bytes from bank 0x00 offset 0xF001: the read carries into bank 0x01.
  tail -c +$((0xF001 + 1)) "$WORK/rom.bin" | head -c 20000 >"$WORK/expected.bin"
  mount_runner_device "$WORK/drive" --cartridge fam20 --rom "$WORK/rom.bin"
  mkdir -p "$WORK/run"
  run_tool "$WORK/run" read fam20 0x00F001 20000 out.bin
  expect_status 0
  same_bytes "$WORK/run/out.bin" "$WORK/expected.bin" "fam20 read"
  [ "$(ls -A "$WORK/run")" = out.bin ] || fail "stray files: $(ls -A "$WORK/run")"
}

fam19_write_read() {
  random_file "$WORK/rom.bin" 65536
  random_file "$WORK/run_in.bin" 3000
  mount_runner_device "$WORK/drive" --cartridge fam19 --rom "$WORK/rom.bin"
  mkdir -p "$WORK/run"
  cp "$WORK/run_in.bin" "$WORK/run/in.bin"
  run_tool "$WORK/run" write fam19 0x1002 in.bin
  expect_status 0
  # By command (odd length) and through the window (whole kilobytes) after the write.
  run_tool "$WORK/run" read fam19 0x1002 3000 out.bin
  expect_status 0
  same_bytes "$WORK/run/out.bin" "$WORK/run_in.bin" "fam19 read after write"
  run_tool "$WORK/run" read fam19 0x1000 4K window.bin
  expect_status 0
  tail -c +$((0x1000 + 1)) "$WORK/rom.bin" | head -c 2 >"$WORK/first.bin"
  { cat "$WORK/first.bin" "$WORK/run_in.bin";
    tail -c +$((0x1002 + 3000 + 1)) "$WORK/rom.bin" | head -c $((4096 - 3002)); } >"$WORK/window.bin"
  same_bytes "$WORK/run/window.bin" "$WORK/window.bin" "fam19 window read after write"
  run_tool "$WORK/run" write fam19 0x1001 in.bin
  expect_status 2
}

case "${1:-}" in
  fam20-read) require_platform "${2:?native or windows}"; fam20_read ;;
  fam19-write-read) require_platform "${2:?native or windows}"; fam19_write_read ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
