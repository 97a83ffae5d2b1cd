#!/usr/bin/env bash
# Builds the 32-bit (shipped) and 64-bit builds warning-free, packs both release
# packages and checks their MSVC import libraries (tools/check-import-libs.sh) and
# that they hold what the guide refers to (tools/check-package.sh), then
# runs every test of both builds under Wine, Xvfb and a loopback-only network
# namespace, one width after the other. The 64-bit run also drives the shipped
# 32-bit Flashwell, Communicator and Wirrow against boards served by its 64-bit test
# process (label needs32bit). Where this machine cannot run 32-bit programs,
# everything 32-bit is skipped with a loud line and the rest still runs. Last, each
# fuzz target of the pure decoders runs natively for a few seconds.
#   bash tools/test.sh [CTEST ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install-deps.sh
for arch in i686 x86_64; do
  cmake -S . -B build/$arch -G Ninja -Wno-dev --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch-w64-mingw32.cmake >/dev/null
  cmake --build build/$arch
done
# The release packages' import libraries, linked as Visual C++ projects link them.
rm -rf build/packages
tools/package.sh build/packages >/dev/null
for zip in build/packages/*.zip; do unzip -q -d build/packages "$zip"; done
tools/check-import-libs.sh build/packages/*/lib/*.lib
# Everything the guide refers to is packed, and the examples build as it prints.
tools/check-package.sh build/packages/*/

x86_64_args=()
widths=(x86_64)
if why_not_32=$(tools/runs-wine32.sh); then
  widths+=(i686)
  skipped=
else
  x86_64_args=(-LE needs32bit)
  skipped="i686 (the shipped 32-bit build) and the mixed-width cases: $why_not_32"
  cat <<LOUD

!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!
!! SKIPPING THE 32-BIT TESTS: $why_not_32.
!! The shipped i686 build was compiled but NOT run; only the x86_64 build is tested here.
!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!
LOUD
fi

summary=()
status=0
for arch in "${widths[@]}"; do
  echo "== Tests of the $arch build"
  start=$(date +%s)
  args=()
  [ "$arch" = x86_64 ] && args=("${x86_64_args[@]}")
  rc=0
  log=build/$arch/ctest-output.txt
  tools/sandbox.sh ctest --test-dir build/$arch --output-on-failure --no-tests=error -j2 \
    "${args[@]}" "$@" 2>&1 | tee "$log" || rc=$?
  # A width counts as tested only when ctest says how many of its tests ran.
  ran=$(sed -n 's/.*tests failed out of \([0-9][0-9]*\)$/\1/p' "$log" | tail -n 1)
  if [ $rc = 0 ] && [ "${ran:-0}" -gt 0 ]; then
    outcome="passed ($ran test programs)"
  elif [ $rc = 0 ]; then
    outcome="FAILED: its suite did not run (ctest reported no test results)"; status=1
  else
    outcome="FAILED (ctest exit $rc, ${ran:-no} test programs run)"; status=1
  fi
  summary+=("$arch: $outcome in $(( $(date +%s) - start )) s")
done

echo "== Fuzz targets, a few seconds each"
tools/fuzz.sh 5 || status=1

echo "== Widths tested"
printf '  %s\n' "${summary[@]}"
if [ -n "$skipped" ]; then
  cat <<LOUD
!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!
!! NOT TESTED: $skipped
!! The 64-bit build passed or failed on its own; the shipped 32-bit build did not run.
!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!
LOUD
fi
exit $status
