#!/usr/bin/env bash
# Takes screenshots of Flashwell's main dialog and about box under the sandbox's
# Xvfb and saves them as docs/flashwell-main.png and docs/flashwell-about.png.
#   tools/screenshots.sh   (after building build/x86_64)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/x86_64/bin
[ -x "$bin/flashwell_screenshot_driver.exe" ] || { echo "build build/x86_64 first" >&2; exit 1; }

if [ "${SCREENSHOTS_INSIDE:-}" != 1 ]; then
  exec env SCREENSHOTS_INSIDE=1 "$root/tools/sandbox.sh" "$0" "$@"
fi

mkdir -p "$root/docs"
cd "$bin"
coproc DRIVER { timeout 120 wine flashwell_screenshot_driver.exe 2>/dev/null; }
driver_pid=$DRIVER_PID
driver_out=${DRIVER[0]}
driver_in=${DRIVER[1]}
while read -r -t 60 name left top width height <&"$driver_out"; do
  name=${name%$'\r'}; height=${height%$'\r'}
  import -window root -crop "${width}x${height}+${left}+${top}" +repage "$root/docs/flashwell-$name.png"
  echo "docs/flashwell-$name.png: ${width}x${height}"
  echo next >&"$driver_in"
done
wait "$driver_pid"
