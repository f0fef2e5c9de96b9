#!/usr/bin/env bash
# cartlink.exe under wine against a mounted virtual device, drive E: mapped to the mount with
# drive type floppy so that GetDriveTypeA reports it removable.
#   windows.sh prefix-setup            a throw-away wine prefix for this test run
#   windows.sh prefix-cleanup          and away with it
#   windows.sh main-job status|request the save-RAM dump, as on Linux
#   windows.sh no-device               no drive E: "Open device error."
# Environment besides lib.sh's: E2E_WINEPREFIX, the prefix folder.
source "$(dirname "$0")/lib.sh"

source "$(dirname "$0")/wine.sh"

run_exe() {
  local dir=$1 status=0
  [ -d "$WINEPREFIX/dosdevices" ] || make_prefix
  (cd "$dir" && printf '\n' | timeout 120 "$WINE" "$CARTLINK_EXE" >"$WORK/out.raw" 2>"$WORK/err.txt") ||
    status=$?
  "$WINESERVER" -w
  [ "$status" = 124 ] && fail "cartlink.exe did not finish within 120 s"
  [ "$status" = 0 ] || { cat "$WORK/err.txt" >&2; fail "cartlink.exe exited with $status, not 0"; }
  # The Windows runtime ends its lines with CR LF.
  tr -d '\r' <"$WORK/out.raw" >"$WORK/out.txt"
}

case "${1:-}" in
  prefix-setup)
    find_wine
    require_exe
    make_prefix
    log "PASS"
    exit 0
    ;;
  prefix-cleanup)
    find_wine
    [ -d "$WINEPREFIX" ] && { "$WINESERVER" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
    log "PASS"
    exit 0
    ;;
  main-job | no-device) ;;
  *) fail "unknown case '${1:-}'" ;;
esac

require_programs
find_wine
require_exe
[ "$1" = main-job ] && require_fuse
drive_e=$WINEPREFIX/dosdevices/e:

if [ "$1" = no-device ]; then
  [ -d "$WINEPREFIX/dosdevices" ] || make_prefix
  rm -f "$drive_e"
  mkdir "$WORK/run"
  run_exe "$WORK/run"
  printf 'Open device error.\nPlease press any key to exit...\n' >"$WORK/expected.txt"
  check_output "$WORK/out.txt" "$WORK/expected.txt"
  [ -z "$(ls -A "$WORK/run")" ] || fail "files were written without a device: $(ls -A "$WORK/run")"
  log "PASS"
  exit 0
fi

key_source=${2:?status or request}
if [ "$key_source" = status ]; then
  name=NES_HWRKA_FW400
  make_ram "$WORK/ram.bin" 59 7
else
  name=NES_HWRKA_FW402
  make_ram "$WORK/ram.bin" 173 90
fi
mount_device "$WORK/drive" --name "$name" --identity "$name" --key FEDCBA9876543210 \
  --key-source "$key_source" --cartridge f90 --ram "$WORK/ram.bin" --trace "$WORK/trace.txt"
[ -d "$WINEPREFIX/dosdevices" ] || make_prefix
ln -sfn "$WORK/drive" "$drive_e"
trap 'rm -f "$drive_e"; cleanup' EXIT

mkdir "$WORK/run"
started=$SECONDS
run_exe "$WORK/run"
log "cartlink.exe ran for $((SECONDS - started)) s"

expected_output "$name" "$WORK/ram.bin" >"$WORK/expected.txt"
check_output "$WORK/out.txt" "$WORK/expected.txt"
check_save "$WORK/run/f90.sav" "$WORK/ram.bin"
[ "$(ls -A "$WORK/run")" = f90.sav ] || fail "stray files in the working folder: $(ls -A "$WORK/run")"
files=$(check_trace "$WORK/trace.txt") || fail "trace: $files"
check_packets "$WORK/trace.txt" "$key_source"
log "$files command files, in order, every packet accepted"
stop_device TERM "$WORK/drive" || fail "cartlink-virtual exited with $? after SIGTERM"
log "PASS"
