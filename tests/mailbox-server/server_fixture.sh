#!/usr/bin/env bash
# The mailbox server shared by the integration tests (CTest fixture "mailbox_server").
#   server_fixture.sh start RUN_LOCAL STATE ENV_FILE
#   server_fixture.sh stop  RUN_LOCAL STATE ENV_FILE
# start leaves in ENV_FILE the two lines run-local printed (server=..., ca=...).
set -euo pipefail

action=$1 run_local=$2 state=$3 env_file=$4

case "$action" in
  start)
    port=$("$(dirname "$0")/../support/free_port")
    # Each test run begins with empty mailboxes; the CA is kept, so its path stays valid.
    if ! "$run_local" --state "$state" status >/dev/null; then
      rm -rf "$state/data"
    fi
    "$run_local" --port "$port" --state "$state" --test-hooks start >"$env_file.new"
    mv "$env_file.new" "$env_file"
    cat "$env_file"
    ;;
  stop)
    rm -f "$env_file"
    "$run_local" --state "$state" stop
    ;;
  *)
    echo "usage: server_fixture.sh start|stop RUN_LOCAL STATE ENV_FILE" >&2
    exit 2
    ;;
esac
