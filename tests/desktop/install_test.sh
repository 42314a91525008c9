#!/usr/bin/env bash
# cmake --install of a finished build into a staging folder, then checks of what landed there:
#   install_test.sh BUILD_DIR APP_ID ICON_SIZE... (run-local takes a free port)
# The programs, the launcher entry (whose Exec line is run, as the launcher would, with the
# smoke test), the icons at their sizes, the AppStream metadata naming the same ID, and the
# mailbox server's run-local serving from its installed place.
set -euo pipefail
build=$1 app_id=$2
port=$("$(dirname "$0")/../support/free_port")
shift 2
sizes=("$@")

stage=$(mktemp -d)
state=$stage/server-state
cleanup() {
  if [[ -x $stage/usr/share/velkorant/mailbox-server/run-local ]]; then
    "$stage/usr/share/velkorant/mailbox-server/run-local" --state "$state" stop >/dev/null 2>&1 || true
  fi
  rm -rf "$stage"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
root=$stage/usr

for program in velkorant velkorant-cli; do
  [[ -x $root/bin/$program ]] || fail "bin/$program is missing or not executable"
done
# Nothing but the two programs in bin: no test or benchmark executables.
extra=$(find "$root/bin" -mindepth 1 ! -name velkorant ! -name velkorant-cli)
[[ -z $extra ]] || fail "unexpected files in bin: $extra"

desktop=$root/share/applications/$app_id.desktop
metainfo=$root/share/metainfo/$app_id.metainfo.xml
[[ -f $desktop ]] || fail "launcher entry $desktop is missing"
[[ -f $metainfo ]] || fail "AppStream metadata $metainfo is missing"
if [[ -f $desktop ]]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the installed entry"
  [[ $(sed -n 's/^Icon=//p' "$desktop") == "$app_id" ]] || fail "Icon= is not $app_id"
fi
if [[ -f $metainfo ]]; then
  appstreamcli validate --no-net "$metainfo" >/dev/null || fail "appstreamcli refuses the metadata"
  grep -q "<id>$app_id</id>" "$metainfo" || fail "metadata id is not $app_id"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "metadata does not launch $app_id.desktop"
fi

for size in "${sizes[@]}"; do
  plain=${size%@2}
  pixels=$plain
  [[ $size == *@2 ]] && pixels=$((plain * 2))
  png=$root/share/icons/hicolor/${plain}x${plain}${size#$plain}/apps/$app_id.png
  if [[ ! -f $png ]]; then
    fail "icon $png is missing"
  elif ! file "$png" | grep -q "PNG image data, $pixels x $pixels"; then
    fail "icon $png is not a $pixels-pixel PNG: $(file -b "$png")"
  fi
done
[[ -f $root/share/icons/hicolor/scalable/apps/$app_id.svg ]] || fail "scalable icon is missing"

# The launcher's own command line, run from the installed program with a fresh home folder.
if [[ -f $desktop ]]; then
  exec_line=$(sed -n 's/^Exec=//p' "$desktop")
  read -r -a exec_words <<<"$exec_line"
  home=$stage/home
  mkdir -p "$home"
  out=$(cd "$stage" && env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" \
    QT_QPA_PLATFORM=offscreen "$root/bin/${exec_words[0]}" "${exec_words[@]:1}" --smoke-test 2>&1) \
    || fail "the launcher's line with --smoke-test failed: $out"
  folder=$home/.local/share/velkorant
  if [[ ! -d $folder ]]; then
    fail "the launcher's line made no data folder"
  elif [[ $(stat -c %a "$folder") != 700 ]]; then
    fail "the data folder has mode $(stat -c %a "$folder"), not 700"
  fi
fi
"$root/bin/velkorant-cli" --help | grep -q "velkorant-cli" || fail "velkorant-cli --help"

# run-local serves the mailbox server from the installed files.
server=$root/share/velkorant/mailbox-server
[[ -x $server/run-local ]] || fail "run-local is missing or not executable"
for script in comprobar_conexion_servidor existe_buzon crear_buzon enviar_mensaje; do
  [[ -f $server/public/$script.php ]] || fail "mailbox server script $script.php is missing"
done
if [[ -x $server/run-local ]]; then
  lines=$("$server/run-local" --port "$port" --state "$state" start) || fail "installed run-local start"
  ca=$(sed -n 's/^ca=//p' <<<"$lines")
  answer=$(curl -sS --max-time 10 --cacert "$ca" "https://localhost:$port/velkorant/comprobar_conexion_servidor.php" || true)
  [[ $answer == OK* ]] || fail "installed server answered \"$answer\""
  "$server/run-local" --state "$state" stop || fail "installed run-local stop"
fi

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install layout: all checks passed"
