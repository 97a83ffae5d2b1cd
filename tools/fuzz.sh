#!/usr/bin/env bash
# Builds every fuzz target (tests/fuzz/*Fuzz.cpp) natively with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs each for SECONDS
# (default 10) on a scratch copy of its seeds (tests/fuzz/corpus/<Subject>/).
# Prints per target the executions and the findings; exits non-zero on any
# finding or a target that does not build. Findings (the inputs) are kept in
# build/fuzz/findings/<Subject>/.
#
# A target names what it compiles with on its first two lines:
#   // fuzz-sources: communicator/RouterCodec.cpp
#   // fuzz-includes: communicator include
set -uo pipefail
seconds=${1:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=build/fuzz
mkdir -p "$out"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
# Undefined behaviour is a finding, not a note in the log.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:abort_on_error=1:print_stacktrace=1}
cxx=${CXX_FUZZ:-clang++}
failed=0
total_runs=0
total_findings=0
shopt -s nullglob
targets=(tests/fuzz/*Fuzz.cpp)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in tests/fuzz" >&2
  exit 1
fi
for target in "${targets[@]}"; do
  name=$(basename "$target" .cpp)
  subject=${name%Fuzz}
  sources=$(sed -n '1s|^// fuzz-sources:||p' "$target")
  includes=$(sed -n '2s|^// fuzz-includes:||p' "$target")
  include_flags=()
  for dir in $includes; do include_flags+=(-I "$dir"); done
  source_files=()
  for file in $sources; do source_files+=("$file"); done
  binary=$out/$name
  if ! $cxx -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined "${include_flags[@]}" \
      "$target" "${source_files[@]}" -o "$binary" 2>"$out/$name.build.log"; then
    echo "$subject: does not build (see $out/$name.build.log)"
    cat "$out/$name.build.log" >&2
    failed=1
    continue
  fi
  scratch=$out/scratch/$subject
  findings=$out/findings/$subject
  rm -rf "$scratch" "$findings"
  mkdir -p "$scratch" "$findings"
  if [ -d "tests/fuzz/corpus/$subject" ]; then cp -r "tests/fuzz/corpus/$subject/." "$scratch/"; fi
  log=$out/$name.log
  "$binary" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/" "$scratch" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  runs=${runs:-0}
  count=$(find "$findings" -type f | wc -l)
  if [ "$status" -ne 0 ] && [ "$count" -eq 0 ]; then count=1; fi
  echo "$subject: $runs executions, $count findings"
  total_runs=$((total_runs + runs))
  total_findings=$((total_findings + count))
  if [ "$count" -ne 0 ]; then
    failed=1
    grep -E "ERROR|runtime error|SUMMARY|Test unit written" "$log" | head -20 >&2
  fi
done
echo "fuzz: ${#targets[@]} targets, $total_runs executions, $total_findings findings"
exit $failed
