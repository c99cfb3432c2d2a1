#!/bin/bash
# Runs one command under a private Xvfb of its own, with a private home and
# runtime directory, and passes its exit code through.
#   tests/with_xvfb.sh COMMAND [ARGS...]
set -u

work=$(mktemp -d "${TMPDIR:-/tmp}/marlivox-xvfb.XXXXXX")
cleanup() {
  if [[ -n "${xvfb_pid:-}" ]]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to fd 3 once it is ready.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [[ -s "$work/display" ]] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "with_xvfb.sh: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  sleep 0.1
done
if [[ ! -s "$work/display" ]]; then
  echo "with_xvfb.sh: Xvfb gave no display number" >&2
  exit 1
fi

mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
export HOME="$work/home"
export XDG_RUNTIME_DIR="$work/runtime"
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY

"$@"
exit $?
