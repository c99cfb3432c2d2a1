#!/usr/bin/env bash
# Builds the two libFuzzer targets with clang and runs each for a bounded
# time from the seeds in tests/fuzz/corpus/. Exits non-zero on a finding
# (the input that found it is kept in the build directory's fuzz-findings/).
#
#   MARLIVOX_FUZZ_BUILD_DIR  build directory (default: build-fuzz)
#   MARLIVOX_FUZZ_SECONDS    seconds per target (default: 20)
#   MARLIVOX_JOBS            parallel build jobs (default: 1)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MARLIVOX_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${MARLIVOX_FUZZ_SECONDS:-20}
jobs=${MARLIVOX_JOBS:-1}
targets=(settings_file_fuzz number_fuzz)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIVOX_FUZZ=ON -DMARLIVOX_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  # New inputs go to a working corpus in the build directory; the committed
  # seeds are only read.
  corpus="$build/fuzz-corpus/$target"
  findings="$build/fuzz-findings"
  mkdir -p "$corpus" "$findings"
  echo "== $target: ${seconds}s"
  if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
       -artifact_prefix="$findings/$target-" \
       "$corpus" "$root/tests/fuzz/corpus/$target" 2>"$build/$target.log"; then
    tail -n 40 "$build/$target.log" >&2
    echo "== $target: FINDING (see $findings)" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" || true
    echo "== $target: clean"
  fi
done
exit "$status"
