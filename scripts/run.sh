#!/usr/bin/env bash
# Builds the keyer and starts it. Run it from the directory where its settings
# file "marlivox.cnf" should live (the keyer keeps it in its working directory).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"

marlivox_install_packages "${MARLIVOX_BUILD_PACKAGES[@]}"

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMARLIVOX_TESTS=OFF
cmake --build "$root/build" -j2 --target marlivox

exec "$root/build/marlivox"
