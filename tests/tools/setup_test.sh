#!/usr/bin/env bash
# The set-up as a user without root and without sudo (a minimal Debian, a container): it says
# that it needs root and what to do, instead of "sudo: command not found".
# Usage: setup_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1 work=$2
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
  echo "skipped: needs root to become another user"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work/bin" "$work/home"
# The commands the check uses, and no sudo among them.
for tool in bash dpkg-query grep id mkdir; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
chmod -R a+rwX "$work"
if ! setpriv --reuid=65534 --regid=65534 --clear-groups test -r "$src/tools/deps.sh" -a -x "$work/bin"; then
  echo "skipped: another user cannot read $src or $work"
  exit 77
fi
status=0
(cd "$work/home" && setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH="$work/bin" \
  bash -c ". '$src/tools/deps.sh'; kelvarin_run_packages=(kelvarin-no-such-package);
    kelvarin_install_missing run") >"$work/out" 2>"$work/err" || status=$?
cat "$work/err"
[ "$status" = 1 ] || { echo "FAIL: status $status, not 1"; exit 1; }
grep -q "kelvarin-no-such-package" "$work/err" || { echo "FAIL: the missing package is not named"; exit 1; }
grep -q "needs root: run this again as root, or install sudo" "$work/err" ||
  { echo "FAIL: it does not say what to do"; exit 1; }
! grep -q "command not found" "$work/err" || { echo "FAIL: a command was not found"; exit 1; }
echo "ok"
