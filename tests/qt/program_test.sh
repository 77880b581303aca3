#!/usr/bin/env bash
# kelvarin as a technician starts it: --version and --help need no display, no display is said
# in one line with status 1, and the folder it works in is the menu's own or the current one.
# Usage: program_test.sh KELVARIN VERSION MAN_PAGE WORK_DIR
set -euo pipefail
kelvarin=$1 version=$2 manpage=$3 work=$4
. "$(dirname "$0")/../support/options.sh"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"

# Runs the program with no display of the caller's, expecting a status; leaves what it printed
# in $out and $err.
run() {
  local want=$1
  shift
  local got=0
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" >"$work/out" 2>"$work/err" || got=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
  [ "$got" = "$want" ] || fail "$* ended with status $got, not $want; out: $out; err: $err"
}

echo "== --version and --help without a display"
run 0 "$kelvarin" --version
[ "$out" = "kelvarin $version" ] || fail "--version printed: $out"
[ -z "$err" ] || fail "--version complained: $err"
run 0 "$kelvarin" --help
grep -q '^usage: kelvarin ' <<<"$out" || fail "--help printed: $out"
awk 'length > 80 { exit 1 }' <<<"$out" || fail "--help runs past 80 columns"
help_options <<<"$out" >"$work/help.options"
man_options "$manpage" >"$work/man.options"
diff -u --label "kelvarin --help" --label "manual page" "$work/help.options" "$work/man.options" ||
  fail "--help and the manual page name different options"

echo "== no display"
check_no_display() {
  echo "$err"
  [ -z "$out" ] || fail "printed on standard output: $out"
  [ "$(wc -l <<<"$err")" = 1 ] || fail "said more than one line: $err"
  grep -q "^kelvarin: no display to open the window on (.*$1.*); kelvarin-cli does" <<<"$err" ||
    fail "did not say why: $err"
}
run 1 "$kelvarin"
check_no_display "DISPLAY"
# A display that is named but is not there: Qt finds out, and it is said the same way.
n=70
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
run 1 env DISPLAY=":$n" "$kelvarin"
check_no_display ":$n"

echo "== usage errors"
run 2 "$kelvarin" --bogus
[ "$err" = "kelvarin: unknown option '--bogus'"$'\n'"Try 'kelvarin --help'." ] || fail "said: $err"

echo "== the folder it works in"
home=$work/home
mkdir -p "$home" "$work/here"
# Starts the window in a folder with the arguments given and stops it once config.cfg has been
# written, which the settings dialog does at start when the file is missing.
start_in() {
  local dir=$1
  shift
  (cd "$dir" && exec env HOME="$home" QT_QPA_PLATFORM=offscreen "$kelvarin" "$@") \
    >"$work/window.log" 2>&1 &
  local pid=$!
  for _ in $(seq 200); do
    [ -e "$home/Kelvarin/config.cfg" ] || [ -e "$dir/config.cfg" ] && break
    kill -0 "$pid" 2>/dev/null || fail "kelvarin $* ended: $(cat "$work/window.log")"
    sleep 0.05
  done
  kill "$pid"
  wait "$pid" || true
}
start_in "$work/here" --menu
[ -f "$home/Kelvarin/config.cfg" ] || fail "from the menu, no config.cfg in ~/Kelvarin"
[ ! -e "$home/config.cfg" ] && [ ! -e "$work/here/config.cfg" ] ||
  fail "from the menu, config.cfg landed elsewhere: $(ls "$home" "$work/here")"
rm "$home/Kelvarin/config.cfg"
start_in "$work/here"
[ -f "$work/here/config.cfg" ] || fail "from a terminal, no config.cfg in the current folder"
[ ! -e "$home/Kelvarin/config.cfg" ] || fail "from a terminal, config.cfg went to ~/Kelvarin"
echo "kelvarin program test passed"
