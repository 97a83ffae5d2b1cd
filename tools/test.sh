#!/usr/bin/env bash
# Builds the 32-bit (shipped) and 64-bit builds warning-free, packs both release
# packages and checks their MSVC import libraries (tools/check-import-libs.sh) and
# that they hold what the guide refers to (tools/check-package.sh), makes the Windows
# Installer packages and checks their tables (tools/check-msi.sh), then
# runs every test of both builds under Wine, Xvfb and a loopback-only network
# namespace, one width after the other, and last the installer tests in a Wine prefix
# of their own. The 64-bit run also drives the shipped
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

# The installer packages (tests/installer/): the shipped one (tools/package.sh), the same
# package of the 64-bit build, whose installed programs run on every machine here, and an
# older one of each width for the upgrade cases (lower in the last number that is not 0,
# with a guide of its own, so that a file left from it shows).
version=$(tools/version.sh)
packages=build/packages
tools/make-msi.sh x64 "$version" "$packages/flashwell-$version-win32" "$packages/flashwell-$version-win64" \
  "$packages/flashwell-$version-win64.msi"
IFS=. read -r -a older <<<"$version"
for index in 3 2 1 0; do
  if [ "${older[index]}" -gt 0 ]; then older[index]=$((older[index] - 1)); break; fi
done
older_version=$(IFS=.; echo "${older[*]}")
mkdir -p "$packages/older"
for width in win32 win64; do
  cp -r "$packages/flashwell-$version-$width" "$packages/older/flashwell-$width"
  echo "This guide came with Flashwell $older_version." >>"$packages/older/flashwell-$width/GUIDE.md"
done
for arch in x86 x64; do
  case $arch in x86) width=win32 ;; x64) width=win64 ;; esac
  tools/make-msi.sh $arch "$older_version" "$packages/older/flashwell-win32" "$packages/older/flashwell-win64" \
    "$packages/older/flashwell-$width.msi"
  tools/check-msi.sh $arch "$version" "$packages/flashwell-$version-$width.msi" "$packages/flashwell-$version-$width"
  tools/check-msi.sh $arch "$older_version" "$packages/older/flashwell-$width.msi"
done

x86_64_args=()
widths=(x86_64)
if why_not_32=$(tools/runs-wine32.sh); then
  widths+=(i686)
  skipped=
else
  x86_64_args=(-LE needs32bit)
  skipped="i686 (the shipped 32-bit build), the mixed-width cases and the installed 32-bit Flashwell: $why_not_32"
  cat <<LOUD

!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!
!! SKIPPING THE 32-BIT TESTS: $why_not_32.
!! The shipped i686 build was compiled but NOT run; only the x86_64 build is tested here.
!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!
LOUD
fi

summary=()
status=0
# run_suite NAME LOG CTEST-ARGS...: one ctest run in a sandbox of its own (a fresh prefix),
# counted as tested only when ctest says how many of its tests ran.
run_suite() {
  local name=$1 log=$2 start rc=0 ran outcome
  shift 2
  start=$(date +%s)
  tools/sandbox.sh ctest --output-on-failure --no-tests=error "$@" 2>&1 | tee "$log" || rc=$?
  ran=$(sed -n 's/.*tests failed out of \([0-9][0-9]*\)$/\1/p' "$log" | tail -n 1)
  if [ $rc = 0 ] && [ "${ran:-0}" -gt 0 ]; then
    outcome="passed ($ran test programs)"
  elif [ $rc = 0 ]; then
    outcome="FAILED: its suite did not run (ctest reported no test results)"; status=1
  else
    outcome="FAILED (ctest exit $rc, ${ran:-no} test programs run)"; status=1
  fi
  summary+=("$name: $outcome in $(( $(date +%s) - start )) s")
}

for arch in "${widths[@]}"; do
  echo "== Tests of the $arch build"
  args=()
  [ "$arch" = x86_64 ] && args=("${x86_64_args[@]}")
  run_suite "$arch" build/$arch/ctest-output.txt --test-dir build/$arch -j2 "${args[@]}" "$@"
done

# The installer tests install into Program Files and change the machine's PATH: alone in
# their prefix, after the rest (ctest runs them only with -C Installer).
echo "== Tests of the installer packages"
run_suite "installer" build/x86_64/ctest-installer-output.txt --test-dir build/x86_64 -C Installer -L installer \
  "${x86_64_args[@]}"

echo "== Fuzz targets, a few seconds each"
tools/fuzz.sh 5 || status=1

echo "== Test runs"
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
