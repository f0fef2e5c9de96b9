#!/usr/bin/env bash
# backup-save and restore-save against a mounted virtual retail cartridge, natively or under
# wine: the save backed up, an edited copy restored (the memory saved at unmount equal to it,
# the previous save kept beside the file), and a file of the wrong size refused unsent.
#   saves.sh n64-sram native|windows       32 KiB SRAM at 0x08000000
#   saves.sh sfc-battery native|windows    32 KiB battery RAM of a HiROM board ($20-$23:6000)
#   saves.sh n64-wrong-size native|windows a 20 KiB file for that SRAM: exit 2, no command file
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/runner_lib.sh"

# backup_then_restore SAVE_SIZE SAVED_NAME EXT MOUNT_OPTIONS...: the whole round.
backup_then_restore() {
  local size=$1 saved=$2 ext=$3
  shift 3
  random_file "$WORK/old.bin" "$size"
  mkdir -p "$WORK/saved" "$WORK/run"
  mount_runner_device "$WORK/drive" --save "$WORK/old.bin" --save-dir "$WORK/saved" "$@"

  # Named after the cartridge's title when no OUTFILE is given.
  run_tool "$WORK/run" backup-save "$SLOT"
  expect_status 0
  local named=("$WORK"/run/*"$ext")
  [ "${#named[@]}" = 1 ] && [ -f "${named[0]}" ] || fail "no $ext file: $(ls -A "$WORK/run")"
  same_bytes "${named[0]}" "$WORK/old.bin" "backup-save"
  mv "${named[0]}" "$WORK/run/game$ext"

  # The edited copy: its first and last bytes changed.
  cp "$WORK/run/game$ext" "$WORK/new.bin"
  printf '\x5A' | dd of="$WORK/new.bin" bs=1 seek=0 conv=notrunc status=none
  printf '\xA5' | dd of="$WORK/new.bin" bs=1 seek=$((size - 1)) conv=notrunc status=none
  cp "$WORK/new.bin" "$WORK/run/edited$ext"
  run_tool "$WORK/run" restore-save "$SLOT" "edited$ext"
  expect_status 0
  local backups=("$WORK"/run/edited.before-restore-*.sav)
  [ "${#backups[@]}" = 1 ] && [ -f "${backups[0]}" ] ||
    fail "no single pre-restore backup: $(ls -A "$WORK/run")"
  same_bytes "${backups[0]}" "$WORK/old.bin" "pre-restore backup"
  stop_device TERM "$WORK/drive"
  same_bytes "$WORK/saved/$saved" "$WORK/new.bin" "$saved saved at unmount"
  [ -z "$(ls "$WORK/run" | grep '\.tmp$')" ] || fail "temporary files left: $(ls -A "$WORK/run")"
}

n64_sram() {
  SLOT=n64
  backup_then_restore 32768 save.bin .sra --cartridge n64-rom --save-type sram \
    --name N64_HWRKB_FW400 --identity N64_HWRKB_FW400
}

sfc_battery() {
  SLOT=sfc
  backup_then_restore 32768 sram.bin .srm --cartridge sfc-hirom --ram-size 32K \
    --name SFC_HWRKA_FW320 --identity SFC_HWRKA_FW320
}

n64_wrong_size() {
  random_file "$WORK/old.bin" 32768
  mkdir -p "$WORK/saved" "$WORK/run"
  mount_runner_device "$WORK/drive" --cartridge n64-rom --save-type sram --save "$WORK/old.bin" \
    --save-dir "$WORK/saved" --name N64_HWRKB_FW400 --identity N64_HWRKB_FW400 \
    --trace "$WORK/trace.txt"
  random_file "$WORK/run/wrong.sra" 20480
  run_tool "$WORK/run" restore-save n64 wrong.sra
  expect_status 2
  grep -q "does not fit" "$WORK/err.txt" || fail "no refusal: $(cat "$WORK/err.txt")"
  [ "$(ls -A "$WORK/run")" = wrong.sra ] || fail "files written: $(ls -A "$WORK/run")"
  stop_device TERM "$WORK/drive"
  ! grep -q '^CMD' "$WORK/trace.txt" || fail "a refused restore sent commands"
  same_bytes "$WORK/saved/save.bin" "$WORK/old.bin" "save.bin after the refusal"
}

case "${1:-}" in
  n64-sram) require_platform "${2:?native or windows}"; n64_sram ;;
  sfc-battery) require_platform "${2:?native or windows}"; sfc_battery ;;
  n64-wrong-size) require_platform "${2:?native or windows}"; n64_wrong_size ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
