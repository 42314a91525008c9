#!/usr/bin/env bash
# scripts/demo as a newcomer uses it, offscreen: the local server (on a free port) and both
# windows come up, a message Ana sends from her installation reaches Luis's window when that
# window receives, and stopping the demo closes both windows.
#   demo_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build=$2 tmp=$(mktemp -d) demo_pid=""
trap '[[ -z $demo_pid ]] || kill "$demo_pid"; wait
  "$source_dir/mailbox-server/run-local" --state "$tmp/server" stop >/dev/null 2>&1; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; cat "$tmp/demo.log" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen VELKORANT_BUILD_DIR=$build
cli=$build/src/cli/velkorant-cli demo=$tmp/demo
"$source_dir/scripts/demo" --folder "$demo" --port "$("$(dirname "$0")/../support/free_port")" \
  --state "$tmp/server" >"$tmp/demo.log" 2>&1 &
demo_pid=$!
# A window answers --receive once it is up; a fresh user has nothing yet.
receive() { (cd "$demo/$1/work" && timeout 60 "$build/src/desktop/velkorant" --receive) >/dev/null 2>&1; }
as() { (cd "$demo/$1/work" && XDG_CONFIG_HOME=$demo/$1/config "${@:2}"); }
for ((i = 0; i < 300; i++)); do
  kill -0 "$demo_pid" 2>/dev/null || fail "the demo ended"
  grep -q "windows running" "$tmp/demo.log" && receive ana && receive luis && break
  sleep 0.3
done
luis=$(sed -n 's/^demo: Luis = \([^ ]*\) .*/\1/p' "$tmp/demo.log")
windows=$(sed -n 's/^demo: windows running (process ids \([0-9 ]*\)).*/\1/p' "$tmp/demo.log")
ca=$("$source_dir/mailbox-server/run-local" --state "$tmp/server" status | sed -n 's/^ca=//p')
as ana env CURL_CA_BUNDLE="$ca" "$cli" send --to "$luis" --subject "Hola desde la demo" \
  --profile Demo <<<"¿Nos vemos mañana?" >/dev/null || fail "Ana could not send"
receive luis || fail "Luis's window did not receive"
as luis "$cli" list | grep -q "Hola desde la demo.*Ana_demo_" || fail "Luis's store: $(as luis "$cli" list)"
as luis "$cli" show r1 | grep -q "¿Nos vemos mañana?" || fail "the message reads otherwise"
# The window's run counted it; the command line never received in that folder.
[[ $(as luis "$cli" settings | sed -n 's/^MsjsRecibidos: //p') == 1 ]] || fail "Luis's count"
kill "$demo_pid" && wait "$demo_pid" || true
demo_pid=""
for pid in $windows; do
  ! kill -0 "$pid" 2>/dev/null || fail "the window $pid still runs"
done
echo "demo: a message went from Ana to Luis's window"
