# Running cartlink-run (natively, or cartlink-run.exe under wine) against a mounted virtual
# device. Sourced by the runner test scripts after lib.sh; the first argument of such a script
# after its case is the platform: native or windows.
# Environment besides lib.sh's: CARTLINK_RUN, CARTLINK_RUN_EXE (may be empty), E2E_WINEPREFIX.
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

# require_platform native|windows: checks what the platform needs; sets PLATFORM.
require_platform() {
  PLATFORM=$1
  require_programs
  require_fuse
  case "$PLATFORM" in
    native) [ -x "${CARTLINK_RUN:-}" ] || fail "cartlink-run not built (CARTLINK_RUN=${CARTLINK_RUN:-})" ;;
    windows)
      find_wine
      [ -n "${CARTLINK_RUN_EXE:-}" ] && [ -f "$CARTLINK_RUN_EXE" ] ||
        skip "cartlink-run.exe not found (${CARTLINK_RUN_EXE:-unset}): build the windows preset"
      ;;
    *) fail "unknown platform '$PLATFORM'" ;;
  esac
}

# mount_runner_device POINT OPTIONS...: mounts the device and, under wine, maps drive E: to it.
mount_runner_device() {
  local point=$1
  mount_device "$@"
  if [ "$PLATFORM" = windows ]; then
    map_drive_e "$point"
    trap 'map_drive_e; cleanup' EXIT
  fi
}

# run_tool DIR ARGS...: cartlink-run in DIR; sets STATUS, $WORK/out.txt and $WORK/err.txt.
run_tool() {
  local dir=$1
  shift
  if [ "$PLATFORM" = windows ]; then
    run_wine "$dir" "$CARTLINK_RUN_EXE" "$@"
    # Now and then wine does not yet show drive E: as the fresh mount (seen once in about two
    # hundred runs). The device was not opened, so nothing was sent: look once more, after a
    # moment. A tool that never finds the device still fails.
    if [ "$STATUS" = 3 ] && [ -L "$WINEPREFIX/dosdevices/e:" ] &&
        cat "$WORK/out.txt" "$WORK/err.txt" | grep -qx 'Open device error.'; then
      sleep 1
      run_wine "$dir" "$CARTLINK_RUN_EXE" "$@"
    fi
  else
    STATUS=0
    (cd "$dir" && timeout 120 "$CARTLINK_RUN" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" </dev/null) ||
      STATUS=$?
    [ "$STATUS" = 124 ] && fail "cartlink-run did not finish within 120 s"
  fi
  [ "$STATUS" -ge 128 ] && [ "$STATUS" != 130 ] && fail "cartlink-run died with signal $((STATUS - 128))"
  return 0
}

# expect_status CODE: the last run's exit code, with its output shown when it differs.
expect_status() {
  [ "$STATUS" = "$1" ] && return 0
  cat "$WORK/out.txt" "$WORK/err.txt" >&2
  fail "cartlink-run exited with $STATUS, not $1"
}

# same_bytes ACTUAL EXPECTED WHAT: the two files are equal, or the first differences are shown.
same_bytes() {
  [ -f "$1" ] || fail "$3: $1 was not written"
  cmp -s "$1" "$2" || fail "$3 differs:
$(cmp -l "$1" "$2" 2>&1 | head -n 5)"
}

# random_file FILE SIZE: SIZE random bytes (the tests compare against the file, never a constant).
random_file() {
  head -c "$2" /dev/urandom >"$1"
}
