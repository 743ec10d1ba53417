# Shared by ./run and ./test: install what is missing, configure and build.
# Sourced, not run.

QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build, the tests and the program need.
QB_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libbenchmark-dev zlib1g-dev libdeflate-dev
  zip unzip p7zip-full libarchive-tools python3 clang-format-14
  qt6-base-dev xvfb xclip xdotool xauth x11-xserver-utils x11-xkb-utils
  desktop-file-utils xdg-utils shared-mime-info libfile-mimeinfo-perl dpkg-dev man-db
  libwayland-dev  # the Wayland clipboard (data-control)
  libxcb1-dev  # the global hotkey's key grab on X11
  dbus-daemon  # the global shortcut service's test: a private session bus
  sway wl-clipboard  # its end-to-end test: a headless compositor and its command-line peers
)

# What scripts/fuzz.sh needs besides: clang with its fuzzer and sanitizer runtimes,
# and llvm-symbolizer for readable stack traces.
QB_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev llvm-14)

qb_install_missing() {
  local missing=()
  local pkg
  for pkg in "${QB_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

# qb_build DIR [cmake options...]
# QB_CMAKE_ARGS: more options for a build folder configured afresh (CI: -DQB_WERROR=ON).
qb_build() {
  local dir="$1"; shift
  local extra=()
  read -r -a extra <<< "${QB_CMAKE_ARGS:-}"
  if [ ! -f "$QB_ROOT/$dir/build.ninja" ]; then
    cmake -S "$QB_ROOT" -B "$QB_ROOT/$dir" -G Ninja "$@" "${extra[@]}" >/dev/null
  fi
  cmake --build "$QB_ROOT/$dir" -j "$(nproc)"
}
