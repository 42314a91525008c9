#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# cmake --install of a finished build into a staging folder, then what landed there: the two
# programs alone in bin, the launcher entry (whose Exec line is run, as the launcher would, with
# the smoke test), the icons at their sizes and the AppStream metadata under the one application
# ID, and the mailbox server's run-local serving from its installed place (on a free port).
#   install_test.sh BUILD_DIR APP_ID ICON_SIZE...
set -euo pipefail
build=$1 app_id=$2 stage=$(mktemp -d)
shift 2
root=$stage/usr server=$stage/usr/share/velkorant/mailbox-server
trap '"$server/run-local" --state "$stage/state" stop >/dev/null 2>&1; rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
[[ $(ls "$root/bin") == $'velkorant\nvelkorant-cli' && -x $root/bin/velkorant ]] || fail "bin: $(ls "$root/bin")"
desktop=$root/share/applications/$app_id.desktop metainfo=$root/share/metainfo/$app_id.metainfo.xml
# (The build's copies, which these are, are validated by desktop_desktop_file_valid and
# desktop_appstream_valid.)
grep -qx "Icon=$app_id" "$desktop" || fail "the launcher entry"
{ grep -q "<id>$app_id</id>" "$metainfo" && grep -q ">$app_id.desktop</launchable>" "$metainfo"; } || fail "the AppStream metadata"
for size in "$@"; do
  plain=${size%@2} pixels=${size%@2}
  [[ $size == *@2 ]] && pixels=$((plain * 2))
  png=$root/share/icons/hicolor/${plain}x$plain${size#"$plain"}/apps/$app_id.png
  file "$png" | grep -q "PNG image data, $pixels x $pixels" || fail "icon $png: $(file -b "$png")"
done
[[ -f $root/share/icons/hicolor/scalable/apps/$app_id.svg ]] || fail "the scalable icon is missing"
# The launcher's own line, from the installed program, for a user with a fresh home folder: the
# smoke test passes without a display and leaves the settings and the working folder alone.
read -r -a line <<<"$(sed -n 's/^Exec=//p' "$desktop")"
mkdir "$stage/work"
(cd "$stage/work" && env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u DISPLAY HOME="$stage/home" QT_QPA_PLATFORM=xcb \
  "$root/bin/${line[0]}" "${line[@]:1}" --smoke-test) | grep -q "smoke test passed" || fail "the launcher's line"
[[ $(stat -c %a "$stage/home/.local/share/velkorant") == 700 && -z $(ls -A "$stage/work") && ! -e $stage/home/.config ]] ||
  fail "the data folder is not private, or the smoke test left files"
(cd "$stage/work" && env -u DISPLAY QT_QPA_PLATFORM=xcb "$root/bin/velkorant" --help | grep -q -- --data-folder) || fail "--help"
(cd "$stage/work" && QT_QPA_PLATFORM=offscreen "$root/bin/velkorant" --data-foldr 2>&1; [[ $? == 2 ]]) | grep -q "unknown argument" ||
  fail "an unknown argument is not refused"
port=$("$(dirname "$0")/../support/free_port")
ca=$("$server/run-local" --port "$port" --state "$stage/state" start | sed -n 's/^ca=//p')
[[ $(curl -sS --max-time 10 --cacert "$ca" "https://localhost:$port/velkorant/comprobar_conexion_servidor.php") == OK* ]] ||
  fail "the installed server does not answer"
echo "install layout: all checks passed"
