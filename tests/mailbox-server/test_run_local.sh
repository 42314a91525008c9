#!/usr/bin/env bash
# run-local's life on a port and state folder of its own: start, start again, status, stop,
# test hooks off and on, failures, and that no process is left behind (checked by PID).
#   test_run_local.sh RUN_LOCAL [--unprivileged]
# It takes a free port and the one after it. --unprivileged runs run-local as uid 65534 (needs root).
# As root, the test runs in a mount namespace of its own, where it mounts a tiny data root.
set -euo pipefail

if ((EUID == 0)) && [[ -z ${VELKORANT_OWN_MOUNTS:-} ]] && unshare --mount true 2>/dev/null; then
  VELKORANT_OWN_MOUNTS=1 exec unshare --mount "$BASH" "$0" "$@"
fi
run_local=$1 mode=${2:-}
port=$("$(dirname "$0")/../support/free_port")
busy_port=$((port + 1))

work=$(mktemp -d)
state=$work/state
data=$state/data
listener=""

if [[ $mode == --unprivileged ]]; then
  if ((EUID != 0)); then
    echo "SKIP: running run-local as another user needs root"
    rm -rf "$work"
    exit 77
  fi
  chown 65534:65534 "$work"
  # The checkout may sit where that user cannot read (under /root, say): run a copy of the
  # server's files from the test's own folder instead.
  if ! setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$run_local"; then
    cp -R "$(dirname "$run_local")" "$work/mailbox-server"
    chown -R 65534:65534 "$work/mailbox-server"
    run_local=$work/mailbox-server/$(basename "$run_local")
  fi
  as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH="$PATH" HOME="$work" "$@"; }
  expected_uid=65534
else
  as_user() { "$@"; }
  expected_uid=$EUID
fi

# Every process that still holds a file of the state folder: masters and workers alike.
leftovers() {
  find /proc/[0-9]*/fd -lname "$state/*" 2>/dev/null | cut -d/ -f3 | sort -u | grep -vx "$$" || true
}

cleanup() {
  if [[ -n $listener ]]; then
    kill "$listener" 2>/dev/null || true
  fi
  as_user "$run_local" --state "$state" stop >/dev/null 2>&1 || true
  umount "$data" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rl() {
  as_user "$run_local" "$@"
}

# ask PATH: prints "STATUS BODY" of one request, or "000 " when nothing answers.
ask() {
  local code
  code=$(curl -s --max-time 10 --cacert "$state/tls/ca.pem" -o "$work/body" -w '%{http_code}' \
    "https://localhost:$port/velkorant/$1" || true)
  echo "$code $(cat "$work/body" 2>/dev/null || true)"
  rm -f "$work/body"
}

live() {
  [[ -e /proc/$1 ]] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null
}

instance_pids() {
  local master
  for master in "$(cat "$state/run/nginx.pid")" "$(cat "$state/run/php-fpm.pid")"; do
    echo "$master"
    ps -o pid= --ppid "$master" | tr -d " "
  done
}

assert_all_gone() {
  local pid
  for pid in "$@"; do
    ! live "$pid" || fail "process $pid still runs after stop"
  done
  [[ -z $(leftovers) ]] || fail "processes still hold files of the state folder: $(leftovers | tr '\n' ' ')"
}

echo "# not started yet"
if rl --port "$port" --state "$state" status >/dev/null; then fail "status says running before start"; fi

echo "# start"
first=$(rl --port "$port" --state "$state" start)
expected="server=localhost:$port/velkorant/
ca=$state/tls/ca.pem"
[[ $first == "$expected" ]] || fail "start printed: $first"
[[ $(ask comprobar_conexion_servidor.php) == "200 OK" ]] || fail "no OK from the server check"
mapfile -t pids < <(instance_pids)
((${#pids[@]} >= 4)) || fail "expected nginx and php-fpm masters with workers, got ${pids[*]}"
for pid in "${pids[@]}"; do
  uid=$(awk '/^Uid:/ { print $2 }' "/proc/$pid/status")
  [[ $uid == "$expected_uid" ]] || fail "process $pid runs as uid $uid, not $expected_uid"
done
key_mode=$(stat -c %a "$state/tls/server.key")
[[ $key_mode == 600 ]] || fail "the server key is mode $key_mode"

echo "# start again: same lines, same processes"
second=$(rl --port "$port" --state "$state" start)
[[ $second == "$first" ]] || fail "second start printed: $second"
[[ $(instance_pids | sort) == $(printf '%s\n' "${pids[@]}" | sort) ]] || fail "second start changed the processes"
if rl --port "$busy_port" --state "$state" start 2>/dev/null; then fail "start on another port was accepted while running"; fi
if rl --port "$port" --state "$state" --test-hooks start 2>/dev/null; then fail "start with test hooks was accepted while running without"; fi
[[ $(rl --state "$state" status) == "$first" ]] || fail "status did not report the running server"

echo "# test hooks are inert when off"
folder=$(openssl rand -hex 5 | tr a-f A-F)
mkdir -p "$data/_test_answers"
printf 'nothing' >"$data/_test_answers/comprobar_conexion_servidor"
printf 'si' >"$data/_test_answers/existe_buzon@$folder"
chmod -R a+rX "$data/_test_answers"
[[ $(ask comprobar_conexion_servidor.php) == "200 OK" ]] || fail "a test answer was used without --test-hooks"
[[ $(ask "existe_buzon.php?folder=$folder") == "200 no" ]] || fail "a test answer was used without --test-hooks"

echo "# the server check fails while mailboxes cannot be stored"
mv "$data" "$data.away"
answer=$(ask comprobar_conexion_servidor.php)
[[ $answer == "500 Error"* ]] || fail "server check without a data root answered: $answer"
mv "$data.away" "$data"
if [[ -n ${VELKORANT_OWN_MOUNTS:-} ]]; then
  # Full, out of inodes, read-only: is_writable() cannot tell the first two.
  mount -t tmpfs -o size=256k,nr_inodes=64 tmpfs "$data"
  send="enviar_mensaje.php?name=datos&folder=$folder&new=0&datacry=$(openssl rand -hex 16 | tr a-f A-F)"
  [[ $(ask "crear_buzon.php?folder=$folder") == "200 Buzon creado" ]] || fail "no mailbox on the small data root"
  for case in full no-inodes read-only; do
    case $case in
      full) dd if=/dev/zero of="$data/fill" bs=4k 2>/dev/null || true ;;
      no-inodes) for i in $(seq 64); do { : >"$data/fill$i"; } 2>/dev/null || break; done ;;
      read-only) mount -o remount,ro "$data" ;;
    esac
    [[ $(ask comprobar_conexion_servidor.php) == "500 Error: "* ]] || fail "server check said OK on a $case data root"
    [[ $(ask "$send") == "500 Error"* ]] || fail "a send on a $case data root did not fail"
    mount -o remount,rw "$data"
    rm -f "$data"/fill*
    [[ $(ask comprobar_conexion_servidor.php) == "200 OK" ]] || fail "no OK once the data root is $case no more"
  done
  [[ $(ask "$send") == "200 Mensaje 1 guardado" ]] || fail "the failed sends left a gap in the numbering"
  [[ -z $(find "$data" -name '.probe-*' -o -name '.tmp-*') ]] || fail "probe or temporary files left behind"
  umount "$data"
else
  echo "(a data root that is full or read-only is not tried: mounting one needs root)"
fi

echo "# stop"
rl --state "$state" stop
assert_all_gone "${pids[@]}"
[[ ! -e $state/run/nginx.pid && ! -e $state/run/php-fpm.pid ]] || fail "pid files left after stop"
if rl --state "$state" status >/dev/null; then fail "status says running after stop"; fi
[[ $(ask comprobar_conexion_servidor.php) == "000 "* ]] || fail "something still answers on port $port"
rl --state "$state" stop || fail "a second stop failed"

echo "# test hooks on"
[[ $(rl --port "$port" --state "$state" --test-hooks start) == "$first" ]] || fail "restart printed other lines"
[[ $(ask comprobar_conexion_servidor.php) == "200 nothing" ]] || fail "the server check's test answer was not used"
[[ $(ask "existe_buzon.php?folder=$folder") == "200 si" ]] || fail "the mailbox's test answer was not used"
mapfile -t pids < <(instance_pids)
rl --state "$state" stop
assert_all_gone "${pids[@]}"

echo "# pid files of other processes are never acted on"
printf '%s\n' "$$" >"$state/run/nginx.pid"
printf '%s\n' 4194303 >"$state/run/php-fpm.pid"
if rl --state "$state" status >/dev/null; then fail "status took foreign pid files for a running server"; fi
rl --state "$state" stop
live "$$" || fail "unreachable"
second=$(rl --port "$port" --state "$state" start)
[[ $second == "$first" ]] || fail "start over stale pid files printed: $second"
mapfile -t pids < <(instance_pids)
rl --state "$state" stop
assert_all_gone "${pids[@]}"

echo "# a start that cannot listen cleans up after itself"
/usr/bin/python3 -c '
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen()
time.sleep(60)
' "$busy_port" &
listener=$!
for _ in $(seq 50); do
  ss -Hltn "sport = :$busy_port" | grep -q . && break
  sleep 0.1
done
started=$SECONDS
if rl --port "$busy_port" --state "$state" start >"$work/out" 2>"$work/err"; then
  fail "start succeeded on a port in use"
fi
((SECONDS - started <= 25)) || fail "a failing start took $((SECONDS - started)) s"
[[ ! -s $work/out ]] || fail "a failing start printed: $(cat "$work/out")"
grep -q "nginx did not start" "$work/err" || fail "unclear error: $(cat "$work/err")"
if rl --state "$state" status >/dev/null; then fail "status says running after a failed start"; fi
assert_all_gone

echo "PASS"
