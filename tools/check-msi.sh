#!/usr/bin/env bash
# Checks the tables of a package made by tools/make-msi.sh for what Wine's msiexec does not
# show (the install tests, tests/installer/, show the rest): the platform; a per-machine
# install (Wine puts even those shortcuts into the user's Start menu); that it writes no
# registry value but its own, so removal cannot touch the user's store; an upgrade keeping
# the features chosen (Wine lacks MigrateFeatureStates); both refusals of an older package;
# components of the package's width; with RELEASE_DIR, that every file of that release folder
# (the zip's) is installed, so a file added to the release cannot miss the package.
#   tools/check-msi.sh x86|x64 VERSION PACKAGE.msi [RELEASE_DIR]
set -euo pipefail
[ $# = 3 ] || [ $# = 4 ] || { echo "usage: $0 x86|x64 VERSION PACKAGE.msi [RELEASE_DIR]" >&2; exit 2; }
arch=$1 version=$2 msi=$3 release=${4:-}
upgrade_code={8E3B2C61-5F4A-4D8E-A1C7-2B9F6D0E4A73}  # never changes: upgrades find the product by it
refusal='A newer version of Flashwell is already installed on this computer. To go back to this version, remove Flashwell first (Apps and Features, or msiexec /x).'
# shellcheck disable=SC2086  # one number a word
order=$(printf '%05d.%05d.%05d.%05d' ${version//./ })
case $arch in
  x86) template='Intel;1033' bits=0 ;;
  x64) template='x64;1033' bits=1 ;;
  *) echo "check-msi: unknown architecture $arch" >&2; exit 2 ;;
esac
t=$'\t'

# A table's rows, tab-separated (none for a table the package does not have).
rows() { msiinfo export "$msi" "$1" 2>/dev/null | tail -n +4 | tr -d '\r'; }
failed=0
expect() {  # WHAT COMMAND...: WHAT is wrong when COMMAND fails
  "${@:2}" >/dev/null 2>&1 || { echo "check-msi: $(basename "$msi"): $1" >&2; failed=1; }
}
has_row() { rows "$1" | grep -qxF "$2"; }
none() { [ -z "$("$@")" ]; }

expect "not the $arch platform ($template)" grep -qxF "Template: $template" <(msiinfo suminfo "$msi")
expect "not per-machine (ALLUSERS=1)" has_row Property "ALLUSERS${t}1"
expect "not version $version" has_row Property "ProductVersion${t}$version"
expect "another upgrade code" has_row Property "UpgradeCode${t}$upgrade_code"
expect "no Start-menu shortcut to Flashwell.exe, started in the install folder" \
  has_row Shortcut "FlashwellStartMenu${t}ProgramMenuFolder${t}Flashwell${t}Flashwell${t}[#Flashwell.exe]${t}${t}Write new firmware into a board${t}${t}${t}${t}${t}INSTALLDIR${t}${t}${t}${t}"
expect "no system PATH entry with ImageTool" has_row Environment "ImageToolOnPath${t}=-*PATH${t}[~];[INSTALLDIR]${t}ImageTool"
expect "registry values other than HKLM\\Software\\Kelvrin\\Flashwell VersionOrder and InstallDir" \
  none awk -F'\t' '$2 != 2 || $3 != "Software\\Kelvrin\\Flashwell" || ($4 != "VersionOrder" && $4 != "InstallDir")' \
  <(rows Registry)
expect "registry keys removed" none rows RemoveRegistry
expect "older products of the same first three numbers not removed" \
  has_row Upgrade "$upgrade_code${t}${t}$version${t}${t}513${t}${t}WIX_UPGRADE_DETECTED"
expect "the features chosen not kept by an upgrade" has_row InstallExecuteSequence "MigrateFeatureStates${t}${t}1200"
expect "newer products not detected" has_row Upgrade "$upgrade_code${t}$version${t}${t}${t}2${t}${t}WIX_DOWNGRADE_DETECTED"
expect "an older package is not refused with the message" has_row LaunchCondition "NOT WIX_DOWNGRADE_DETECTED${t}$refusal"
expect "a package older in the fourth number is not refused with the message" has_row LaunchCondition \
  "Installed OR NOT INSTALLEDVERSIONORDER OR INSTALLEDVERSIONORDER <= \"$order\"${t}$refusal"
expect "components not all of the package's width" \
  none awk -F'\t' -v bits=$bits 'int($4 / 256) % 2 != bits' <(rows Component)
if [ -n "$release" ]; then
  installed=$(rows File | cut -f3 | sed 's/.*|//' | sort)
  while read -r file; do
    grep -qxF "$file" <<<"$installed" || { echo "check-msi: $(basename "$msi"): $file of the release not installed" >&2; failed=1; }
  done < <(cd "$release" && find . -type f -printf '%f\n' | sort -u)
fi
exit $failed
