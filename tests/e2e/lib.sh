# Shared steps of the end-to-end tests: prerequisites, mounting the virtual device, running the
# tool and checking what it printed, saved and sent. Sourced by the test scripts.
#
# Environment (set by CTest, see CMakeLists.txt):
#   CARTLINK          the native cartlink program
#   CARTLINK_VIRTUAL  the cartlink-virtual program
#   CARTLINK_EXE      cartlink.exe built with mingw-w64 (may be empty)
#   E2E_REQUIRED      1: a missing prerequisite fails the test instead of skipping it
set -u

readonly SKIP=77
readonly MOUNT_TYPE=fuse.cartlink-virtual

WORK=$(mktemp -d "${TMPDIR:-/tmp}/cartlink-e2e.XXXXXX")
MOUNTS=()   # mount points to take down on exit
DAEMONS=()  # cartlink-virtual processes started in the foreground mode

log() { printf '%s\n' "$*" >&2; }

fail() {
  log "FAIL: $*"
  if [ -s "$WORK/cartlink-virtual.err" ]; then
    log "cartlink-virtual said:"
    cat "$WORK/cartlink-virtual.err" >&2
  fi
  exit 1
}

# A test that cannot run here says why; CTest counts it as skipped, unless the run demands it.
skip() {
  if [ "${E2E_REQUIRED:-0}" = 1 ]; then
    fail "required end-to-end test cannot run: $*"
  fi
  log "SKIP: $*"
  exit "$SKIP"
}

is_mounted() {
  # /proc/self/mounts escapes blanks in paths; test paths come from mktemp and have none.
  awk -v p="$1" -v t="$MOUNT_TYPE" '$2 == p && $3 == t { found = 1 } END { exit !found }' \
    /proc/self/mounts
}

unmount() {
  local point=$1
  if grep -q " $point " /proc/self/mounts; then
    fusermount3 -u -z "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true
  fi
}

cleanup() {
  local pid point
  for pid in "${DAEMONS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${DAEMONS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  for point in "${MOUNTS[@]}"; do
    unmount "$point"
  done
  # A read-only mount of the read-only test, if any, comes off before the folder goes.
  grep -o " $WORK/[^ ]*" /proc/self/mounts | while read -r point; do umount -l "$point"; done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

require_programs() {
  [ -x "${CARTLINK:-}" ] || fail "cartlink program not found: ${CARTLINK:-unset}"
  [ -x "${CARTLINK_VIRTUAL:-}" ] || skip "cartlink-virtual was not built (libfuse3-dev missing?)"
}

require_fuse() {
  [ -e /dev/fuse ] || skip "/dev/fuse is missing: FUSE is not available on this machine"
  [ -r /dev/fuse ] && [ -w /dev/fuse ] || skip "/dev/fuse cannot be opened by $(id -un)"
  if [ "$(id -u)" != 0 ] && ! command -v fusermount3 >/dev/null; then
    skip "fusermount3 is missing (Debian package fuse3): mounting needs it when not root"
  fi
  # A device mounted by someone else would be found instead of (or besides) the test's own.
  local other
  other=$(awk -v t="$MOUNT_TYPE" '$3 == t { print $2; exit }' /proc/self/mounts)
  [ -z "$other" ] || skip "another virtual device is mounted at $other; unmount it first"
}

# mount_device POINT [cartlink-virtual options...]: mounts in the foreground mode in the
# background, so the test holds its process id, and waits until the mount is there.
DEVICE_PID=
mount_device() {
  local point=$1
  shift
  mkdir -p "$point"
  "$CARTLINK_VIRTUAL" --foreground "$@" "$point" 2>>"$WORK/cartlink-virtual.err" &
  DEVICE_PID=$!
  DAEMONS+=("$DEVICE_PID")
  MOUNTS+=("$point")
  local i
  for i in $(seq 100); do
    is_mounted "$point" && return 0
    kill -0 "$DEVICE_PID" 2>/dev/null || break
    sleep 0.05
  done
  cat "$WORK/cartlink-virtual.err" >&2
  fail "cartlink-virtual did not mount on $point"
}

# Stops the device with a signal and checks that it took its mount with it.
stop_device() {
  local signal=${1:-TERM} point=$2 status=0
  kill "-$signal" "$DEVICE_PID"
  wait "$DEVICE_PID" || status=$?
  is_mounted "$point" && fail "cartlink-virtual left $point mounted after SIG$signal"
  return "$status"
}

# Writes 128 bytes of expansion RAM: byte i = (i * step + add) mod 256.
make_ram() {
  local file=$1 step=$2 add=$3 i
  : >"$file"
  for i in $(seq 0 127); do
    printf "\\$(printf '%03o' $(((i * step + add) & 255)))" >>"$file"
  done
}

# What the main job prints for device NAME and the RAM in FILE.
expected_output() {
  local name=$1 ram=$2
  printf 'Device: %s\n\n' "$name"
  od -An -v -tx1 -w16 "$ram" |
    awk '{ printf "%03X:", (NR - 1) * 16; for (i = 1; i <= NF; i++) printf "%s ", toupper($i); print "" }'
  printf 'Save to file f90.sav\nPlease press any key to exit...\n'
}

# "f90.sav": 8192 zero bytes, then the 128 RAM bytes in order.
check_save() {
  local save=$1 ram=$2
  [ -f "$save" ] || fail "no f90.sav was written"
  local size
  size=$(stat -c %s "$save")
  [ "$size" = 8320 ] || fail "f90.sav is $size bytes long, not 8320"
  cmp -s "$save" <(head -c 8192 /dev/zero; cat "$ram") ||
    fail "f90.sav differs from 8192 zero bytes followed by the cartridge's RAM:
$(cmp -l "$save" <(head -c 8192 /dev/zero; cat "$ram") | head -n 5)"
}

check_output() {
  local actual=$1 expected=$2
  diff -u "$expected" "$actual" >&2 || fail "console output differs from the expected (above)"
}

# The command files in the trace: named CMD0, CMD1, CMD2, CMD3, CMD0, ... and every packet's
# marker and CRC accepted. Prints the number of command files.
check_trace() {
  local trace=$1
  awk '
    /^CMD[0-9]\.CMD / {
      want = sprintf("CMD%d.CMD", n % 4)
      if ($1 != want) { printf "command file %d is %s, expected %s\n", n + 1, $1, want; bad = 1 }
      summary = $0
      sub(/^[^:]*: /, "", summary)
      k = split(summary, runs, ", ")
      if (k == 0) { printf "%s: no packets\n", $0; bad = 1 }
      for (i = 1; i <= k; i++)
        if (runs[i] !~ /^[0-9]+\/[0-9]+ ok( x[0-9]+)?$/) { printf "refused: %s\n", $0; bad = 1 }
      n++
    }
    END { if (bad) exit 1; print n }' "$trace"
}

# The packets in order, one "family/sub" per line, runs unfolded.
trace_packets() {
  awk '/^CMD[0-9]\.CMD / {
    summary = $0; sub(/^[^:]*: /, "", summary)
    k = split(summary, runs, ", ")
    for (i = 1; i <= k; i++) {
      split(runs[i], w, " "); times = 1
      if (runs[i] ~ / x[0-9]+$/) { times = runs[i]; sub(/.* x/, "", times) }
      for (j = 0; j < times; j++) print w[1]
    }
  }' "$1"
}

# The main job's packets: the device-data request when the key is not in the status sector,
# the identity command, then an address write and a data read per RAM byte.
check_packets() {
  local trace=$1 key_source=$2 expected
  expected=$({
    [ "$key_source" = request ] && echo 240/4
    echo 14/1
    for i in $(seq 128); do printf '14/5\n14/4\n'; done
  })
  diff <(echo "$expected") <(trace_packets "$trace") >/dev/null ||
    fail "packets differ from discovery, identity and 128 address/data pairs:
$(diff <(echo "$expected") <(trace_packets "$trace") | head -n 10)"
}
