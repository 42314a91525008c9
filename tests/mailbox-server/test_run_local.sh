#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# run-local's life on a port and state folder of its own: start, start again, status, stop,
# test hooks off, a data root that cannot store, foreign pid files, and, as root, a start that
# fails; no process is left behind (checked by PID).
#   test_run_local.sh RUN_LOCAL [--unprivileged]
# It takes a free port and the one after it. --unprivileged runs run-local as uid 65534 (needs root).
# As root, the test runs in a mount namespace of its own, where it mounts a tiny data root.
set -euo pipefail

if ((EUID == 0)) && [[ -z ${VELKORANT_OWN_MOUNTS:-} ]] && unshare --mount true 2>/dev/null; then
  VELKORANT_OWN_MOUNTS=1 exec unshare --mount "$BASH" "$0" "$@"
fi
run_local=$1 mode=${2:-}
port=$("$(dirname "$0")/../support/free_port")
work=$(mktemp -d)
state=$work/state other=$work/other
data=$state/data

rl() { "$run_local" "$@"; }
expected_uid=$EUID
if [[ $mode == --unprivileged ]]; then
  ((EUID == 0)) || { echo "SKIP: running run-local as another user needs root"; rm -rf "$work"; exit 77; }
  # That user may not read the checkout (under /root, say): it runs a copy of the server.
  cp -R "$(dirname "$run_local")" "$work/mailbox-server"
  chown -R 65534:65534 "$work"
  run_local=$work/mailbox-server/run-local
  rl() { setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH="$PATH" HOME="$work" "$run_local" "$@"; }
  expected_uid=65534
fi

trap 'set +e; rl --state "$state" stop; rl --state "$other" stop; umount "$data" 2>/dev/null; rm -rf "$(cat "$other/postgres-home" 2>/dev/null)" "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# ask PATH: prints the body and the status of one request: "BODY 200".
ask() { curl -s --max-time 10 --cacert "$state/tls/ca.pem" -w ' %{http_code}' "https://localhost:$port/velkorant/$1" || true; }

instance_pids() { local m; while read -r m || [[ -n $m ]]; do echo "$m"; pgrep -P "$m"; done < <(cat "$state"/run/{nginx,php-fpm}.pid); }

# Each process given has exited (zombies count as gone), and no process holds a state file.
assert_all_gone() {
  local pid holders
  for pid; do [[ ! -e /proc/$pid ]] || grep -q 'State:.*Z' "/proc/$pid/status" || fail "process $pid still runs"; done
  holders=$(find /proc/[0-9]*/fd -lname "$state/*" 2>/dev/null | cut -d/ -f3 | sort -u | grep -vx "$$" || true)
  [[ -z $holders ]] || fail "processes still hold files of the state folder: $holders"
}

echo "# start, and start again: same lines, same processes"
if rl --port "$port" --state "$state" status >/dev/null; then fail "status says running before start"; fi
first=$(rl --port "$port" --state "$state" start)
mapfile -t pids < <(instance_pids)
((${#pids[@]} >= 4)) || fail "expected nginx and php-fpm masters with workers, got ${pids[*]}"
uids=$(ps -o ruid=,euid= -p "${pids[*]}" | tr -s ' ' '\n' | sort -u | grep .)
[[ $uids == "$expected_uid" ]] || fail "the server runs as uid $uids, not $expected_uid"
[[ $(stat -c %a "$state/tls/server.key") == 600 ]] || fail "the server key is readable by others"
[[ $(rl --port "$port" --state "$state" start) == "$first" ]] || fail "a second start printed other lines"
[[ $(instance_pids | sort) == $(printf '%s\n' "${pids[@]}" | sort) ]] || fail "a second start changed the processes"
if rl --port "$((port + 1))" --state "$state" start 2>/dev/null; then fail "start on another port was accepted while running"; fi
if rl --port "$port" --state "$state" --test-hooks start 2>/dev/null; then fail "start with test hooks was accepted while running without"; fi
[[ $(rl --state "$state" status) == "$first" ]] || fail "status did not report the running server"

echo "# test hooks are inert when off"
(umask 022 && mkdir "$data/_test_answers" && printf 'nothing' >"$data/_test_answers/comprobar_conexion_servidor")
[[ $(ask comprobar_conexion_servidor.php) == "OK 200" ]] || fail "a test answer was used without --test-hooks"

echo "# the server check and sends fail while mailboxes cannot be stored"
mv "$data" "$data.away"
[[ $(ask comprobar_conexion_servidor.php) == "Error"*" 500" ]] || fail "server check said OK without a data root"
mv "$data.away" "$data"
if [[ -n ${VELKORANT_OWN_MOUNTS:-} ]]; then
  # Full, out of inodes, read-only: is_writable() cannot tell the first two, nor root the third.
  mount -t tmpfs -o size=256k,nr_inodes=64 tmpfs "$data"
  folder=$(openssl rand -hex 5 | tr a-f A-F)
  send="enviar_mensaje.php?name=datos&folder=$folder&new=0&datacry=$(openssl rand -hex 16 | tr a-f A-F)"
  [[ $(ask "crear_buzon.php?folder=$folder") == "Buzon creado 200" ]] || fail "no mailbox on the small data root"
  for case in full no-inodes read-only; do
    case $case in
      full) dd if=/dev/zero of="$data/fill" bs=4k 2>/dev/null || true ;;
      no-inodes) for i in $(seq 64); do { : >"$data/fill$i"; } 2>/dev/null || break; done ;;
      read-only) mount -o remount,ro "$data" ;;
    esac
    [[ $(ask comprobar_conexion_servidor.php) == "Error: "*" 500" ]] || fail "server check said OK on a $case data root"
    [[ $(ask "$send") == "Error"*" 500" ]] || fail "a send on a $case data root did not fail"
    mount -o remount,rw "$data"
    rm -f "$data"/fill*
    [[ $(ask comprobar_conexion_servidor.php) == "OK 200" ]] || fail "no OK once the data root is $case no more"
  done
  [[ $(ask "$send") == "Mensaje 1 guardado 200" ]] || fail "the failed sends left a gap in the numbering"
  [[ -z $(find "$data" -name '.probe-*' -o -name '.tmp-*') ]] || fail "probe or temporary files left behind"
  umount "$data"
else
  echo "(a data root that is full, out of inodes or read-only is not tried: mounting one needs root)"
fi

echo "# stop"
rl --state "$state" stop
assert_all_gone "${pids[@]}"
if rl --state "$state" status >/dev/null; then fail "status says running after stop"; fi
rl --state "$state" stop || fail "a second stop failed"

echo "# pid files of other processes are never acted on"
printf '%s\n' "$$" >"$state/run/nginx.pid"
printf '%s\n' 4194303 >"$state/run/php-fpm.pid"
if rl --state "$state" status >/dev/null; then fail "status took foreign pid files for a running server"; fi
rl --state "$state" stop
# Still here, so stop did not kill this shell; a start over the stale files keeps the CA.
[[ $(rl --port "$port" --state "$state" start) == "$first" ]] || fail "start over stale pid files printed other lines"
mapfile -t pids < <(instance_pids)

# A start that fails takes the same paths for any user.
if [[ $mode != --unprivileged ]]; then
  echo "# a start on a port in use fails at once and cleans up after itself"
  started=$SECONDS
  if rl --port "$port" --state "$other" start >"$work/out" 2>"$work/err"; then fail "start succeeded on a port in use"; fi
  ((SECONDS - started <= 25)) || fail "a failing start took $((SECONDS - started)) s"
  { [[ ! -s $work/out ]] && grep -q "nginx did not start" "$work/err"; } || fail "failing start said: $(cat "$work"/{out,err})"
  state=$other assert_all_gone
fi
rl --state "$state" stop
assert_all_gone "${pids[@]}"

echo "# a database of its own, stopped with the rest"
cluster=$(rl --port "$((port + 1))" --state "$other" --backend postgres start | sed -n 's/^cluster=//p')
postmaster=$(head -n 1 "$cluster/postmaster.pid")
# PostgreSQL refuses root: then the cluster is the postgres user's.
owner=$expected_uid
((owner == 0)) && owner=$(id -u postgres)
[[ $(stat -c %u "$cluster") == "$owner" ]] || fail "the cluster belongs to uid $(stat -c %u "$cluster"), not $owner"
rl --state "$other" stop
assert_all_gone "$postmaster"

echo "PASS"
