# Running Windows programs under wine for the end-to-end tests: a throw-away prefix whose drive
# E: is a floppy (removable), linked to a mounted virtual device. Sourced after lib.sh.
# Environment: E2E_WINEPREFIX, the prefix folder.
export WINEDEBUG=-all
# No downloads of Mono or Gecko and no windows: the prefix only runs console programs.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=${E2E_WINEPREFIX:?E2E_WINEPREFIX not set}

find_wine() {
  local candidate
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] && { WINE=$candidate; break; }
  done
  for candidate in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver \
                   "$(command -v wineserver 2>/dev/null)"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] && { WINESERVER=$candidate; break; }
  done
  [ -n "${WINE:-}" ] || skip "wine64 is not installed (Debian package wine64)"
  [ -n "${WINESERVER:-}" ] || skip "wineserver is not installed (Debian package wine64)"
}

require_exe() {
  [ -n "${CARTLINK_EXE:-}" ] ||
    skip "CARTLINK_WINDOWS_EXE is not set: build the windows preset and configure with" \
         "-DCARTLINK_WINDOWS_EXE=<path>/build/windows/cartlink.exe"
  [ -f "$CARTLINK_EXE" ] || skip "cartlink.exe not found at $CARTLINK_EXE: build the windows preset"
}

make_prefix() {
  rm -rf "$WINEPREFIX"
  local started=$SECONDS
  "$WINE" wineboot -i >"$WORK/wineboot.log" 2>&1 || {
    cat "$WORK/wineboot.log" >&2
    fail "wineboot -i failed"
  }
  "$WINE" reg add 'HKLM\Software\Wine\Drives' /v e: /d floppy /f >/dev/null 2>&1 ||
    fail "cannot set the drive type of E:"
  # The registry reaches the disk, and the drive settings the mount manager, only when this
  # prefix's wine session has ended.
  "$WINESERVER" -w
  log "wine prefix made in $((SECONDS - started)) s"
}

# run_wine DIR EXE ARGS...: runs EXE in DIR with a newline on standard input; sets STATUS and
# leaves standard output (CR LF turned into LF) in $WORK/out.txt and standard error in
# $WORK/err.txt.
run_wine() {
  local dir=$1 exe=$2
  shift 2
  [ -d "$WINEPREFIX/dosdevices" ] || make_prefix
  STATUS=0
  (cd "$dir" && printf '\n' | timeout 120 "$WINE" "$exe" "$@" >"$WORK/out.raw" 2>"$WORK/err.raw") ||
    STATUS=$?
  "$WINESERVER" -w
  [ "$STATUS" = 124 ] && fail "$(basename "$exe") did not finish within 120 s"
  tr -d '\r' <"$WORK/out.raw" >"$WORK/out.txt"
  tr -d '\r' <"$WORK/err.raw" >"$WORK/err.txt"
}

# Links drive E: of the prefix to a mount point (or removes it with no argument).
map_drive_e() {
  local drive_e=$WINEPREFIX/dosdevices/e:
  [ -d "$WINEPREFIX/dosdevices" ] || make_prefix
  rm -f "$drive_e"
  [ $# -eq 0 ] || ln -sfn "$1" "$drive_e"
}
