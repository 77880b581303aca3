# Installs the Debian packages the build, the tests and the screenshots need, when missing.
# Sourced by ./run and ./test.
kelvarin_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
  xvfb xauth clang libclang-rt-14-dev dpkg-dev lintian desktop-file-utils
  g++-mingw-w64-x86-64-posix googletest wine wine64 file)

kelvarin_install_missing() {
  local missing=()
  for p in "${kelvarin_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

kelvarin_build() {  # build folder, extra cmake arguments...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
