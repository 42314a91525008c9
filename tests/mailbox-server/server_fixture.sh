#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A mailbox server shared by the integration tests (CTest fixtures "mailbox_server" and
# "mailbox_server_postgres").
#   server_fixture.sh start|stop RUN_LOCAL STATE ENV_FILE [RUN-LOCAL OPTIONS...]
# start leaves in ENV_FILE the lines run-local printed (server=..., ca=..., ...).
set -euo pipefail

action=$1 run_local=$2 state=$3 env_file=$4
shift 4
if [[ $action == stop ]]; then
  rm -f "$env_file"
  exec "$run_local" --state "$state" stop
fi
# Each test run begins with empty mailboxes; the CA is kept, so its path stays valid.
if ! "$run_local" --state "$state" status >/dev/null; then
  home=$(cat "$state/postgres-home" 2>/dev/null || true)
  [[ $home == /tmp/velkorant-pg.* ]] && rm -rf "$home"
  rm -rf "$state/data" "$state/postgres" "$state/postgres-home"
fi
port=$("$(dirname "$0")/../support/free_port")
"$run_local" --port "$port" --state "$state" "$@" start >"$env_file.new"
mv "$env_file.new" "$env_file"
cat "$env_file"
