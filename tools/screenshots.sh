#!/usr/bin/env bash
# Takes the README's pictures of the dialogs under the sandbox's Xvfb:
#   docs/flashwell-main.png, docs/flashwell-about.png (Flashwell's main dialog and about box),
#   docs/communicator-connect-to-board.png, docs/communicator-add-router.png (CommSelectDevice's dialogs).
#   tools/screenshots.sh   (after building build/x86_64)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/x86_64/bin
for driver in flashwell_screenshot_driver select_dialog_screenshot_driver; do
  [ -x "$bin/$driver.exe" ] || { echo "build build/x86_64 first ($driver)" >&2; exit 1; }
done

if [ "${SCREENSHOTS_INSIDE:-}" != 1 ]; then
  exec env SCREENSHOTS_INSIDE=1 "$root/tools/sandbox.sh" "$0" "$@"
fi

mkdir -p "$root/docs"
cd "$bin"
# take DRIVER PREFIX: the driver prints "<name> <left> <top> <width> <height>" for each
# window and waits for a line before it shows the next.
take() {
  local driver=$1 prefix=$2 name left top width height
  coproc DRIVER { timeout 120 wine "$driver.exe" 2>/dev/null; }
  local driver_pid=$DRIVER_PID driver_out=${DRIVER[0]} driver_in=${DRIVER[1]}
  while read -r -t 60 name left top width height <&"$driver_out"; do
    name=${name%$'\r'}; height=${height%$'\r'}
    import -window root -crop "${width}x${height}+${left}+${top}" +repage "$root/docs/$prefix$name.png"
    echo "docs/$prefix$name.png: ${width}x${height}"
    echo next >&"$driver_in"
  done
  wait "$driver_pid"
}
take flashwell_screenshot_driver flashwell-
take select_dialog_screenshot_driver communicator-
