#!/usr/bin/env bash
# Checks what the keyer installs for the desktop: the menu entry and the
# AppStream metainfo pass their validators, and `cmake --install` into a
# temporary prefix puts the program, the entry, the metainfo and the icon in
# all four sizes where a desktop looks for them.
#
# Usage: packaging_test.sh SOURCE_DIR BUILD_DIR [CMAKE]
set -uo pipefail

source_dir=$1
build_dir=$2
cmake=${3:-cmake}
app_id=org.marlivox.Marlivox

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for tool in desktop-file-validate appstreamcli; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: $tool is not installed (packages desktop-file-utils, appstream)" >&2
    exit 1
  fi
done

# desktop-file-validate exits 0 on warnings and hints; any output is a finding.
output=$(desktop-file-validate "$source_dir/packaging/marlivox.desktop" 2>&1)
if [[ $? -ne 0 || -n "$output" ]]; then
  fail "desktop-file-validate: $output"
fi

if ! output=$(appstreamcli validate --no-net --no-color \
                "$source_dir/packaging/$app_id.metainfo.xml" 2>&1); then
  fail "appstreamcli validate: $output"
fi

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
if ! output=$("$cmake" --install "$build_dir" --prefix "$prefix" 2>&1); then
  fail "cmake --install: $output"
fi

[[ -x "$prefix/bin/marlivox" ]] || fail "bin/marlivox is not installed or not executable"
[[ -f "$prefix/share/applications/marlivox.desktop" ]] || fail "share/applications/marlivox.desktop is missing"
[[ -f "$prefix/share/metainfo/$app_id.metainfo.xml" ]] || fail "share/metainfo/$app_id.metainfo.xml is missing"

# The width and height stored in a PNG's header (bytes 16 to 23, big-endian).
png_size() {
  local -a b
  read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
  echo "$(( (b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3] ))x$(( (b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7] ))"
}
for size in 16 24 32 64; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/marlivox.png"
  if [[ ! -f "$icon" ]]; then
    fail "the ${size} px icon is not installed at ${icon#"$prefix"/}"
  elif [[ $(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n') != 89504e470d0a1a0a ]]; then
    fail "${icon#"$prefix"/} is not a PNG"
  elif [[ $(png_size "$icon") != "${size}x${size}" ]]; then
    fail "${icon#"$prefix"/} is $(png_size "$icon"), not ${size}x${size}"
  fi
done

# The menu entry starts the installed program and shows the installed icon.
entry="$prefix/share/applications/marlivox.desktop"
if [[ -f "$entry" ]]; then
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  icon_name=$(sed -n 's/^Icon=//p' "$entry")
  [[ -x "$prefix/bin/$exec_name" ]] || fail "Exec=$exec_name names no installed program"
  [[ -f "$prefix/share/icons/hicolor/64x64/apps/$icon_name.png" ]] ||
    fail "Icon=$icon_name names no installed icon"
fi

# The installed tree as a whole: the metainfo finds its desktop entry and icon.
if ! output=$(appstreamcli validate-tree --no-net --no-color "$prefix" 2>&1); then
  fail "appstreamcli validate-tree: $output"
fi

if ((failures > 0)); then
  echo "packaging: $failures finding(s)" >&2
  exit 1
fi
echo "packaging: desktop entry, metainfo and installed tree are in order"
