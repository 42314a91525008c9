#!/usr/bin/env bash
# scripts/demo as a newcomer uses it, offscreen: the local server (on a free port) and both
# windows come up, a message Ana sends from her installation reaches Luis's window when that
# window receives, and stopping the demo closes both windows.
#   demo_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build=$2
tmp=$(mktemp -d) demo_pid=""
trap '[[ -n $demo_pid ]] && kill -TERM "$demo_pid" 2>/dev/null; wait
  "$source_dir/mailbox-server/run-local" --state "$tmp/server" stop >/dev/null 2>&1; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; cat "$tmp/demo.log" >&2; exit 1; }
# wait_for SECONDS COMMAND...: true once the command succeeds while the demo runs.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) && kill -0 "$demo_pid" 2>/dev/null || return 1
    sleep 0.2
  done
}
export QT_QPA_PLATFORM=offscreen VELKORANT_BUILD_DIR=$build
cli=$build/src/cli/velkorant-cli demo=$tmp/demo
"$source_dir/scripts/demo" --folder "$demo" --port "$("$(dirname "$0")/../support/free_port")" \
  --state "$tmp/server" >"$tmp/demo.log" 2>&1 &
demo_pid=$!
wait_for 90 grep -q "windows running" "$tmp/demo.log" || fail "the demo did not start its windows"
luis=$(sed -n 's/^demo: Luis = \([^ ]*\) .*/\1/p' "$tmp/demo.log")
windows=$(sed -n 's/^demo: windows running (process ids \([0-9 ]*\)).*/\1/p' "$tmp/demo.log")
receive() { (cd "$demo/$1/work" && timeout 60 "$build/src/desktop/velkorant" --receive); }
in_luis() { (cd "$demo/luis/work" && XDG_CONFIG_HOME=$demo/luis/config "$cli" "$@"); }
wait_for 60 receive ana && wait_for 60 receive luis || fail "a window does not answer"
ca=$("$source_dir/mailbox-server/run-local" --state "$tmp/server" status | sed -n 's/^ca=//p')
(cd "$demo/ana/work" && XDG_CONFIG_HOME=$demo/ana/config CURL_CA_BUNDLE=$ca \
  "$cli" send --to "$luis" --subject "Hola desde la demo" --profile Demo <<<"¿Nos vemos mañana?") ||
  fail "Ana could not send"
receive luis || fail "Luis's window did not receive"
in_luis list | grep -q "Hola desde la demo.*Ana_demo_" || fail "Luis's store: $(in_luis list)"
in_luis show r1 | grep -q "¿Nos vemos mañana?" || fail "the message reads: $(in_luis show r1)"
# The window's run counted it; the command line never received in that folder.
[[ $(in_luis settings | sed -n 's/^MsjsRecibidos: //p') == 1 ]] || fail "Luis's count is not 1"
kill -TERM "$demo_pid"
wait "$demo_pid" || true
demo_pid=""
for pid in $windows; do
  ! kill -0 "$pid" 2>/dev/null || fail "the window $pid still runs"
done
echo "demo: a message went from Ana to Luis's window"
