#!/usr/bin/env bash
# Builds the Debian package twice, from the build folder and from a fresh build in another
# folder, and compares the two byte for byte: the same commit must give the same package.
# Then unpacks it into a throwaway root and runs the programs from there, so a missing file, a
# missing dependency, a broken entry or a binary without Debian's hardening shows before a
# technician installs it.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR VERSION HAS_CLI(0|1) WORK_DIR BUILD_TYPE
#                        CXX_COMPILER COMPILER_LAUNCHER
set -euo pipefail
source=$1 build=$2 version=$3 has_cli=$4 work=$5 build_type=$6 cxx=$7 launcher=${8:-}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
deb_name=kelvarin_${version}_amd64.deb

# cpack from a build folder into out/; the package's path goes to $made.
package() {
  local from=$1 out=$2
  mkdir -p "$out"
  if ! cpack -G DEB --config "$from/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log" >&2
    fail "cpack could not make the package from $from"
  fi
  made=$out/$deb_name
  [ -f "$made" ] || fail "no $made; made: $(ls "$out")"
}

# A build of what the package holds, from nothing, in a folder of its own, without a compiler
# cache: what a distribution's builder would do.
fresh_build() {
  local dir=$1 targets=(kelvarin kelvarin-boxsim kelvarin_packaging_files)
  [ "$has_cli" = 1 ] && targets+=(kelvarin-cli)
  echo "fresh build in $dir"
  if ! { cmake -S "$source" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON &&
    CCACHE_DISABLE=1 cmake --build "$dir" -j 2 --target "${targets[@]}"; } >"$dir.log" 2>&1; then
    tail -n 30 "$dir.log" >&2
    fail "the fresh build in $dir failed"
  fi
}

echo "== two builds, one package"
start=$(date +%s)
# A compiler cache keys its objects without the path maps that keep build folders out of
# them, so a build through one is not compared; it gets a fresh build instead.
if [ -n "$launcher" ]; then
  fresh_build "$work/first-build"
  package "$work/first-build" "$work/first"
else
  package "$build" "$work/first"
fi
deb=$made
fresh_build "$work/second-build"
package "$work/second-build" "$work/second"
echo "$(sha256sum "$deb" "$made")"
if ! cmp "$deb" "$made"; then
  for side in first second; do
    mkdir -p "$work/$side/unpacked"
    dpkg-deb -R "$work/$side/$deb_name" "$work/$side/unpacked"
  done
  diff -r "$work/first/unpacked" "$work/second/unpacked" >&2 || true
  fail "two builds of the same sources gave different packages"
fi
echo "identical ($(($(date +%s) - start)) s)"

echo "== control"
dpkg-deb -f "$deb" Package Version Architecture Section Priority Maintainer Depends
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
# The dependencies come from dpkg-shlibdeps: the window needs Qt Widgets and every program libc.
for lib in libc6 libstdc++6 libqt6widgets6; do
  grep -q "\\b$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q '\bbash-completion\b' <<<"$(dpkg-deb -f "$deb" Recommends)" ||
  fail "the package does not recommend bash-completion, which its completion needs"
grep -q dialout <<<"$(dpkg-deb -f "$deb" Description)" ||
  fail "the description does not name the dialout group"
# The files carry the commit's time, not the build's.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct 2>/dev/null || echo 1796644800)}
expected=$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M')
dated=$(dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv | awk '{ print $4, $5 }' | sort -u)
[ "$dated" = "$expected" ] || fail "the files are dated $dated, not $expected (the commit's time)"

root=$work/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin
for f in usr/bin/kelvarin usr/bin/kelvarin-boxsim usr/share/applications/kelvarin.desktop \
  usr/share/icons/hicolor/scalable/apps/kelvarin.svg usr/share/icons/hicolor/64x64/apps/kelvarin.png \
  usr/share/man/man1/kelvarin.1.gz usr/share/man/man1/kelvarin-boxsim.1.gz \
  usr/share/doc/kelvarin/copyright usr/share/doc/kelvarin/changelog.gz; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done

echo "== hardening"
# What lintian and hardening-check look for: a position-independent executable, read-only
# relocations bound at start, the stack protector, and fortified calls.
for p in "$bin"/*; do
  name=${p##*/}
  header=$(readelf -h "$p") dynamic=$(readelf -d "$p") segments=$(readelf -lW "$p")
  symbols=$(readelf --dyn-syms -W "$p")
  grep -q 'Type:.*DYN' <<<"$header" || fail "$name is not position-independent"
  grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || fail "$name is not marked PIE"
  grep -q GNU_RELRO <<<"$segments" || fail "$name has no RELRO segment"
  grep -q 'BIND_NOW' <<<"$dynamic" || fail "$name is not bound now (no full RELRO)"
  grep -q '__stack_chk_fail' <<<"$symbols" || fail "$name has no stack protector"
  grep -qE '__[a-z0-9_]+_chk\b' <<<"$symbols" || fail "$name calls no fortified function"
  echo "$name: PIE, full RELRO, stack protector, fortified"
done

echo "== installed programs"
# They must run on the system's libraries alone, not on anything in the build folder.
unset LD_LIBRARY_PATH
for p in "$bin"/*; do
  if grep -q "not found" <<<"$(ldd "$p")"; then
    ldd "$p" >&2
    fail "$p needs a library that is not installed"
  fi
  # No trace of the folders it was built in.
  if grep -aqF -e "$source" -e "$work" "$p"; then
    fail "$p holds the path of the folder it was built in"
  fi
done
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/kelvarin" --version)
[ "$out" = "kelvarin $version" ] || fail "kelvarin --version printed: $out"
out=$("$bin/kelvarin-boxsim" --version)
[ "$out" = "kelvarin-boxsim $version" ] || fail "kelvarin-boxsim --version printed: $out"
out=$("$bin/kelvarin-boxsim" --help)
grep -q "^usage: kelvarin-boxsim" <<<"$out" || fail "kelvarin-boxsim --help printed: $out"

if [ -x "$bin/kelvarin-cli" ]; then
  [ -f "$root/usr/share/man/man1/kelvarin-cli.1.gz" ] || fail "the package lacks kelvarin-cli's manual page"
  [ -f "$root/usr/share/bash-completion/completions/kelvarin-cli" ] ||
    fail "the package lacks kelvarin-cli's bash completion"
  out=$("$bin/kelvarin-cli" --version)
  grep -q "^kelvarin-cli $version" <<<"$out" || fail "kelvarin-cli --version printed: $out"
  echo "$out"
elif [ "$has_cli" = 1 ]; then
  fail "the build has kelvarin-cli but the package does not"
else
  echo "SKIP kelvarin-cli check: this build has no kelvarin-cli target"
fi

echo "== desktop entry"
entry=$root/usr/share/applications/kelvarin.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
# From the menu the program works in a folder of its own, not in the home folder.
grep -qx 'Exec=kelvarin --menu' "$entry" || fail "the entry does not start kelvarin --menu"

echo "== lintian"
# Every tag is listed for whoever reads the log; errors and any hardening tag fail.
lintian --display-info --display-experimental --pedantic --tag-display-limit 0 "$deb" 2>&1 |
  grep -v 'running with root privileges' | tee "$work/lintian.log" || true
if grep -qE '^E: ' "$work/lintian.log"; then
  fail "lintian reports errors"
fi
if grep -q 'hardening' "$work/lintian.log"; then
  fail "lintian reports missing hardening"
fi
echo "package test passed: $deb"
