#!/usr/bin/env bash
# kelvarin-boxsim as it is started by hand: its help and its manual page name the same options,
# and a second box on a link that another one holds refuses instead of taking it over.
# Usage: program_test.sh KELVARIN_BOXSIM MAN_PAGE WORK_DIR
set -euo pipefail
boxsim=$1 manpage=$2 work=$3
. "$(dirname "$0")/../support/options.sh"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT

echo "== --help and the manual page"
"$boxsim" --help >"$work/help"
awk 'length > 80 { exit 1 }' "$work/help" || fail "--help runs past 80 columns"
help_options <"$work/help" >"$work/help.options"
man_options "$manpage" >"$work/man.options"
diff -u --label "kelvarin-boxsim --help" --label "manual page" "$work/help.options" \
  "$work/man.options" || fail "--help and the manual page name different options"
cat "$work/help.options"

# Starts a box on the link in the background; its pid goes to $started.
start_box() {
  "$boxsim" --link "$work/box" >"$work/box$1.out" 2>"$work/box$1.err" &
  started=$!
  pids+=("$started")
  for _ in $(seq 100); do
    grep -q '^link: ' "$work/box$1.out" 2>/dev/null && return 0
    kill -0 "$started" 2>/dev/null || fail "box $1 ended: $(cat "$work/box$1.err")"
    sleep 0.05
  done
  fail "box $1 did not start"
}

echo "== one box to a link"
start_box 1
first=$started
device=$(sed -n 's/^device: //p' "$work/box1.out")
set +e
"$boxsim" --link "$work/box" >"$work/second.out" 2>"$work/second.err"
status=$?
set -e
cat "$work/second.err"
[ "$status" = 1 ] || fail "the second box ended with status $status, not 1"
[ "$(cat "$work/second.err")" = \
  "kelvarin-boxsim: the link $work/box is held by another simulated box (process $first)" ] ||
  fail "the second box said: $(cat "$work/second.err")"
[ ! -s "$work/second.out" ] || fail "the second box printed: $(cat "$work/second.out")"
[ "$(readlink "$work/box")" = "$device" ] || fail "the link no longer leads to the first box"
kill -0 "$first" || fail "the first box ended"

echo "== a box that was killed holds nothing"
kill -KILL "$first"
wait "$first" 2>/dev/null || true
start_box 3
[ "$(readlink "$work/box")" = "$(sed -n 's/^device: //p' "$work/box3.out")" ] ||
  fail "the new box did not take the link"
kill -TERM "$started"
wait "$started" || fail "the box stopped by SIGTERM ended with $?"
[ ! -e "$work/box" ] || fail "the box left its link behind"
[ "$(ls -A "$work" | grep -c '^box$\|^box\.')" = 0 ] || fail "the box left files beside its link: $(ls -A "$work")"
echo "kelvarin-boxsim program test passed"
