#!/usr/bin/env bash
# scripts/demo as a newcomer uses it, offscreen: the local server and both windows come up, a
# message Ana sends from her installation reaches Luis's window when that window receives, and
# stopping the demo closes both windows.
#   demo_test.sh SOURCE_DIR BUILD_DIR (the server takes a free port)
set -euo pipefail
source_dir=$1 build=$2
port=$("$(dirname "$0")/../support/free_port")

tmp=$(mktemp -d)
demo_pid=""
cleanup() {
  if [[ -n $demo_pid ]] && kill -0 "$demo_pid" 2>/dev/null; then
    kill -TERM "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
  fi
  "$source_dir/mailbox-server/run-local" --state "$tmp/server" stop >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- demo output" >&2
  cat "$tmp/demo.log" >&2 || true
  exit 1
}

export QT_QPA_PLATFORM=offscreen
export VELKORANT_BUILD_DIR=$build
program=$build/src/velkorant
cli=$build/src/velkorant-cli
demo_dir=$tmp/demo

"$source_dir/scripts/demo" --folder "$demo_dir" --port "$port" --state "$tmp/server" \
  >"$tmp/demo.log" 2>&1 &
demo_pid=$!

# wait_for SECONDS COMMAND...: true once the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    kill -0 "$demo_pid" 2>/dev/null || return 1
    sleep 0.2
  done
}
demo_says() { grep -q "$1" "$tmp/demo.log"; }
wait_for 90 demo_says "windows running" || fail "the demo did not start its windows"
ana=$(sed -n 's/^demo: Ana  = \([^ ]*\) .*/\1/p' "$tmp/demo.log")
luis=$(sed -n 's/^demo: Luis = \([^ ]*\) .*/\1/p' "$tmp/demo.log")
[[ $ana == Ana_demo_* && $luis == Luis_demo_* ]] || fail "user names \"$ana\" and \"$luis\""
window_pids=$(sed -n 's/^demo: windows running (process ids \([0-9 ]*\)).*/\1/p' "$tmp/demo.log")

# A receive asked of a window answers once the window is up (a fresh user has nothing yet).
receive_in() {
  (cd "$demo_dir/$1/work" && timeout 60 "$program" --receive)
}
wait_for 60 receive_in ana || fail "Ana's window does not answer"
wait_for 60 receive_in luis || fail "Luis's window does not answer"

ca=$("$source_dir/mailbox-server/run-local" --state "$tmp/server" status | sed -n 's/^ca=//p')
(cd "$demo_dir/ana/work" && XDG_CONFIG_HOME=$demo_dir/ana/config CURL_CA_BUNDLE=$ca \
  "$cli" send --to "$luis" --subject "Hola desde la demo" --profile Demo <<<"¿Nos vemos mañana?") \
  || fail "Ana could not send"

receive_in luis || fail "Luis's window did not receive"
listing=$(cd "$demo_dir/luis/work" && XDG_CONFIG_HOME=$demo_dir/luis/config "$cli" list)
grep -q "Hola desde la demo.*$ana" <<<"$listing" || fail "Luis's store lacks the message: $listing"
body=$(cd "$demo_dir/luis/work" && XDG_CONFIG_HOME=$demo_dir/luis/config "$cli" show r1)
grep -q "¿Nos vemos mañana?" <<<"$body" || fail "the message reads: $body"
# The window's run moved Luis's counter; the command line never received in that folder.
counter=$(cd "$demo_dir/luis/work" && XDG_CONFIG_HOME=$demo_dir/luis/config "$cli" settings |
  sed -n 's/^MsjsRecibidos: //p')
[[ $counter == 1 ]] || fail "Luis's received counter is \"$counter\""

# Stopping the demo closes both windows.
kill -TERM "$demo_pid"
gone() {
  local pid
  for pid in $window_pids; do
    kill -0 "$pid" 2>/dev/null && return 1
  done
  return 0
}
deadline=$((SECONDS + 30))
until gone; do
  ((SECONDS < deadline)) || fail "the windows $window_pids are still running"
  sleep 0.2
done
wait "$demo_pid" 2>/dev/null || true
demo_pid=""
echo "demo: a message went from Ana to Luis's window"
