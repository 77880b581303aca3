#!/usr/bin/env bash
# Every command line the README and the manual pages show, run as a reader would type it,
# against simulated boxes behind the ports they name (ttyUSB0 to ttyUSB3 are links in the
# folder of each document), and the lines ./run prints without a display. jq's examples run
# when jq is installed. A line that fails, or prints "null" through jq, fails the test.
# Usage: examples_test.sh SOURCE_DIR KELVARIN_CLI KELVARIN_BOXSIM WORK_DIR
set -euo pipefail
source=$1 cli=$2 boxsim=$3 work=$4

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work/bin"
ln -s "$cli" "$work/bin/kelvarin-cli"
ln -s "$boxsim" "$work/bin/kelvarin-boxsim"
export PATH="$work/bin:$PATH" XDG_DATA_HOME="$work/data"
trap 'jobs -p | xargs -r kill 2>/dev/null || true; wait 2>/dev/null || true' EXIT

wait_for_link() {  # the file a box writes its device and link to
  for _ in $(seq 200); do grep -q "^link: " "$1" 2>/dev/null && return 0; sleep 0.05; done
  fail "a simulated box did not start: $(cat "$1" "${1%.out}.log" 2>/dev/null)"
}

# The command lines of a document: README's fenced blocks, a manual page's .EX blocks, each
# line that starts a command of ours (after a "$ " prompt, in v=$(...)), continued lines joined.
commands() {
  case $1 in
    *.md) awk '/^```/ { inside = !inside; next } inside' "$1" ;;
    *) awk '/^\.EX/ { ex = 1; next } /^\.EE/ { ex = 0 } ex' "$1" |
      sed -e 's/\\-/-/g' -e 's/\\(aq/'"'"'/g' -e 's/\\e/\\/g' ;;
  esac | sed -e 's/^\$ //' | awk '
    joined != "" { joined = joined " " $0 } joined == "" { joined = $0 }
    /(\\|\|)$/ { sub(/\\$/, "", joined); next }
    { print joined; joined = "" }' |
    grep -E '^([a-z]=\$\()?(kelvarin-cli|kelvarin-boxsim|printf) ' || true
}

run_document() {  # document, folder
  local doc=$1 dir=$2 line n=0
  mkdir -p "$dir"
  cd "$dir"
  # The ports the examples name, each a box of its own; config.cfg names the first.
  for i in 0 1 2 3; do
    kelvarin-boxsim --link "$dir/ttyUSB$i" >"box$i.out" 2>"box$i.log" &
    wait_for_link "box$i.out"
  done
  printf '%s 115200 8 0 0' ./ttyUSB0 >config.cfg
  for image in image.bin release.bin release-4.2.bin fw.bin; do head -c 70000 /dev/urandom >"$image"; done
  awk '/^# line3.job/ { on = 1 } on && /^```/ { exit } on' "$source/README.md" >line3.job
  while IFS= read -r line; do
    n=$((n + 1))
    # The ports of the page are this folder's links.
    line=$(sed -E -e 's#(/dev/)?(ttyUSB[0-3])#./\2#g' <<<"$line")
    if grep -q '| *jq ' <<<"$line" && ! command -v jq >/dev/null; then
      echo "skipped (no jq): $line"
      continue
    fi
    # A station serves box after box until it is stopped, as an operator stops it.
    grep -q -- '--repeat' <<<"$line" && line="timeout --foreground --preserve-status -s INT 15 $line"
    echo "\$ $line"
    # A box started in the background logs to files of its own, stays this shell's to stop,
    # and is waited for.
    if grep -q '^kelvarin-boxsim .*&$' <<<"$line"; then
      eval "${line%&} >started$n.out 2>started$n.log &"
      wait_for_link "started$n.out"
      continue
    fi
    status=0
    (set -o pipefail && eval "$line") >"out$n" 2>"err$n" || status=$?
    [ "$status" = 0 ] || fail "$(basename "$doc"): $line: status $status: $(cat "err$n")"
    if grep -q '| *jq ' <<<"$line"; then
      [ -s "out$n" ] || fail "$line printed nothing"
      ! grep -qx null "out$n" || fail "$line printed null: $(cat "out$n")"
    fi
  done < <(commands "$doc")
  [ "$n" -gt 0 ] || fail "no command lines found in $doc"
  jobs -p | xargs -r kill 2>/dev/null || true
  wait 2>/dev/null || true
}

for doc in "$source/README.md" "$source"/packaging/man/*.1.in; do
  echo "== $(basename "$doc")"
  run_document "$doc" "$work/$(basename "$doc")"
done

echo "== the README's bad job"
cd "$work/README.md"
sed 's/DLPid/DLpid/' line3.job >bad.job && mv bad.job line3.job
said=$(grep -o '"bad job: line3.job:[0-9]*: [^"]*"' "$source/README.md" | tr -d '"' | tr '\n' ' ')
[ -n "$said" ] || fail "the README quotes no bad job"
status=0
kelvarin-cli -p ./ttyUSB0 job line3.job 2>err.txt || status=$?
[ "$status" = 2 ] || fail "a bad job exits $status"
grep -qF "kelvarin-cli: ${said% }" err.txt || fail "the README says \"$said\", the tool: $(cat err.txt)"

echo "== what the README says ./run installs"
said=$(tr '\n' ' ' <"$source/README.md" | grep -o 'through `apt-get`: [^)]*without what they' |
  grep -o '`[a-z0-9.+-]*`' | tr -d '`' | grep -v '^apt-get$' | sort | tr '\n' ' ')
installs=$(bash -c ". '$source/tools/deps.sh' && printf '%s\n' \"\${kelvarin_run_packages[@]}\"" |
  sort | tr '\n' ' ')
[ "$said" = "$installs" ] || fail "the README lists \"$said\", ./run installs \"$installs\""

echo "== what ./run says without a display"
cd "$work"
hint=$(bash -c ". '$source/tools/deps.sh' && kelvarin_no_display_hint '$(dirname "$(dirname "$cli")")'")
echo "$hint"
box=/tmp/kelvarin-box-$(id -un)
rm -f "$box"
# Line by line, as typed: the box gets the moment a person takes to type the next line.
while IFS= read -r line; do
  eval "$line" >>hint.out 2>>hint.err || fail "$line failed: $(cat hint.err)"
  for _ in $(seq 200); do [ -e "$box" ] && break; sleep 0.05; done
done < <(grep '^  ' <<<"$hint")
grep -q "box 1: ok" hint.err || fail "the hint's upload did not say the box is ok: $(cat hint.err)"
grep -q "block 0: ok" "$box.log" || fail "the box's log is not in $box.log"
! grep -q "block 0" hint.out hint.err || fail "the box's log runs through the tool's output"
echo "ok"
