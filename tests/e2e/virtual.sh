#!/usr/bin/env bash
# cartlink-virtual as a user meets it.
#   virtual.sh bad-options   bad options and cartridge files: a clear message, no mount
#   virtual.sh mount-point   refuses a non-empty folder and an existing mount; the files it shows
#   virtual.sh signals       SIGINT and SIGTERM unmount; a fresh mount works again afterwards
source "$(dirname "$0")/lib.sh"

require_programs

# refuses EXPECTED-TEXT ARGS...: exits non-zero with EXPECTED-TEXT on stderr and mounts nothing.
refuses() {
  local expected=$1 status=0
  shift
  timeout 10 "$CARTLINK_VIRTUAL" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" || status=$?
  [ "$status" != 0 ] && [ "$status" != 124 ] || fail "accepted: $* (exit $status)"
  grep -qF -- "$expected" "$WORK/err.txt" ||
    fail "for '$*' expected a message with '$expected', got: $(cat "$WORK/err.txt")"
  is_mounted "$WORK/point" && fail "mounted in spite of: $*"
  return 0
}

bad_options() {
  mkdir "$WORK/point"
  local p=$WORK/point
  head -c 127 /dev/zero >"$WORK/short.bin"
  head -c 129 /dev/zero >"$WORK/long.bin"
  head -c 128 /dev/zero >"$WORK/ram.bin"
  head -c 1000 /dev/zero >"$WORK/prg.bin"

  refuses "the expansion RAM file $WORK/missing.bin" --ram "$WORK/missing.bin" "$p"
  refuses "No such file" --ram "$WORK/missing.bin" "$p"
  refuses "127 bytes long (too short); it must be 128 bytes" --ram "$WORK/short.bin" "$p"
  refuses "129 bytes long (too long); it must be 128 bytes" --ram "$WORK/long.bin" "$p"
  refuses "is not a regular file" --ram "$WORK" "$p"
  refuses "PRG ROM file" --prg "$WORK/prg.bin" "$p"
  refuses "CHR ROM file" --chr "$WORK/ram.bin" "$p"
  refuses "16 hex digits" --key 0123456789ABCDEG "$p"
  refuses "16 hex digits" --key 0123456789ABCDE "$p"
  refuses "use 'status' or 'request'" --key-source boot "$p"
  refuses "unknown kind" --cartridge mmc5 "$p"
  refuses "need a cartridge" --cartridge none --ram "$WORK/ram.bin" "$p"
  refuses "at most 8 characters" --date 202110011 "$p"
  refuses "--delay" --delay -5 "$p"
  refuses "unknown option --colour" --colour "$p"
  refuses "--ram needs a value" "$p" --ram
  refuses "no mount point given"
  refuses "exactly one mount point" "$p" "$WORK/other"
  refuses "cannot use the mount point $WORK/nowhere" "$WORK/nowhere"

  "$CARTLINK_VIRTUAL" --help >"$WORK/help.txt" || fail "--help exits non-zero"
  grep -q -- "--cartridge KIND" "$WORK/help.txt" || fail "--help does not list --cartridge"
}

mount_point() {
  require_fuse
  mkdir "$WORK/full"
  touch "$WORK/full/keep.txt"
  refuses "is not empty" "$WORK/full"
  [ -f "$WORK/full/keep.txt" ] || fail "the non-empty folder lost its file"
  touch "$WORK/plain"
  refuses "is not a directory" "$WORK/plain"

  # A 16 KiB PRG ROM shows twice in the cartridge window at $8000-$FFFF.
  head -c 16384 /dev/urandom >"$WORK/prg.bin"
  mount_device "$WORK/drive" --prg "$WORK/prg.bin" --trace "$WORK/trace.txt"
  dd if="$WORK/drive/DUMP.ROM" of="$WORK/window.bin" bs=1024 skip=32 count=32 iflag=direct \
    status=none || fail "an O_DIRECT read of DUMP.ROM failed"
  cmp -s "$WORK/window.bin" <(cat "$WORK/prg.bin" "$WORK/prg.bin") ||
    fail "DUMP.ROM at \$8000 does not show the 16 KiB PRG ROM twice"
  refuses "is already a mount point" "$WORK/drive"
  is_mounted "$WORK/drive" || fail "the refused second mount took the first one down"

  # What the drive shows and how it answers the ways a user might touch it.
  local listing
  listing=$(ls "$WORK/drive" | tr '\n' ' ')
  [ "$listing" = "DUMP.ROM T-DRIVER.DMP " ] || fail "root lists '$listing'"
  [ "$(stat -c %s "$WORK/drive/T-DRIVER.DMP")" = 9216 ] || fail "T-DRIVER.DMP is not 9216 bytes"
  dd if="$WORK/drive/T-DRIVER.DMP" of="$WORK/status.bin" bs=1024 skip=8 count=1 iflag=direct \
    status=none || fail "an O_DIRECT read of the status sector failed"
  [ "$(head -c 15 "$WORK/status.bin")" = NES_HWRKA_FW400 ] || fail "status sector: $(head -c 32 "$WORK/status.bin")"
  # Windows' rule for unbuffered reads holds on the drive: whole sectors or nothing.
  dd if="$WORK/drive/DUMP.ROM" of=/dev/null bs=1000 count=1 iflag=direct status=none 2>/dev/null &&
    fail "a direct read of 1000 bytes was not refused"
  dd if="$WORK/drive/T-DRIVER.DMP" of=/dev/null bs=512 skip=100 count=1 iflag=direct,skip_bytes \
    status=none 2>/dev/null && fail "a direct read at offset 100 was not refused"
  [ "$(grep -c '^refused direct read' "$WORK/trace.txt")" = 2 ] || fail "refused reads not traced"
  [ -r "$WORK/drive/t-driver.dmp" ] || fail "names are not found regardless of case"
  echo x 2>/dev/null >"$WORK/drive/T-DRIVER.DMP" && fail "T-DRIVER.DMP could be written"
  echo x 2>/dev/null >"$WORK/drive/notes.txt" && fail "a file other than a command file was created"

  # An empty command file is carried out once, as a command without packets.
  : >"$WORK/drive/CMD0.CMD" || fail "cannot create a command file"
  grep -q '^CMD0.CMD 0 bytes' "$WORK/trace.txt" || fail "the empty command file was not taken"
  [ "$(grep -c '^CMD' "$WORK/trace.txt")" = 1 ] || fail "the empty command was taken more than once"
  [ -e "$WORK/drive/CMD0.CMD" ] || fail "the command file is not listed after writing"
  rm "$WORK/drive/CMD0.CMD" || fail "a command file cannot be removed"
  stop_device TERM "$WORK/drive" || fail "cartlink-virtual exited with $? after SIGTERM"
}

signals() {
  require_fuse
  local signal
  for signal in INT TERM; do
    mount_device "$WORK/drive"
    stop_device "$signal" "$WORK/drive" || fail "cartlink-virtual exited with $? after SIG$signal"
    [ -z "$(ls -A "$WORK/drive")" ] || fail "the mount point is not empty after SIG$signal"
  done
  # Without --foreground it goes to the background once mounted; fusermount3 -u ends it.
  "$CARTLINK_VIRTUAL" "$WORK/drive" || fail "the background mount failed"
  MOUNTS+=("$WORK/drive")
  is_mounted "$WORK/drive" || fail "not mounted when the background mount returned"
  fusermount3 -u "$WORK/drive" || fail "fusermount3 -u failed"
  local i
  for i in $(seq 50); do
    pgrep -f "^$CARTLINK_VIRTUAL $WORK/drive\$" >/dev/null || break
    sleep 0.1
  done
  pgrep -f "^$CARTLINK_VIRTUAL $WORK/drive\$" >/dev/null && fail "the background process stayed"
  return 0
}

case "${1:-}" in
  bad-options) bad_options ;;
  mount-point) mount_point ;;
  signals) signals ;;
  *) fail "unknown case '${1:-}'" ;;
esac
log "PASS"
