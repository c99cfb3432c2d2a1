#!/usr/bin/env bash
# The test command: installs what the tests need, builds everything in a fresh
# build directory and runs every test: the logic tests (also under ASan and
# UBSan), the window tests, the end-to-end tests on the real binary and the
# fuzz targets. Exits non-zero when anything fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"

marlivox_install_packages "${MARLIVOX_BUILD_PACKAGES[@]}" "${MARLIVOX_TEST_PACKAGES[@]}"

build="$root/build-test"
rm -rf "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMARLIVOX_TESTS=ON
cmake --build "$build" -j2

status=0
ctest_log="$build/ctest.log"
set +e
(cd "$build" && ctest --output-on-failure -j2 --timeout 600) 2>&1 | tee "$ctest_log"
ctest_status=${PIPESTATUS[0]}
set -e
((ctest_status == 0)) || status=1
# "100% tests passed, 0 tests failed out of 10"
summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$ctest_log" | tail -n 1)
failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$summary")
failed=${failed:-1}
total=${total:-1}

# Each fuzz target counts as one test.
fuzz_failed=0
fuzz_total=0
if [[ -f "$root/scripts/fuzz.sh" ]]; then
  fuzz_total=2
  if ! bash "$root/scripts/fuzz.sh"; then
    status=1
    fuzz_failed=1
  fi
fi

passed=$((total - failed + fuzz_total - fuzz_failed))
if ((status != 0)); then
  echo "test.sh: some tests FAILED" >&2
fi
echo "test.sh: $passed passed, $((failed + fuzz_failed)) failed"
exit "$status"
