#!/usr/bin/env bash
# cartlink-run's flash jobs against a mounted virtual flash cartridge, natively or as
# cartlink-run.exe under wine: exit code, the job's output, and the chip saved at unmount.
#   runner_flash.sh prg native|windows   prg-flash-8001-one-sector with a 32 KiB image
#   runner_flash.sh chr native|windows   chr-flash-5120-1k with a 64 KiB image
#   runner_flash.sh ginga native|windows ginga-dump: Ginga.nes holds the board's banks; a wrong
#                                        cartridge writes nothing and exits 1
#   runner_flash.sh rom-file native|windows  flash-rom-file game.nes: PRG and CHR on their chips
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

NAME=NES_HWRKA_FW403
# The first 16 bytes of an autoselect read of the boards' default chip (ids 01, A4).
ID_LINE="01 01 A4 A4 00 00 00 00 00 00 00 00 00 00 00 00 "

# flash_case JOB MEMORY IMAGE_SIZE EXPECTED_JOB_OUTPUT: programs a random image, checks all.
flash_case() {
  local job=$1 memory=$2 size=$3 expected=$4
  random_file "$WORK/image.bin" "$size"
  mkdir -p "$WORK/saved" "$WORK/run"
  mount_runner_device "$WORK/drive" --name "$NAME" --identity "$NAME" --cartridge "$job" \
    --erase-polls 1 --save-dir "$WORK/saved"
  run_tool "$WORK/run" "$job" "$(tool_path "$WORK/image.bin")"
  expect_status 0
  printf 'Device: %s\n%b' "$NAME" "$expected" >"$WORK/expected.txt"
  # Under wine the captured output loses its carriage returns, the progress's too.
  if [ "$PLATFORM" = windows ]; then
    tr -d '\r' <"$WORK/expected.txt" >"$WORK/expected.lf" && mv "$WORK/expected.lf" "$WORK/expected.txt"
  fi
  cmp -s "$WORK/out.txt" "$WORK/expected.txt" ||
    fail "output differs:
$(diff <(od -c "$WORK/expected.txt") <(od -c "$WORK/out.txt") | head -n 20)"
  stop_device TERM "$WORK/drive"
  head -c "$size" "$WORK/saved/$memory.bin" >"$WORK/programmed.bin"
  same_bytes "$WORK/programmed.bin" "$WORK/image.bin" "the $memory chip saved at unmount"
  [ -z "$(ls -A "$WORK/run")" ] || fail "files were written: $(ls -A "$WORK/run")"
}

# tool_path FILE: the file as the tool under test names it (a wine path under wine).
tool_path() {
  if [ "$PLATFORM" = windows ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi
}

prg() {
  # identify_flash, then the job: one busy poll, four banks. The 128 KiB chip's CFI size
  # code is below the smallest the decoder takes, so the size line shows 0.
  flash_case prg-flash-8001-one-sector prg 32768 \
    "$ID_LINE\nFlash chip size: 0\n$ID_LINE\n.\nErase bank0.\nFlash......\n....\n\n"
}

chr() {
  # One busy poll shows the polled bytes; "Erase." twice; eight banks.
  flash_case chr-flash-5120-1k chr 65536 \
    "$ID_LINE\n00 00\r\nErase.\n\nErase.\nFlash......\n........\n\n"
}

ginga() {
  mkdir -p "$WORK/saved" "$WORK/run"
  mount_runner_device "$WORK/drive" --name "$NAME" --identity "$NAME" --cartridge ginga \
    --flaky-bank 2 --flaky-reads 1 --save-dir "$WORK/saved"
  run_tool "$WORK/run" ginga-dump
  expect_status 0
  [ "$(grep -c '^Dump bank [1-7] [0-9A-F]\{8\}\.$' "$WORK/out.txt")" = 7 ] ||
    fail "not seven bank lines: $(cat "$WORK/out.txt")"
  [ "$(grep -c '^Error crc, try again$' "$WORK/out.txt")" = 1 ] || fail "no retry line"
  tail -n 1 "$WORK/out.txt" | grep -qx "Save dumped rom file to Ginga.nes" || fail "no save line"
  stop_device TERM "$WORK/drive"
  [ "$(stat -c %s "$WORK/run/Ginga.nes")" = 131088 ] || fail "Ginga.nes is not 131088 bytes"
  [ "$(head -c 16 "$WORK/run/Ginga.nes" | od -An -tx1 | tr -d ' \n')" = \
    4e45531a080021000000000000000000 ] || fail "wrong header"
  tail -c +17 "$WORK/run/Ginga.nes" >"$WORK/banks.bin"
  same_bytes "$WORK/banks.bin" "$WORK/saved/prg.bin" "the banks of Ginga.nes"

  mkdir -p "$WORK/wrong"
  mount_runner_device "$WORK/drive" --cartridge ginga --wrong-cartridge yes
  run_tool "$WORK/wrong" ginga-dump
  expect_status 1
  grep -qx "Not Ginga no Sannin cartridge" "$WORK/out.txt" || fail "no wrong-cartridge line"
  [ -z "$(ls -A "$WORK/wrong")" ] || fail "files were written: $(ls -A "$WORK/wrong")"
}

rom_file() {
  mkdir -p "$WORK/saved" "$WORK/run"
  random_file "$WORK/prg.bin" 32768
  random_file "$WORK/chr.bin" 8192
  { printf 'NES\032\002\001'; head -c 10 /dev/zero; cat "$WORK/prg.bin" "$WORK/chr.bin"; } \
    >"$WORK/run/game.nes"
  mount_runner_device "$WORK/drive" --name "$NAME" --identity "$NAME" --cartridge flash-rom-file \
    --erase-polls 0 --save-dir "$WORK/saved"
  run_tool "$WORK/run" flash-rom-file game.nes
  expect_status 0
  grep -qx "PRG: 32768 CHR: 8192" "$WORK/out.txt" || fail "no size line: $(cat "$WORK/out.txt")"
  stop_device TERM "$WORK/drive"
  head -c 32768 "$WORK/saved/prg.bin" >"$WORK/prg.out"
  head -c 8192 "$WORK/saved/chr.bin" >"$WORK/chr.out"
  same_bytes "$WORK/prg.out" "$WORK/prg.bin" "the PRG chip"
  same_bytes "$WORK/chr.out" "$WORK/chr.bin" "the CHR chip"
}

case "${1:-}" in
  ginga) require_platform "${2:?native or windows}"; ginga ;;
  rom-file) require_platform "${2:?native or windows}"; rom_file ;;
  prg) require_platform "${2:?native or windows}"; prg ;;
  chr) require_platform "${2:?native or windows}"; chr ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
