#!/usr/bin/env bash
# The deployment files are valid for the nginx and php-fpm they are written for, and never
# enable the test hooks.
#   test_deploy_configs.sh MAILBOX_SERVER_DIR
set -euo pipefail

server_dir=$(cd "$1" && pwd)
deploy=$server_dir/deploy
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if grep -rqi 'test_hooks\|test-hooks' "$deploy"; then
  fail "a deployment file mentions the test hooks"
fi

echo "# nginx site"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
  -subj /CN=localhost -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
sed -e "s|/etc/letsencrypt/live/mensajes.example.org/fullchain.pem|$work/cert.pem|" \
  -e "s|/etc/letsencrypt/live/mensajes.example.org/privkey.pem|$work/key.pem|" \
  -e "s|/var/log/nginx/|$work/|" \
  -e "s|/srv/velkorant/deploy/|$deploy/|" \
  "$deploy/nginx/velkorant-site.conf" >"$work/site.conf"
cat >"$work/nginx.conf" <<CONF
pid $work/nginx.pid;
error_log $work/error.log;
events {
}
http {
    client_body_temp_path $work/body;
    fastcgi_temp_path $work/fastcgi;
    proxy_temp_path $work/proxy;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    include $work/site.conf;
}
CONF
nginx=/usr/sbin/nginx
[[ -x $nginx ]] || nginx=$(command -v nginx)
"$nginx" -t -q -e "$work/error.log" -p "$work/" -c "$work/nginx.conf" || fail "nginx refuses the site"

echo "# php-fpm pool"
php_fpm=$(compgen -G '/usr/sbin/php-fpm[0-9]*' | sort -V | tail -n 1 || true)
[[ -n $php_fpm ]] || php_fpm=$(command -v php-fpm)
printf '[global]\npid = %s/fpm.pid\nerror_log = %s/fpm.log\ninclude = %s\n' \
  "$work" "$work" "$deploy/php-fpm/velkorant.conf" >"$work/php-fpm.conf"
"$php_fpm" -n -t -y "$work/php-fpm.conf" >"$work/fpm-test.log" 2>&1 || {
  cat "$work/fpm-test.log" >&2
  fail "php-fpm refuses the pool"
}

echo "PASS"
