# The Debian packages the keyer needs, and a helper that installs the missing
# ones. Sourced by run.sh and test.sh; not meant to be run by itself.

# What it takes to build and run the keyer.
MARLIVOX_BUILD_PACKAGES=(
  build-essential
  cmake
  ninja-build
  pkg-config
  qt6-base-dev
  qt6-qpa-plugins
  libsdl2-dev
  libx11-dev
  libxkbcommon-dev
  fonts-dejavu-core
  libbenchmark-dev  # the configure step also sets up the benchmarks in bench/
)

# What the tests need on top: the test frameworks, the fuzzing compiler (the
# "clang" package gives the plain clang and clang++ commands), a private X
# server and sound server, and the tools that drive the window and read what
# it shows.
MARLIVOX_TEST_PACKAGES=(
  googletest
  libgtest-dev
  libgmock-dev
  clang
  clang-14
  libclang-rt-14-dev
  python3
  xvfb
  xdotool
  x11-utils
  x11-xkb-utils
  xkb-data
  xclip
  imagemagick
  tesseract-ocr
  pulseaudio
  pulseaudio-utils
  sox
  desktop-file-utils
  appstream
  dbus-daemon   # the accessibility test: a private session bus,
  dbus-bin      # dbus-send to wake its accessibility bus,
  at-spi2-core  # and the launcher of that bus
)

# Prints the packages among the arguments that are not installed.
marlivox_missing_packages() {
  local package status
  for package in "$@"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "installed" ]]; then
      echo "$package"
    fi
  done
}

# Installs the packages among the arguments that are missing: directly when
# root, through sudo when it works without a password or can ask for one on a
# terminal, otherwise it says what to install and fails. The package lists are refreshed only when
# something is missing.
marlivox_install_packages() {
  local missing
  mapfile -t missing < <(marlivox_missing_packages "$@")
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  local -a apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
  if ((EUID != 0)); then
    if command -v sudo >/dev/null 2>&1 && { sudo -n true 2>/dev/null || [[ -t 0 ]]; }; then
      apt=(sudo env DEBIAN_FRONTEND=noninteractive apt-get)
    else
      echo "These Debian packages are missing: ${missing[*]}" >&2
      echo "Install them as root:  apt-get install ${missing[*]}" >&2
      return 1
    fi
  fi
  echo "Installing: ${missing[*]}" >&2
  "${apt[@]}" update -qq || return 1
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" || return 1
}
