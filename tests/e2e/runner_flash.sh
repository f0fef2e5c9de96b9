#!/usr/bin/env bash
# cartlink-run's flash jobs against a mounted virtual flash cartridge, natively or as
# cartlink-run.exe under wine: exit code, the job's output, and the chip saved at unmount.
#   runner_flash.sh prg native|windows   prg-flash-8001-one-sector with a 32 KiB image
#   runner_flash.sh chr native|windows   chr-flash-5120-1k with a 64 KiB image
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

case "${1:-}" in
  prg) require_platform "${2:?native or windows}"; prg ;;
  chr) require_platform "${2:?native or windows}"; chr ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
