#!/usr/bin/env bash
# cmake --install of a finished build into a staging folder, then what landed there: the two
# programs alone in bin, the launcher entry (whose Exec line is run, as the launcher would, with
# the smoke test), the icons at their sizes and the AppStream metadata under the one application
# ID, and the mailbox server's run-local serving from its installed place (on a free port).
#   install_test.sh BUILD_DIR APP_ID ICON_SIZE...
set -euo pipefail
build=$1 app_id=$2
shift 2
stage=$(mktemp -d)
root=$stage/usr server=$stage/usr/share/velkorant/mailbox-server
trap '"$server/run-local" --state "$stage/state" stop >/dev/null 2>&1 || true; rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
[[ $(ls "$root/bin") == $'velkorant\nvelkorant-cli' && -x $root/bin/velkorant && -x $root/bin/velkorant-cli ]] ||
  fail "bin holds: $(ls "$root/bin")"
desktop=$root/share/applications/$app_id.desktop metainfo=$root/share/metainfo/$app_id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $desktop"
grep -qx "Icon=$app_id" "$desktop" || fail "Icon= is not $app_id"
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "appstreamcli refuses $metainfo"
grep -q "<id>$app_id</id>" "$metainfo" && grep -q ">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metadata names another ID or launcher"
for size in "$@"; do
  plain=${size%@2} pixels=${size%@2}
  [[ $size == *@2 ]] && pixels=$((plain * 2))
  png=$root/share/icons/hicolor/${plain}x$plain${size#$plain}/apps/$app_id.png
  file "$png" | grep -q "PNG image data, $pixels x $pixels" || fail "icon $png: $(file -b "$png")"
done
[[ -f $root/share/icons/hicolor/scalable/apps/$app_id.svg ]] || fail "the scalable icon is missing"

# The launcher's own line, from the installed program, for a user with a fresh home folder.
read -r -a exec_words <<<"$(sed -n 's/^Exec=//p' "$desktop")"
(cd "$stage" && env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$stage/home" QT_QPA_PLATFORM=offscreen \
  "$root/bin/${exec_words[0]}" "${exec_words[@]:1}" --smoke-test) || fail "the launcher's line failed"
[[ $(stat -c %a "$stage/home/.local/share/velkorant") == 700 ]] || fail "no private data folder"
"$root/bin/velkorant-cli" --help | grep -q "velkorant-cli" || fail "velkorant-cli --help"

port=$("$(dirname "$0")/../support/free_port")
ca=$("$server/run-local" --port "$port" --state "$stage/state" start | sed -n 's/^ca=//p')
answer=$(curl -sS --max-time 10 --cacert "$ca" "https://localhost:$port/velkorant/comprobar_conexion_servidor.php")
[[ $answer == OK* ]] || fail "the installed server answered \"$answer\""
"$server/run-local" --state "$stage/state" stop >/dev/null || fail "installed run-local stop"
echo "install layout: all checks passed"
