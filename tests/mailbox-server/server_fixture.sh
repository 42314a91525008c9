#!/usr/bin/env bash
# The mailbox server shared by the integration tests (CTest fixture "mailbox_server").
#   server_fixture.sh start|stop RUN_LOCAL STATE ENV_FILE
# start leaves in ENV_FILE the two lines run-local printed (server=..., ca=...).
set -euo pipefail

action=$1 run_local=$2 state=$3 env_file=$4
if [[ $action == stop ]]; then
  rm -f "$env_file"
  exec "$run_local" --state "$state" stop
fi
# Each test run begins with empty mailboxes; the CA is kept, so its path stays valid.
"$run_local" --state "$state" status >/dev/null || rm -rf "$state/data"
port=$("$(dirname "$0")/../support/free_port")
"$run_local" --port "$port" --state "$state" --test-hooks start >"$env_file.new"
mv "$env_file.new" "$env_file"
cat "$env_file"
