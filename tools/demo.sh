#!/usr/bin/env bash
# The main job against a virtual Famicom cartridge: installs what is needed, builds, mounts the
# virtual device with cartlink-virtual, runs cartlink in demo-output/ and unmounts again.
# Options after the script name go to cartlink-virtual, e.g. --ram FILE or --key-source request.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/setup.sh
cmake --preset native
cmake --build --preset native

build=$root/build/native
virtual=$build/virtual_device/fuse/cartlink-virtual
if [ ! -x "$virtual" ]; then
  echo "demo: $virtual was not built (is libfuse3-dev installed?)" >&2
  exit 1
fi
if [ ! -e /dev/fuse ]; then
  echo "demo: /dev/fuse is missing: this machine cannot mount FUSE file systems" >&2
  exit 1
fi
other=$(awk '$3 == "fuse.cartlink-virtual" { print $2; exit }' /proc/self/mounts)
if [ -n "$other" ]; then
  echo "demo: a virtual device is already mounted at $other; unmount it first" \
       "(fusermount3 -u $other)" >&2
  exit 1
fi

drive=$(mktemp -d "${TMPDIR:-/tmp}/cartlink-drive.XXXXXX")
output=$root/demo-output
mkdir -p "$output"
trace=$output/device-trace.txt
pid=
finish() {
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  if grep -q " $drive " /proc/self/mounts; then fusermount3 -u -z "$drive" || true; fi
  rmdir "$drive" 2>/dev/null || true
}
trap finish EXIT

echo
echo "== Mounting a virtual Famicom cartridge on $drive"
"$virtual" --foreground --cartridge f90 --trace "$trace" "$@" "$drive" &
pid=$!
for _ in $(seq 100); do
  awk -v p="$drive" '$2 == p { found = 1 } END { exit !found }' /proc/self/mounts && break
  kill -0 "$pid" 2>/dev/null || { pid=; echo "demo: cartlink-virtual could not mount" >&2; exit 1; }
  sleep 0.05
done
ls -l "$drive"

echo
echo "== Running cartlink in $output"
# The exit prompt waits for one key; the newline answers it.
(cd "$output" && printf '\n' | "$build/cartlink")

echo
echo "== Unmounting"
kill -TERM "$pid"
wait "$pid" || true
pid=

echo
echo "f90.sav is at $output/f90.sav ($(stat -c %s "$output/f90.sav") bytes:" \
     "8192 zero bytes, then the 128 RAM bytes)."
echo "The device's trace of command files and reply reads is at $trace."
