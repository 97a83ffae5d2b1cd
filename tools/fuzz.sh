#!/usr/bin/env bash
# Builds every fuzz target tests/fuzz/<Subject>Fuzz.cpp natively with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer into build/fuzz/, and runs each
# for SECONDS (default 10) on a scratch copy of its seeds tests/fuzz/corpus/<Subject>/.
# Prints the executions and findings of each target; exits non-zero on any finding.
#   tools/fuzz.sh [SECONDS]
# A target's first line names the project sources it compiles with, its second
# line (optional) the include folders, both relative to the repository root:
#   // fuzz-sources: communicator/RouterCodec.cpp
#   // fuzz-includes: communicator include
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-10}
out=build/fuzz
mkdir -p "$out"
command -v clang++ >/dev/null || { echo "clang++ is needed for fuzzing" >&2; exit 2; }

status=0
for target in tests/fuzz/*Fuzz.cpp; do
  [ -e "$target" ] || continue
  name=$(basename "$target" .cpp)
  subject=${name%Fuzz}
  sources=$(sed -n '1s|^// fuzz-sources:||p' "$target")
  includes=$(sed -n '2s|^// fuzz-includes:||p' "$target")
  flags=()
  for dir in $includes; do flags+=("-I$dir"); done
  # shellcheck disable=SC2086 # the source list is split on purpose
  clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    "${flags[@]}" "$target" $sources -o "$out/$name"

  scratch=$(mktemp -d)
  artifacts=$out/artifacts/$subject
  rm -rf "$artifacts"  # findings of this run only
  mkdir -p "$artifacts"
  [ -d "tests/fuzz/corpus/$subject" ] && cp -r "tests/fuzz/corpus/$subject/." "$scratch/"
  log=$out/$name.log
  set +e
  "$out/$name" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$scratch" >"$log" 2>&1
  result=$?
  set -e
  rm -rf "$scratch"
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  findings=$(find "$artifacts" -type f | wc -l)
  if [ "$result" -ne 0 ] && [ "$findings" -eq 0 ]; then findings=1; fi
  echo "$subject: ${executions:-0} executions, $findings findings"
  if [ "$findings" -ne 0 ]; then
    status=1
    echo "  see $log and $artifacts/" >&2
  fi
done
exit $status
