#!/usr/bin/env bash
# The Windows program under Wine, unattended, from a program folder deeper than MAX_PATH (260
# characters as Windows counts them): the lock, the log, the unpack into TempUpdate, the
# archiver started from there, the SQL blocks read from the unpacked script and the file stage
# with its journal all work in it, and the demo product (its folder inside the program folder,
# deeper still) is upgraded whole.
#
#   deep_folder_under_wine.sh SOURCE_DIR WIN_BUILD_DIR HOST_BIN_DIR
#
# Needs the private database server of scripts/db-server and ODBCSYSINI naming its driver list
# (ctest sets it). The prefix is KX_WINE_PREFIX, else WIN_BUILD_DIR/wine.
set -euo pipefail

readonly DB_USER=kxtest
readonly DB_PASSWORD='kx;pw}{=1'
readonly DATABASE=kx_deep_wine
readonly PRODUCT_CODE=DEMO
# The program folder's length as Windows counts it, at least.
readonly DEEPER_THAN=300

# shellcheck source=../../support/script_helpers.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../support/script_helpers.sh"

source_dir=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
host_bin=$3
for program in offline-upgrade.exe KX_Rar.exe; do
    [ -f "$win/bin/$program" ] || fail "$win/bin/$program is not built (scripts/build-windows)"
done
for tool in offline-upgrade KX_Rar.exe; do
    [ -x "$host_bin/$tool" ] || fail "$host_bin/$tool is missing: the package is made with the Linux build (cmake --build build)"
done
need_test_database

use_wine_prefix "$win"

mkdir -p "$win/tmp"
work=$(mktemp -d "$win/tmp/deep-folder.XXXXXX")
folder=$work
while [ "${#folder}" -lt $((DEEPER_THAN - 2)) ]; do
    folder="$folder/folder-of-a-deep-program-$(( ${#folder} % 97 ))"
done
cleanup() {
    local status=$?
    if [ "$status" != 0 ]; then
        [ -f "$folder/offline-upgrade.log" ] && { echo "--- $folder/offline-upgrade.log"; cat "$folder/offline-upgrade.log"; } >&2
        [ -f "$folder/out.txt" ] && { echo "--- output"; cat "$folder/out.txt" "$folder/err.txt"; } >&2
    fi
    wine reg delete "HKLM\\Software\\vazerodu\\$PRODUCT_CODE" /reg:32 /f </dev/null >/dev/null 2>&1 || true
    sql -e "DROP DATABASE IF EXISTS $DATABASE" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

windows_path() {
    printf 'Z:%s' "${1//\//\\}"
}
length=$(windows_path "$folder\\" | wc -m)
[ "$length" -gt "$DEEPER_THAN" ] || fail "the program folder is only $length characters long"

"$source_dir/scripts/demo-folder" "$folder" "$host_bin" "$DATABASE" "$DB_USER" "$DB_PASSWORD" >/dev/null
rm -f "$folder/offline-upgrade" "$folder/kxpack" "$folder/registry.reg"
cp "$win/bin/offline-upgrade.exe" "$win/bin/KX_Rar.exe" "$folder/"
# The registration is imported from a short path: the registry editor is not under test.
cp "$folder/registry-win.reg" "$work/registry-win.reg"
wine reg delete "HKLM\\Software\\vazerodu\\$PRODUCT_CODE" /reg:32 /f </dev/null >/dev/null 2>&1 || true
wine reg import "$(windows_path "$work/registry-win.reg")" /reg:32 </dev/null >/dev/null 2>&1 ||
    fail "the product could not be registered in Wine's registry"
sql <"$folder/database.sql"

# Started from a short folder: Windows keeps the current folder below MAX_PATH.
status=0
(cd "$work" && exec wine "$(windows_path "$folder/offline-upgrade.exe")" --unattended \
    </dev/null >"$folder/out.txt" 2>"$folder/err.txt") || status=$?
[ "$status" = 0 ] || fail "the upgrade from a program folder of $length characters ended with $status"
tr -d '\r' <"$folder/out.txt" | tail -n 1 | grep -qxF '升级成功！' || fail "no success line"
demo_upgraded "$folder"
# Each of the tool's own files where it belongs: in the deep program folder.
[ -f "$folder/offline-upgrade.lock" ] || fail "no lock file in the program folder"
[ -f "$folder/offline-upgrade.log" ] || fail "the log is not in the program folder"
grep -qF 'program folder: Z:\' "$folder/offline-upgrade.log" || fail "the log does not name the program folder"
grep -qF 'this log is kept in' "$folder/offline-upgrade.log" && fail "the log went elsewhere"
[ -f "$folder/TempUpdate/demo_1.2/UpdateSQL.sql" ] || fail "the package was not unpacked into TempUpdate"
grep -qF 'unpack: the archiver ended with exit code 0' "$folder/offline-upgrade.log" ||
    fail "the archiver did not unpack"
grep -qF 'block 更新版本号: ran in' "$folder/offline-upgrade.log" || fail "the last block did not run"
grep -qF 'cannot write the journal' "$folder/offline-upgrade.log" && fail "the journal could not be written"
# The file stage's journal is gone once the stage has ended.
if ls "$folder"/*.journal "$folder"/TempUpdate/*.journal >/dev/null 2>&1; then
    fail "a journal was left behind"
fi
echo "a program folder of $length characters: upgraded"
