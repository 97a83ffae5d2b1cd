#!/usr/bin/env bash
# Runs a command the way every test and demo runs here: in a private network
# namespace with loopback only (broadcasts routed to lo), under a private Xvfb
# display, with a fresh Wine prefix and a persistent wineserver.
#   tools/sandbox.sh COMMAND [ARGS...]
# Environment: SANDBOX_DIR (default build/sandbox) holds the prefix template and run state.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  exec unshare -n env SANDBOX_INSIDE=1 "$0" "$@"
fi

ip link set lo up
ip route add 255.255.255.255/32 dev lo 2>/dev/null || true

state=${SANDBOX_DIR:-$root/build/sandbox}
mkdir -p "$state"
export WINEDEBUG=-all
# winemenubuilder would turn Start-menu shortcuts made in the prefix (the installer tests)
# into menu entries in this machine's own home folder.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d;winemenubuilder.exe=d"
export WINEARCH=win64

# Private display; Xvfb picks a free number itself (lock files in /tmp are shared
# with other namespaces) and writes it to display_file.
display_file=$(mktemp)
Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp 4>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  kill -0 $xvfb_pid 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
export DISPLAY=:$(head -n1 "$display_file")
rm -f "$display_file"

# Prefix: prepared once, then copied fresh for every run. The template notes whether
# Wine had its 32-bit half (wine32) when it was made: a prefix made without it has an
# empty syswow64 and, once wine32 is installed, breaks every program, 64-bit ones too.
#
# Fonts: Debian keeps Wine's own fonts (fonts-wine) in /usr/share/wine/fonts, where this
# Wine does not look, so a new prefix has none of them: no Marlett (caption buttons then
# show the letters "0 1 r" instead of their symbols), no MS Sans Serif, no Tahoma. They
# go into the prefix's Fonts folder, where Windows has them too.
template=$state/prefix-template
if [ -x /usr/lib/wine/wine ]; then flavour=win64+wow64; else flavour=win64; fi
flavour=$flavour+winefonts
if [ "$(cat "$template/.ready" 2>/dev/null)" != "$flavour" ]; then
  rm -rf "$template"
  WINEPREFIX=$template wineboot -i >/dev/null 2>&1
  if [ -d /usr/share/wine/fonts ]; then
    cp /usr/share/wine/fonts/* "$template/drive_c/windows/Fonts/"
  fi
  # No window manager here: without this Wine stalls ~2 s whenever a window hides.
  WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX=$template wineserver -w
  echo "$flavour" >"$template/.ready"
fi
# One prefix per sandbox, so that two sandboxes at once (a test run and a demo) never
# share a wineserver: each kills its own at the end.
export WINEPREFIX=$state/prefix-run-$$
rm -rf "$WINEPREFIX"
cp -a "$template" "$WINEPREFIX"
wineserver -p
# Start Wine's background processes now, detached from our output: started later by a
# test, they would inherit its stdout and keep ctest waiting for the pipe to close.
wine cmd /c exit </dev/null >/dev/null 2>&1

cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true  # it saves the registry into the prefix as it ends
  rm -rf "$WINEPREFIX" 2>/dev/null || true
  kill $xvfb_pid 2>/dev/null || true
  wait $xvfb_pid 2>/dev/null || true
}
trap cleanup EXIT
"$@"
