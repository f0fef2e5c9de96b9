#!/usr/bin/env bash
# cartlink-run flash against mounted virtual flash cartridges, natively or as cartlink-run.exe
# under wine; the chip saved at unmount holds the image and, past the sectors it covers, the old
# game.
#   flash.sh sfc native|windows        a 1 MiB image onto a 2 MiB SFC flash cartridge
#   flash.sh wsc native|windows        a 768 KiB image onto the 1 MiB WSC flash cartridge, at its top
#   flash.sh n64 native|windows        a 2 MiB .v64 image onto a 4 MiB N64 flash cartridge
#   flash.sh n64-bus native|windows    read n64 0x08000000 32K: a retail cartridge's SRAM
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

# flash_case SLOT CHIP FILE IMAGE IDENTITY MEMORY [OPTIONS...]: flashes $WORK/run/FILE onto a
# CHIP-byte chip holding random bytes; IMAGE is what the chip should get from it (the file in
# the bus's byte order), MEMORY the chip's file at unmount. A wsc image ends at the chip's top.
flash_case() {
  local slot=$1 chip=$2 file=$3 image=$4 identity=$5 memory=$6
  shift 6
  random_file "$WORK/old.bin" "$chip"
  mkdir -p "$WORK/saved"
  mount_runner_device "$WORK/drive" --name "$identity" --identity "$identity" \
    --cartridge "$slot" --rom "$WORK/old.bin" --chip-size "$chip" --save-dir "$WORK/saved" "$@"
  run_tool "$WORK/run" flash "$slot" "$file"
  expect_status 0
  local size
  size=$(stat -c %s "$image")
  grep -q "Flashed and verified $size bytes" "$WORK/out.txt" ||
    fail "no success line: $(cat "$WORK/out.txt")"
  stop_device TERM "$WORK/drive"
  local covered=$(((size + 65535) / 65536 * 65536))
  if [ "$slot" = wsc ]; then
    # At the chip's top: the old game, the rest of the image's first 64 KiB sector erased,
    # then the image up to the chip's last byte.
    { head -c $((chip - covered)) "$WORK/old.bin"
      head -c $((covered - size)) /dev/zero | tr '\0' '\377'; cat "$image"; } >"$WORK/expected.bin"
  else
    # The image, then the rest of its last 64 KiB sector erased, then the old game.
    { cat "$image"; head -c $((covered - size)) /dev/zero | tr '\0' '\377'
      tail -c +$((covered + 1)) "$WORK/old.bin"; } >"$WORK/expected.bin"
  fi
  same_bytes "$WORK/saved/$memory" "$WORK/expected.bin" "$slot flash saved at unmount"
}

# flash_random SLOT CHIP SIZE IDENTITY MEMORY: a random image of SIZE bytes.
flash_random() {
  mkdir -p "$WORK/run"
  random_file "$WORK/run/game.bin" "$3"
  cp "$WORK/run/game.bin" "$WORK/image.bin"
  flash_case "$1" "$2" game.bin "$WORK/image.bin" "$4" "$5"
}

# A 2 MiB N64 image with a retail header's first word, given as .v64 (byte pairs swapped).
flash_n64_v64() {
  mkdir -p "$WORK/run"
  { printf '\x80\x37\x12\x40'; head -c $((2097152 - 4)) /dev/urandom; } >"$WORK/game.z64"
  dd if="$WORK/game.z64" of="$WORK/run/game.v64" conv=swab status=none
  flash_case n64 4194304 game.v64 "$WORK/game.z64" N64_HWRKB_FW320 N64_ROM.bin
  grep -q "Byte order: .v64" "$WORK/out.txt" || fail "no byte order line: $(cat "$WORK/out.txt")"
}

# The SRAM of a retail cartridge, outside the ROM window: read by packets.
n64_bus() {
  mkdir -p "$WORK/run"
  random_file "$WORK/sram.bin" 32768
  mount_runner_device "$WORK/drive" --name N64_HWRKB_FW400 --identity N64_HWRKB_FW400 \
    --cartridge n64-rom --save-type sram --save "$WORK/sram.bin"
  run_tool "$WORK/run" read n64 0x08000000 32K save.bin
  expect_status 0
  same_bytes "$WORK/run/save.bin" "$WORK/sram.bin" "32 KiB of SRAM read at 0x08000000"
  stop_device TERM "$WORK/drive"
}

case "${1:-}" in
  sfc) require_platform "${2:?native or windows}"
    flash_random sfc 2097152 1048576 GEN_HWRKA_FW320 sfc_flash.bin ;;
  wsc) require_platform "${2:?native or windows}"
    flash_random wsc 1048576 786435 WSC_HWRKA_FW310 wsc_flash.bin ;;
  n64) require_platform "${2:?native or windows}"; flash_n64_v64 ;;
  n64-bus) require_platform "${2:?native or windows}"; n64_bus ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
