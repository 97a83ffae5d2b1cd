#!/usr/bin/env bash
# Prints the version pins that let apt install wine32:i386 when the mirror lacks the
# i386 twin of an installed amd64 library: for every Multi-Arch: same package that
# wine32:i386 may pull in whose installed amd64 version has no i386 build in the
# indexes apt has, one "P:amd64=V P:i386=V" pair on a line, V being the newest
# version that both architectures can have. Multi-Arch: same packages must carry one
# version on both architectures, so without the pair apt cannot resolve the install.
# Exits 1, naming the package on stderr, when some such package has no common version.
# Reads only what apt already fetched; APT_CONFIG is honoured (tests point it elsewhere).
#   tools/wine32-pins.sh        # e.g. libssl3:amd64=3.0.20-1~deb12u2 libssl3:i386=3.0.20-1~deb12u2
set -euo pipefail
export LC_ALL=C

# Every i386 package the install needs. Recommends are left out: apt skips one it cannot
# install, while a pin would force it in.
needed=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances wine32:i386 |
  sed -n 's/^\([a-z0-9][^ <>]*\):i386$/\1/p' | sort -u)
# Installed amd64 packages that must match their i386 twin's version.
installed_same=$(dpkg-query -W -f='${db:Status-Abbrev}${Package} ${Architecture} ${Multi-Arch} ${Version}\n' |
  awk '$1 == "ii" && $3 == "amd64" && $4 == "same" { print $2, $5 }' | sort -u)
candidates=$(join <(printf '%s\n' "$needed") <(printf '%s\n' "$installed_same") || true)
[ -n "$candidates" ] || exit 0

names=()
while read -r package _; do names+=("$package:i386" "$package:amd64"); done <<<"$candidates"
# madison lines: "name[:arch] | version | URI suite/component ARCH Packages".
versions=$(apt-cache madison "${names[@]}" 2>/dev/null |
  awk -F' [|] ' '{ sub(/:.*/, "", $1); gsub(/ /, "", $1); n = split($3, w, " ");
                   if (w[n] == "Packages") print $1, w[n-1], $2 }' | sort -u)

newest() {  # newest of the versions given, one per line on stdin
  local best= v
  while read -r v; do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
  done
  printf '%s' "$best"
}

status=0
while read -r package installed; do
  i386=$(awk -v p="$package" '$1 == p && $2 == "i386" { print $3 }' <<<"$versions")
  grep -qxF -- "$installed" <<<"$i386" && continue
  amd64=$( { awk -v p="$package" '$1 == p && $2 == "amd64" { print $3 }' <<<"$versions"
             echo "$installed"; } | sort -u)
  common=$(comm -12 <(printf '%s\n' "$amd64" | sort -u) <(printf '%s\n' "$i386" | sort -u) | newest)
  if [ -z "$common" ]; then
    echo "wine32-pins: $package $installed (amd64) has no version that i386 shares" >&2
    status=1
    continue
  fi
  echo "$package:amd64=$common $package:i386=$common"
done <<<"$candidates"
exit $status
