#!/usr/bin/env bash
# The native cartlink against a mounted virtual device.
#   linux.sh main-job status|request   the save-RAM dump, key from the status sector or the
#                                      family 240 request
#   linux.sh no-device                 nothing mounted: "Open device error."
#   linux.sh unplug TERM|KILL          the device goes away while cartlink runs
#   linux.sh read-only                 the working folder cannot take f90.sav
source "$(dirname "$0")/lib.sh"

require_programs
case "${1:-}" in
  main-job | unplug) require_fuse ;;
  no-device)
    # Only a virtual device can be ruled out here; a real one plugged in would be found.
    other=$(awk -v t="$MOUNT_TYPE" '$3 == t { print $2; exit }' /proc/self/mounts)
    [ -z "$other" ] || skip "a virtual device is mounted at $other; unmount it first"
    ;;
  read-only) require_fuse ;;
  *) fail "unknown case '${1:-}'" ;;
esac

# run_cartlink DIR: runs cartlink in DIR with a newline for the exit prompt.
run_cartlink() {
  local dir=$1 status=0
  (cd "$dir" && printf '\n' | timeout 60 "$CARTLINK" >"$WORK/out.txt" 2>"$WORK/err.txt") || status=$?
  [ "$status" = 124 ] && fail "cartlink did not finish within 60 s"
  [ "$status" -ge 128 ] && fail "cartlink died with signal $((status - 128))"
  [ "$status" = 0 ] || fail "cartlink exited with $status, not 0"
  [ -s "$WORK/err.txt" ] && fail "cartlink wrote to standard error: $(cat "$WORK/err.txt")"
  return 0
}

main_job() {
  local key_source=$1 name ram
  if [ "$key_source" = status ]; then
    name=NES_HWRKA_FW400
    make_ram "$WORK/ram.bin" 37 11
  else
    # An older firmware, whose key comes only by request.
    name=NES_HWRKA_FW402
    make_ram "$WORK/ram.bin" 101 200
  fi
  mount_device "$WORK/drive" --name "$name" --identity "$name" --key 0123456789ABCDEF \
    --key-source "$key_source" --cartridge f90 --ram "$WORK/ram.bin" --trace "$WORK/trace.txt"
  mkdir "$WORK/run"
  local started=$SECONDS
  run_cartlink "$WORK/run"
  log "cartlink ran for $((SECONDS - started)) s"

  expected_output "$name" "$WORK/ram.bin" >"$WORK/expected.txt"
  check_output "$WORK/out.txt" "$WORK/expected.txt"
  check_save "$WORK/run/f90.sav" "$WORK/ram.bin"
  [ "$(ls -A "$WORK/run")" = f90.sav ] || fail "stray files in the working folder: $(ls -A "$WORK/run")"

  local files
  files=$(check_trace "$WORK/trace.txt") || fail "trace: $files"
  check_packets "$WORK/trace.txt" "$key_source"
  log "$files command files, in order, every packet accepted"
  stop_device TERM "$WORK/drive" || fail "cartlink-virtual exited with $? after SIGTERM"
}

no_device() {
  mkdir "$WORK/run"
  run_cartlink "$WORK/run"
  printf 'Open device error.\nPlease press any key to exit...\n' >"$WORK/expected.txt"
  check_output "$WORK/out.txt" "$WORK/expected.txt"
  [ -z "$(ls -A "$WORK/run")" ] || fail "files were written without a device: $(ls -A "$WORK/run")"
}

# The device disappears part way through the listing: cartlink must neither crash nor leave
# a half-written f90.sav over the older one.
unplug() {
  local signal=$1
  make_ram "$WORK/ram.bin" 37 11
  # A slow device, so that the listing is surely under way when it goes.
  mount_device "$WORK/drive" --ram "$WORK/ram.bin" --delay 5 --trace "$WORK/trace.txt"
  mkdir "$WORK/run"
  head -c 8320 /dev/zero | tr '\0' '\356' >"$WORK/run/f90.sav"
  cp "$WORK/run/f90.sav" "$WORK/old.sav"

  (cd "$WORK/run" && printf '\n' | timeout 60 "$CARTLINK" >"$WORK/out.txt" 2>"$WORK/err.txt") &
  local tool=$! i
  for i in $(seq 400); do
    [ "$(grep -c '^CMD' "$WORK/trace.txt" 2>/dev/null)" -ge 60 ] && break
    sleep 0.02
  done
  [ "$(grep -c '^CMD' "$WORK/trace.txt")" -ge 60 ] || fail "cartlink did not get going"
  kill -0 "$tool" 2>/dev/null || fail "cartlink finished before the device could be pulled"
  if [ "$signal" = TERM ]; then
    stop_device TERM "$WORK/drive" || fail "cartlink-virtual exited with $? after SIGTERM"
  else
    # Killed outright, the mount stays behind with no one serving it.
    kill -KILL "$DEVICE_PID"
    wait "$DEVICE_PID" 2>/dev/null || true
  fi
  local status=0
  wait "$tool" || status=$?
  [ "$status" = 0 ] || fail "cartlink exited with $status after the device went away (124: hung)"
  [ -s "$WORK/err.txt" ] && fail "cartlink wrote to standard error: $(cat "$WORK/err.txt")"

  grep -q '^Device: ' "$WORK/out.txt" || fail "no Device line"
  [ "$(grep -c '^0[0-7]0:' "$WORK/out.txt")" = 8 ] || fail "the listing is not eight lines"
  tail -n 1 "$WORK/out.txt" | grep -qx 'Please press any key to exit...' || fail "no exit prompt"
  # Either the older file untouched, or a whole new one; nothing in between, no temp files.
  [ "$(ls -A "$WORK/run")" = f90.sav ] || fail "stray files in the working folder: $(ls -A "$WORK/run")"
  local size
  size=$(stat -c %s "$WORK/run/f90.sav")
  [ "$size" = 8320 ] || fail "f90.sav is $size bytes after the device went away"
  if cmp -s "$WORK/run/f90.sav" "$WORK/old.sav"; then
    grep -q '^Save to file f90.sav$' "$WORK/out.txt" && fail "claims a save but the old file is there"
  else
    cmp -s <(head -c 8192 "$WORK/run/f90.sav") <(head -c 8192 /dev/zero) ||
      fail "the new f90.sav does not start with 8192 zero bytes"
  fi
  log "cartlink after SIG$signal: $(grep -E 'Save to file|Could not save' "$WORK/out.txt")"
}

# A folder that cannot take the save: cartlink says so, keeps the older file and exits 0.
read_only() {
  make_ram "$WORK/ram.bin" 37 11
  mkdir "$WORK/run"
  head -c 8320 /dev/zero | tr '\0' '\356' >"$WORK/old.sav"
  if [ "$(id -u)" = 0 ]; then
    # Permissions do not stop root: a read-only file system does.
    mount -t tmpfs -o size=1m tmpfs "$WORK/run" 2>/dev/null ||
      skip "cannot mount a tmpfs for a read-only folder here"
    cp "$WORK/old.sav" "$WORK/run/f90.sav"
    mount -o remount,ro "$WORK/run" || fail "cannot remount the folder read-only"
  else
    cp "$WORK/old.sav" "$WORK/run/f90.sav"
    chmod a-w "$WORK/run"
  fi
  mount_device "$WORK/drive" --ram "$WORK/ram.bin"
  run_cartlink "$WORK/run"
  grep -q '^Could not save f90.sav' "$WORK/out.txt" ||
    fail "no 'Could not save f90.sav' message: $(cat "$WORK/out.txt")"
  grep -q '^Save to file f90.sav$' "$WORK/out.txt" && fail "claims to have saved f90.sav"
  tail -n 1 "$WORK/out.txt" | grep -qx 'Please press any key to exit...' || fail "no exit prompt"
  cmp -s "$WORK/run/f90.sav" "$WORK/old.sav" || fail "the older f90.sav was changed"
  [ "$(ls -A "$WORK/run")" = f90.sav ] || fail "stray files: $(ls -A "$WORK/run")"
  [ "$(id -u)" = 0 ] || chmod u+w "$WORK/run"
}

case "$1" in
  main-job) main_job "${2:?status or request}" ;;
  no-device) no_device ;;
  unplug) unplug "${2:?TERM or KILL}" ;;
  read-only) read_only ;;
esac
log "PASS"
