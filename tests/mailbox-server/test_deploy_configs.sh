#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The deployment files are valid for the nginx and php-fpm they are written for, agree with each
# other and with what run-local writes, and never enable the test hooks.
#   test_deploy_configs.sh MAILBOX_SERVER_DIR
set -euo pipefail

server_dir=$(cd "$1" && pwd)
deploy=$server_dir/deploy site=$server_dir/deploy/nginx/velkorant-site.conf pool=$server_dir/deploy/php-fpm/velkorant.conf
work=$(mktemp -d)
trap '"$server_dir/run-local" --state "$work/local" stop; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

! grep -rqi 'test_hooks\|test-hooks' "$deploy" || fail "a deployment file mentions the test hooks"

echo "# nginx accepts the site, php-fpm the pool"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=localhost \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
sed -e "s|/etc/letsencrypt/live/mensajes.example.org/fullchain.pem|$work/cert.pem|" \
  -e "s|/etc/letsencrypt/live/mensajes.example.org/privkey.pem|$work/key.pem|" \
  -e "s|/var/log/nginx/|$work/|" -e "s|/srv/velkorant/deploy/|$deploy/|" "$site" >"$work/site.conf"
printf 'pid %s;\nevents {}\nhttp {\n' "$work/nginx.pid" >"$work/nginx.conf"
for temp in client_body fastcgi proxy uwsgi scgi; do echo "${temp}_temp_path $work/$temp;" >>"$work/nginx.conf"; done
echo "include $work/site.conf; }" >>"$work/nginx.conf"
nginx=$(command -v /usr/sbin/nginx nginx | head -n 1)
"$nginx" -t -q -e "$work/error.log" -p "$work/" -c "$work/nginx.conf" || fail "nginx refuses the site"
php_fpm=$(compgen -G '/usr/sbin/php-fpm[0-9]*' | sort -V | tail -n 1 || command -v php-fpm)
printf '[global]\npid = %s/fpm.pid\nerror_log = %s/fpm.log\ninclude = %s\n' "$work" "$work" "$pool" >"$work/fpm.conf"
"$php_fpm" -n -t -y "$work/fpm.conf" >"$work/fpm.out" 2>&1 || fail "php-fpm refuses the pool: $(cat "$work/fpm.out")"

echo "# the site, the pool and run-local agree"
grep -q "server unix:$(sed -n 's/^listen = //p' "$pool");" "$site" || fail "the site does not pass requests to the pool's socket"
public=$(sed -n 's/^ *set [$]velkorant_public \(.*\);/\1/p' "$site")
data=$(sed -n 's/^ *set [$]velkorant_data \(.*\);/\1/p' "$site")
grep -qxF "php_admin_value[open_basedir] = $public/:${public%/*}/lib/:$data/" "$pool" ||
  fail "the pool's open_basedir is not the site's scripts, lib and data root"
# What run-local sets for the server's safety and privacy, not a path, the deployment sets alike.
grep -E '^ *(request_terminate_timeout|security\.|php_admin_(flag|value\[memory_limit)|server_tokens|log_format|limit_conn_zone)' \
  "$server_dir/run-local" | sed 's/\\\$/$/g; s/^ *//' >"$work/shared"
[[ -s $work/shared ]] || fail "run-local's settings were not found"
while read -r line; do
  grep -qF -- "$line" "$pool" "$site" || fail "run-local sets \"$line\", the deployment files do not"
done <"$work/shared"

echo "# run-local's nginx defines the site's zones"
zones() { sed -n '/^ *limit_\(conn\|req\)_zone /p; /^ *map /,/^ *}/p' "$1" | sed 's/^ *//'; }
"$server_dir/run-local" --port "$("$(dirname "$0")/../support/free_port")" --state "$work/local" start >/dev/null
zones "$site" | diff - <(zones "$work/local/conf/nginx.conf") >&2 || fail "run-local defines other zones than the site"

echo "PASS"
