#!/usr/bin/env bash
# The main job end to end: a user updates a board's firmware with Flashwell.
# Installs what is missing (Debian 12, as root), builds the shipped 32-bit (i686)
# build, or the x86_64 build where this machine cannot run 32-bit programs, then,
# in the sandbox (private network namespace, Xvfb, fresh Wine prefix):
#   1. makes a 1 MiB firmware image of random bytes with ImageTool.exe,
#   2. plugs in a simulated board (SimBoard.exe, saving what it writes to flash),
#   3. starts Flashwell.exe and plays the user (FlashwellDemo.exe): Select Image,
#      Update, waits for the closing message,
#   4. prints the outcome, compares the flash with the payload byte for byte and
#      saves a picture of the finished dialog as build/demo/flashwell-update-done.png
#      (with --update-docs also as docs/flashwell-update-done.png, the README's picture),
#   5. plugs in a second simulated board and updates it from the command line as a
#      script would (ImageTool.exe list, ImageTool.exe update), and compares its flash too.
# Exits 0 only when both updates succeeded and both boards hold the payload.
#   bash tools/demo.sh [--update-docs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# First, so that the width below sees what the install could add (wine32).
[ "${DEMO_INSIDE:-}" = 1 ] || "$root/tools/install-deps.sh"
if why_not_32=$("$root/tools/runs-wine32.sh"); then
  arch=i686 build_width="32-bit (i686, the shipped build)"
else
  arch=x86_64 build_width="64-bit (x86_64): $why_not_32"
fi
bin=$root/build/$arch/bin
out=$root/build/demo
update_docs=0
[ "${1:-}" = --update-docs ] && update_docs=1

if [ "${DEMO_INSIDE:-}" != 1 ]; then
  cd "$root"
  echo "== Building the $arch build"
  cmake -S . -B build/$arch -G Ninja -Wno-dev --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch-w64-mingw32.cmake >/dev/null
  cmake --build build/$arch -j2 --target Flashwell Communicator Wirrow SimBoard ImageTool FlashwellDemo \
    | tail -n 1
  mkdir -p "$out"
  exec env DEMO_INSIDE=1 SANDBOX_DIR="${SANDBOX_DIR:-$out/sandbox}" "$root/tools/sandbox.sh" "$0" "$@"
fi

# The folder a user would unpack to, on the Wine prefix's drive C: (fresh every run).
work=$WINEPREFIX/drive_c/FlashwellDemo
rm -rf "$work"
mkdir -p "$work"
board_pid=
board2_pid=
cleanup() {
  exec 7>&- 2>/dev/null || true
  exec 8>&- 2>/dev/null || true
  [ -n "$board_pid" ] && kill "$board_pid" 2>/dev/null || true
  [ -n "$board2_pid" ] && kill "$board2_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp "$bin"/{Flashwell.exe,Communicator.dll,Hivekey.dll,Wirrow.dll,SimBoard.exe,ImageTool.exe,FlashwellDemo.exe} "$work"/
cd "$work"

echo "== Flashwell, Communicator and Wirrow: $build_width"

echo "== Making a firmware image of 1 MiB random bytes"
head -c 1048576 /dev/urandom > payload.bin
timeout 60 wine ImageTool.exe make --model KV-220 --version 3.1.4 payload.bin firmware.img </dev/null | tr -d '\r' | sed 's/^/  /'
ls -l firmware.img | awk '{print "  firmware.img: " $5 " bytes (128-byte header + payload)"}'

echo "== Plugging in the simulated board"
mkfifo board-in
timeout 600 wine SimBoard.exe --output flash.bin <board-in >board-out 2>&1 &
board_pid=$!
exec 7>board-in
for _ in $(seq 300); do
  grep -q '^ready' board-out 2>/dev/null && break
  kill -0 "$board_pid" 2>/dev/null || break
  sleep 0.1
done
grep '^ready' board-out | tr -d '\r' | sed 's/^ready /  board present at /' || { echo "the board did not start" >&2; cat board-out >&2; exit 1; }

echo "== Updating the board with Flashwell, as a user would"
shot=$out/flashwell-update-done.png
rm -f "$shot"
coproc DEMO { timeout 300 wine FlashwellDemo.exe 'C:\FlashwellDemo' 'C:\FlashwellDemo\firmware.img' 2>&1; }
demo_pid=$DEMO_PID
demo_out=${DEMO[0]}
demo_in=${DEMO[1]}
while IFS= read -r -t 180 line <&"$demo_out"; do
  line=${line%$'\r'}
  if [[ $line == screenshot\ * ]]; then
    read -r _ left top width height <<<"$line"
    import -window root -crop "${width}x${height}+${left}+${top}" +repage -define png:exclude-chunk=date,time "$shot"
    echo next >&"$demo_in" 2>/dev/null || true
    echo "  picture of the finished dialog: build/demo/flashwell-update-done.png (${width}x${height})"
  elif [[ $line != wine:* ]]; then  # Wine's own notes are not the program's
    echo "$line"
  fi
done
demo_rc=0
wait "$demo_pid" || demo_rc=$?

echo quit >&7
exec 7>&-
wait "$board_pid" || true
board_pid=
tr -d '\r' <board-out | grep '^flashed' | sed 's/^flashed \([0-9]*\) \(0x[0-9A-F]*\)/  the board wrote \1 bytes to flash, sum \2/' || true

echo "== Checking the flash against the payload"
ok=1
if [ -f flash.bin ] && cmp payload.bin flash.bin; then
  echo "  flash.bin equals payload.bin byte for byte ($(stat -c %s flash.bin) bytes)"
else
  echo "  the board's flash does not hold the payload"; ok=0
fi
[ "$demo_rc" = 0 ] || ok=0
[ -s "$shot" ] || ok=0

echo "== Plugging in a second simulated board"
mkfifo board2-in
timeout 600 wine SimBoard.exe --instance demo2 --output flash-cli.bin <board2-in >board2-out 2>&1 &
board2_pid=$!
exec 8>board2-in
for _ in $(seq 300); do
  grep -q '^ready' board2-out 2>/dev/null && break
  kill -0 "$board2_pid" 2>/dev/null || break
  sleep 0.1
done
grep '^ready' board2-out | tr -d '\r' | sed 's/^ready /  board present at /' || { echo "the second board did not start" >&2; cat board2-out >&2; exit 1; }

echo "== Updating it from the command line, as a script would"
echo "  > ImageTool list"
timeout 60 wine ImageTool.exe list </dev/null 2>&1 | tr -d '\r' | grep -v '^wine:' | sed 's/^/  /' || true
echo "  > ImageTool update firmware.img"
cli_rc=0
timeout 300 wine ImageTool.exe update firmware.img </dev/null >cli-out 2>cli-err || cli_rc=$?
tr -d '\r' <cli-err | grep -v '^wine:' | sed 's/^/  /' || true
tr -d '\r' <cli-out | sed 's/^/  /'
echo "  exit code $cli_rc"

echo quit >&8
exec 8>&-
wait "$board2_pid" || true
board2_pid=
tr -d '\r' <board2-out | grep '^flashed' | sed 's/^flashed \([0-9]*\) \(0x[0-9A-F]*\)/  the board wrote \1 bytes to flash, sum \2/' || true
if [ "$cli_rc" = 0 ] && [ -f flash-cli.bin ] && cmp payload.bin flash-cli.bin; then
  echo "  flash-cli.bin equals payload.bin byte for byte ($(stat -c %s flash-cli.bin) bytes)"
else
  echo "  the command-line update did not leave the payload in the second board's flash"; ok=0
fi

if [ "$ok" = 1 ]; then
  # Only the picture of a successful update goes into the README.
  [ "$update_docs" = 1 ] && cp "$shot" "$root/docs/flashwell-update-done.png"
  echo "== DEMO PASSED: firmware update succeeded, from the window and from the command line ($build_width)"
else
  echo "== DEMO FAILED"
  exit 1
fi
