#!/usr/bin/env bash
# cartlink-selftest, the hash and known-good list cases, natively or as cartlink-selftest.exe
# under wine (where the hashes come from BCrypt and ntdll and the XML reader is XmlLite).
#   selftest.sh native|windows
# Environment besides lib.sh's: CARTLINK_SELFTEST, CARTLINK_SELFTEST_EXE, E2E_WINEPREFIX.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wine.sh"

mkdir "$WORK/run"
case "${1:-}" in
  native)
    [ -x "${CARTLINK_SELFTEST:-}" ] || fail "cartlink-selftest not built (${CARTLINK_SELFTEST:-unset})"
    STATUS=0
    (cd "$WORK/run" && timeout 120 "$CARTLINK_SELFTEST" >"$WORK/out.txt" 2>"$WORK/err.txt" </dev/null) ||
      STATUS=$?
    ;;
  windows)
    find_wine
    [ -n "${CARTLINK_SELFTEST_EXE:-}" ] && [ -f "$CARTLINK_SELFTEST_EXE" ] ||
      skip "cartlink-selftest.exe not found (${CARTLINK_SELFTEST_EXE:-unset}): build the windows preset"
    run_wine "$WORK/run" "$CARTLINK_SELFTEST_EXE"
    ;;
  *) fail "unknown platform '${1:-}'" ;;
esac

cat "$WORK/out.txt" "$WORK/err.txt" >&2
[ "$STATUS" = 0 ] || fail "cartlink-selftest exited with $STATUS"
grep -qE '^cartlink-selftest: ([0-9]+) of \1 checks passed$' "$WORK/out.txt" ||
  fail "cartlink-selftest did not report every check passed"
[ -z "$(ls -A "$WORK/run")" ] || fail "cartlink-selftest left files behind: $(ls -A "$WORK/run")"
log "PASS"
