# Installs the Debian packages the build, the tests and the screenshots need, when missing.
# Sourced by ./run and ./test.
kelvarin_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
  xvfb xauth clang libclang-rt-14-dev dpkg-dev lintian desktop-file-utils
  g++-mingw-w64-x86-64-posix googletest wine wine64 file)

# What the real-driver rig (tools/rig-check) needs, installed without the recommended extras
# (QEMU's would bring a display); the guest's kernel comes from apt when the rig first runs.
kelvarin_rig_packages=(qemu-system-x86 busybox-static xz-utils)

kelvarin_install_missing() {  # optional: apt-get options, then "--", then the packages
  local options=() packages=("${kelvarin_packages[@]}")
  if [ $# -gt 0 ]; then
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
    packages=("$@")
  fi
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${options[@]}" "${missing[@]}"
}

kelvarin_install_rig() {
  kelvarin_install_missing --no-install-recommends -- "${kelvarin_rig_packages[@]}"
}

kelvarin_build() {  # build folder, extra cmake arguments...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
