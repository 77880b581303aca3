# Installs the Debian packages that are missing, by purpose. Sourced by ./run, ./test and the
# tools.
#   run:     build and run the window, the command line and the simulated box
#   package: make the Debian package (cpack -G DEB)
#   test:    the tests and everything ./test does besides: GoogleTest, a virtual display, the
#            sanitizer and fuzz compiler, the package checks, the Windows cross build, its
#            installer (wixl) and wine
#   rig:     the real-driver rig (tools/rig-check): QEMU and a static busybox; the guest's kernel
#            comes from apt when the rig first runs
kelvarin_run_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libsqlite3-dev libpq-dev)
kelvarin_package_packages=(dpkg-dev file)
kelvarin_test_packages=(libgtest-dev libgmock-dev xvfb xauth clang libclang-rt-14-dev lintian
  desktop-file-utils g++-mingw-w64-x86-64-posix googletest wine wine64 wixl strace postgresql
  sqlite3 python3 jq openssl
  tcl make perl bzip2 xz-utils debian-archive-keyring)
kelvarin_rig_packages=(qemu-system-x86 busybox-static xz-utils)

kelvarin_install_missing() {  # purposes...: run, package, test
  local wanted=() missing=() purpose list p
  for purpose in "$@"; do
    list="kelvarin_${purpose}_packages[@]"
    wanted+=("${!list}")
  done
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "These Debian packages are missing: ${missing[*]}" >&2
      echo "Installing them needs root: run this again as root, or install sudo (as root:" \
        "apt-get install sudo, then adduser $(id -un) sudo and log in again)." >&2
      return 1
    fi
    sudo="sudo"
  fi
  # apt's own output goes to a log; one line says what each step does.
  local log
  log=$(pwd)/build/apt.log
  mkdir -p build
  : >"$log"
  local recommends=--no-install-recommends
  # What a package only recommends is left out of a set-up that never uses it; the test
  # stage keeps Debian's default, as the Windows stage has been run with it.
  [[ " $* " == *" test "* ]] && recommends=
  echo "updating the package lists (apt-get update; its output in $log)..."
  $sudo apt-get update >>"$log" 2>&1 || { tail -n 20 "$log" >&2; return 1; }
  local count size
  count=$(DEBIAN_FRONTEND=noninteractive apt-get install -s $recommends "${missing[@]}" 2>/dev/null |
    grep -c '^Inst ' || true)
  size=$(apt-get install --print-uris -qq $recommends "${missing[@]}" 2>/dev/null |
    awk "/^'/ { n += \$3 } END { printf \"%.1f\", n / 1000000 }" || true)
  echo "installing ${count} packages (${size:-?} MB to download) for: ${missing[*]}..."
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $recommends "${missing[@]}" >>"$log" 2>&1 ||
    { tail -n 20 "$log" >&2; echo "apt-get install failed; all of its output is in $log" >&2; return 1; }
}

kelvarin_build() {  # build folder, extra cmake arguments...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

kelvarin_no_display_hint() {  # build folder: what ./run says without a display
  local build=$1 box
  # A link of this user's own: another user's box may hold one in the shared /tmp.
  box=/tmp/kelvarin-box-$(id -un)
  echo "No display, so no window. The command line does the same work from a terminal:"
  echo "  $build/boxsim/kelvarin-boxsim --link $box >$box.log 2>&1 &"
  echo "  head -c 300000 /dev/urandom >test.bin"
  echo "  $build/cli/kelvarin-cli --port $box upload test.bin"
  echo "The box's log is $box.log; $build/cli/kelvarin-cli help COMMAND tells what a command does."
  if command -v man >/dev/null; then
    echo "The manual page: man -l $build/packaging/man/kelvarin-cli.1"
  fi
}

