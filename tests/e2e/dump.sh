#!/usr/bin/env bash
# cartlink-run dump against mounted retail cartridges, natively or as cartlink-run.exe under
# wine: the file written is the cartridge's ROM byte for byte, a flaky byte is caught and read
# again, and a byte that never reads the same fails the dump with no file.
#   dump.sh sfc native|windows      sfc-lorom --rom game.sfc gives back game.sfc
#   dump.sh n64 native|windows      n64-rom --rom game.z64 gives back game.z64
#   dump.sh nes-mmc1 native|windows nes-mmc1 --rom game.nes gives back game.nes
#   dump.sh flaky native|windows    a byte wrong on its first read, then one never the same
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

# built_in_rom KIND FILE OPTIONS...: the ROM of a cartridge kind's built-in image (a correct
# header), as cartlink-virtual saves it when it unmounts.
built_in_rom() {
  local kind=$1 file=$2
  shift 2
  mkdir -p "$WORK/saved-$kind"
  mount_device "$WORK/drive-saving" --cartridge "$kind" --save-dir "$WORK/saved-$kind" "$@"
  stop_device TERM "$WORK/drive-saving"
  [ -f "$WORK/saved-$kind/rom.bin" ] || fail "cartlink-virtual did not save $kind's ROM"
  cp "$WORK/saved-$kind/rom.bin" "$file"
}

# dump_and_compare KIND IDENTITY ROM OUT DUMP-ARGS...: mounts KIND with --rom ROM, dumps it
# into OUT and checks the file against ROM.
dump_and_compare() {
  local kind=$1 identity=$2 rom=$3 out=$4
  shift 4
  mount_runner_device "$WORK/drive-$kind" --name "$identity" --identity "$identity" \
    --cartridge "$kind" --rom "$rom"
  mkdir -p "$WORK/run"
  run_tool "$WORK/run" dump "$@" "$out"
  expect_status 0
  grep -q '^Verified: ' "$WORK/out.txt" || fail "no verdict printed: $(cat "$WORK/out.txt")"
  same_bytes "$WORK/run/$out" "$rom" "$kind dumped"
  stop_device TERM "$WORK/drive-$kind"
}

dump_sfc() {
  built_in_rom sfc-lorom "$WORK/game.sfc" --rom-size 1M
  dump_and_compare sfc-lorom SFC_Q3V8_FW412 "$WORK/game.sfc" copy.sfc sfc
  grep -q '^Checksum: .*as the header says' "$WORK/out.txt" ||
    fail "no checksum verdict: $(cat "$WORK/out.txt")"
}

dump_n64() {
  # 8 MiB of random bytes behind a retail first word and a title: the CRC pair matches no boot
  # chip (a warning), and the size is where the cartridge mirrors the image.
  { printf '\200\067\022\100'; head -c 28 /dev/urandom; printf 'RANDOM TEST IMAGE   '
    head -c $((8388608 - 52)) /dev/urandom; } >"$WORK/game.z64"
  dump_and_compare n64-rom N64_HWRKB_FW320 "$WORK/game.z64" copy.z64 n64
  grep -q '^ROM size: 8 MiB$' "$WORK/out.txt" || fail "size not found: $(cat "$WORK/out.txt")"
  grep -q '^CRC pair: warning: no boot chip variant matched' "$WORK/out.txt" ||
    fail "no CRC verdict: $(cat "$WORK/out.txt")"
}

dump_nes_mmc1() {
  # An iNES file for mapper 1, horizontal mirroring: 128 KiB PRG, 32 KiB CHR of random bytes.
  { printf 'NES\032\010\004\020\000\000\000\000\000\000\000\000\000'
    head -c $((131072 + 32768)) /dev/urandom; } >"$WORK/game.nes"
  dump_and_compare nes-mmc1 NES_HWRKA_FW403 "$WORK/game.nes" copy.nes nes --mapper 1
  grep -q '^PRG: 128 KiB (where the banks start to repeat)' "$WORK/out.txt" ||
    fail "PRG size not found by repetition: $(cat "$WORK/out.txt")"
}

dump_flaky() {
  built_in_rom sfc-lorom "$WORK/game.sfc" --rom-size 1M
  mount_runner_device "$WORK/drive-once" --name SFC_Q3V8_FW412 --identity SFC_Q3V8_FW412 \
    --cartridge sfc-lorom --rom "$WORK/game.sfc" --flaky 0x23456:1
  mkdir -p "$WORK/run"
  run_tool "$WORK/run" dump sfc once.sfc
  expect_status 0
  same_bytes "$WORK/run/once.sfc" "$WORK/game.sfc" "SFC with a byte wrong once"
  grep -q '^Second read: 1 bytes in 1 places' "$WORK/out.txt" ||
    fail "the flaky byte was not caught: $(cat "$WORK/out.txt")"
  stop_device TERM "$WORK/drive-once"

  mount_runner_device "$WORK/drive-never" --name SFC_Q3V8_FW412 --identity SFC_Q3V8_FW412 \
    --cartridge sfc-lorom --rom "$WORK/game.sfc" --flaky 0x23456:always
  run_tool "$WORK/run" dump sfc never.sfc
  expect_status 1
  grep -q 'ROM offset 0x023456 (\$04:B456) never read the same twice' "$WORK/err.txt" ||
    fail "the address was not named: $(cat "$WORK/err.txt")"
  grep -q 'clean the contacts and try again' "$WORK/err.txt" ||
    fail "no advice given: $(cat "$WORK/err.txt")"
  [ ! -e "$WORK/run/never.sfc" ] || fail "a file was written for a dump that failed"
  [ ! -e "$WORK/run/never.sfc.tmp" ] || fail "the temporary file was left behind"
  stop_device TERM "$WORK/drive-never"
}

case "${1:-}" in
  sfc) require_platform "${2:?native or windows}"; dump_sfc ;;
  n64) require_platform "${2:?native or windows}"; dump_n64 ;;
  nes-mmc1) require_platform "${2:?native or windows}"; dump_nes_mmc1 ;;
  flaky) require_platform "${2:?native or windows}"; dump_flaky ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
