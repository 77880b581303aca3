#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a throwaway root and runs the
# programs from there, so a missing file, a missing dependency or a broken entry shows before
# a technician installs it.
# Usage: package_test.sh BUILD_DIR VERSION HAS_CLI(0|1) WORK_DIR
set -euo pipefail
build=$1 version=$2 has_cli=$3 work=$4

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack could not make the package"
fi
deb=$work/kelvarin_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb; made: $(ls "$work")"

echo "== control"
dpkg-deb -f "$deb" Package Version Architecture Section Priority Maintainer Depends
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
# The dependencies come from dpkg-shlibdeps: the window needs Qt Widgets and every program libc.
for lib in libc6 libstdc++6 libqt6widgets6; do
  grep -q "\\b$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
# grep -q leaves at the first match; under pipefail the writer's SIGPIPE would fail the test.
grep -q dialout <<<"$(dpkg-deb -f "$deb" Description)" ||
  fail "the description does not name the dialout group"

root=$work/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin
for f in usr/bin/kelvarin usr/bin/kelvarin-boxsim usr/share/applications/kelvarin.desktop \
  usr/share/icons/hicolor/scalable/apps/kelvarin.svg usr/share/icons/hicolor/64x64/apps/kelvarin.png \
  usr/share/man/man1/kelvarin.1.gz usr/share/man/man1/kelvarin-boxsim.1.gz \
  usr/share/doc/kelvarin/copyright usr/share/doc/kelvarin/changelog.gz; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done

echo "== installed programs"
# They must run on the system's libraries alone, not on anything in the build folder.
unset LD_LIBRARY_PATH
for p in "$bin"/*; do
  if grep -q "not found" <<<"$(ldd "$p")"; then
    ldd "$p" >&2
    fail "$p needs a library that is not installed"
  fi
done
out=$("$bin/kelvarin-boxsim" --version)
[ "$out" = "kelvarin-boxsim $version" ] || fail "kelvarin-boxsim --version printed: $out"
out=$("$bin/kelvarin-boxsim" --help)
grep -q "^usage: kelvarin-boxsim" <<<"$out" || fail "kelvarin-boxsim --help printed: $out"
echo "$out"

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
desktop-file-validate "$root/usr/share/applications/kelvarin.desktop" ||
  fail "desktop-file-validate rejects the entry"

echo "== lintian"
# Warnings are listed for whoever reads the log; only errors fail the package.
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"
echo "package test passed: $deb"
