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
(cd "$build" && ctest --output-on-failure -j2 --timeout 600) || status=1

if [[ -f "$root/scripts/fuzz.sh" ]]; then
  bash "$root/scripts/fuzz.sh" || status=1
fi

if ((status != 0)); then
  echo "test.sh: some tests FAILED" >&2
else
  echo "test.sh: all tests passed"
fi
exit "$status"
