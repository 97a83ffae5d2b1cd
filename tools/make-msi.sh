#!/usr/bin/env bash
# Builds the Windows Installer package from release folders as tools/package.sh lays
# them out (flashwell-<version>-win32/, -win64/): the programs of one width, the import
# libraries of both.
#   tools/make-msi.sh x86|x64 VERSION WIN32_DIR WIN64_DIR OUT.msi
# The shipped package is x86 (the 32-bit build, into the 32-bit Program Files); x64 is
# the same package of the 64-bit build. VERSION is the program version, four numbers.
set -euo pipefail
[ $# = 5 ] || { echo "usage: $0 x86|x64 VERSION WIN32_DIR WIN64_DIR OUT.msi" >&2; exit 2; }
arch=$1 version=$2 win32=$3 win64=$4 out=$5
root=$(cd "$(dirname "$0")/.." && pwd)
case $arch in
  x86) programs=$win32 ;;
  x64) programs=$win64 ;;
  *) echo "make-msi: unknown architecture $arch" >&2; exit 2 ;;
esac
IFS=. read -r major minor patch tweak rest <<<"$version"
for number in "$major" "$minor" "$patch" "$tweak"; do
  [[ $number =~ ^[0-9]+$ ]] && [ "$number" -le 65535 ] || { echo "make-msi: bad version $version" >&2; exit 2; }
done
[ -z "$rest" ] || { echo "make-msi: bad version $version" >&2; exit 2; }
# Text order equals version order when every number has five digits.
order=$(printf '%05d.%05d.%05d.%05d' "$major" "$minor" "$patch" "$tweak")

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
# wixl takes sources only by paths relative to where it runs.
sources=$(mktemp -d)
trap 'rm -rf "$sources"' EXIT
ln -s "$(cd "$programs" && pwd)" "$sources/programs"
ln -s "$(cd "$win32/lib" && pwd)" "$sources/lib32"
ln -s "$(cd "$win64/lib" && pwd)" "$sources/lib64"
ln -s "$root/updater/art" "$sources/art"
(cd "$sources" && wixl -a "$arch" -o "$out" -D Version="$version" -D VersionOrder="$order" -D Arch="$arch" \
   "$root/installer/Flashwell.wxs")

# What wixl cannot write, as Windows Installer's own tables have it.
query() { msibuild "$out" -q "$1"; }
# Windows Installer compares only the first three numbers of a version, so the older
# product to remove has to include the same three (IncludeMaximum, 0x200; MigrateFeatures,
# 1): otherwise 1.0.0.3 would install beside 1.0.0.2. A package older in the fourth number
# is refused by the VersionOrder condition before anything is removed.
upgrade_code=$(msiinfo export "$out" Property | sed -n 's/^UpgradeCode\t//p' | tr -d '\r')
query "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
query "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty)
       VALUES ('$upgrade_code', '$version', 513, 'WIX_UPGRADE_DETECTED')"
# ImageTool on the machine's PATH (= set on install, - removed with the component,
# * system-wide), appended to what is there ([~]).
query "CREATE TABLE Environment (Environment CHAR(72) NOT NULL, Name LONGCHAR NOT NULL LOCALIZABLE,
       Value LONGCHAR LOCALIZABLE, Component_ CHAR(72) NOT NULL PRIMARY KEY Environment)"
query "INSERT INTO Environment (Environment, Name, Value, Component_)
       VALUES ('ImageToolOnPath', '=-*PATH', '[~];[INSTALLDIR]', 'ImageTool')"
query "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)"
query "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
# The install folder in Apps and Features: ARPINSTALLLOCATION set once the folders are
# resolved (CostFinalize, 1000) by an immediate property-setting action (type 51).
query "INSERT INTO CustomAction (Action, Type, Source, Target)
       VALUES ('SetInstallLocation', 51, 'ARPINSTALLLOCATION', '[INSTALLDIR]')"
query "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('SetInstallLocation', 1001)"
# The installed product's folder (PREVIOUSINSTALLDIR, found by AppSearch at 50) becomes
# INSTALLDIR unless the command line gave one, before the folders are resolved.
query "INSERT INTO CustomAction (Action, Type, Source, Target)
       VALUES ('KeepInstallDir', 51, 'INSTALLDIR', '[PREVIOUSINSTALLDIR]')"
for sequence in InstallExecuteSequence InstallUISequence; do
  query "INSERT INTO $sequence (Action, Condition, Sequence)
         VALUES ('KeepInstallDir', 'PREVIOUSINSTALLDIR AND NOT INSTALLDIR', 60)"
done
