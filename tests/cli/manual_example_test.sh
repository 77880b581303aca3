#!/usr/bin/env bash
# The manual page's first example, run as it is written there against the simulated box, then
# the way back from run-app that a script can use: the power switch (SIGUSR1) and
# --app-seconds.
# Usage: manual_example_test.sh KELVARIN_CLI KELVARIN_BOXSIM MAN_PAGE WORK_DIR
set -euo pipefail
cli=$1 boxsim=$2 manpage=$3 work=$4

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work/bin"
ln -s "$cli" "$work/bin/kelvarin-cli"
ln -s "$boxsim" "$work/bin/kelvarin-boxsim"
export PATH="$work/bin:$PATH"
cd "$work"
trap 'jobs -p | xargs -r kill 2>/dev/null; wait || true' EXIT

# The lines of the first example, as a reader would type them.
awk '/^\.SH EXAMPLES/ { on = 1 } on && /^\.EX/ { ex = 1; next } ex && /^\.EE/ { exit } ex' \
  "$manpage" | sed -e 's/\\-/-/g' -e 's/\\e/\\/g' >example.sh
grep -q '^kelvarin-cli verify' example.sh || fail "no verify in the example: $(cat example.sh)"
echo "== the example"
cat example.sh
head -c 70000 /dev/urandom >image.bin
# The box it starts in the background needs a moment for its link.
sed -i 's/^\(kelvarin-boxsim .*\)&$/\1 >box.out 2>box.log \&\nbox_pid=$!\nfor _ in $(seq 200); do grep -q "^link: " box.out \&\& break; sleep 0.05; done/' example.sh
# Run in this shell, so that the box it starts is one of its jobs and ends with it.
if ! . ./example.sh >example.out 2>example.err; then fail "the example failed: $(cat example.err)"; fi
grep -qx same example.out || fail "verify did not say same: $(cat example.out example.err)"

echo "== run-app and the way back"
kelvarin-cli -p ./box run-app >/dev/null 2>&1 || fail "run-app failed"
status=0
kelvarin-cli -p ./box --wait 2 version >/dev/null 2>&1 || status=$?
[ "$status" = 4 ] || fail "the application answered the loader protocol (status $status)"
kill -USR1 "$box_pid" || fail "no box to power-cycle"
kelvarin-cli -p ./box --wait 10 version >version.out 2>&1 || fail "no loader after the power cycle"
grep -q "power cycle -> loader waits for sync" box.log || fail "the box did not log its power cycle"

kelvarin-boxsim --link box2 --app-seconds 1 >box2.out 2>box2.log &
for _ in $(seq 200); do grep -q "^link: " box2.out && break; sleep 0.05; done
kelvarin-cli -p ./box2 run-app >/dev/null 2>&1 || fail "run-app on box2 failed"
kelvarin-cli -p ./box2 --wait 10 version >/dev/null 2>&1 || fail "no loader after --app-seconds"
grep -q "the application ended -> loader waits for sync" box2.log || fail "box2 did not log the end"
echo "ok"
