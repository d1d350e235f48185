#!/usr/bin/env bash
# The whole upgrade with the real Windows program under Wine and X, as a user performs it, in
# two program folders of its own:
#   success  the demo package (scripts/demo-folder): the window shows the package found, 升级 is
#            pressed, the box "升级成功！" (information icon) comes and is closed with its 确定
#            button; the three SQL blocks ran against the private server through Wine's ODBC,
#            the files are replaced.
#   failure  the same package with its second block broken: the boxes "执行升级脚本失败(…)！"
#            and then "升级失败！" (error icons); the first block stays applied, the third never
#            ran, no file is touched.
# The product is registered in the prefix's registry (HKLM, 32-bit view) as its installer
# would; the packages are made on Linux with the project's own archiver.
#
#   upgrade_under_wine.sh SOURCE_DIR WIN_BUILD_DIR HOST_BIN_DIR
#
# Needs a display with the prefix's Wine server bound to it (scripts/test runs the Windows tests
# inside xvfb-run), the private database server of scripts/db-server, and ODBCSYSINI naming its
# driver list (ctest sets it). The prefix is KX_WINE_PREFIX, else WIN_BUILD_DIR/wine.
set -euo pipefail

readonly CAPTION='朔岱产品升级程序'
readonly DB_USER=kxtest
readonly DB_PASSWORD='kx;pw}{=1'
readonly DATABASE=kx_demo_wine
readonly PRODUCT_CODE=DEMO
readonly BROKEN_BLOCK='写入更新说明'
# The window's controls (TForm1ControlId in app/win/u_main_win.h).
readonly ID_NOPACKAGE=101 ID_PANEL=102 ID_PRODUCT=107 ID_CURRBUILD=108 ID_NEWBUILD=109
readonly ID_PATH=110 ID_UPDATE=112 ID_CLOSE=113

# shellcheck source=../../support/script_helpers.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../support/script_helpers.sh"

source_dir=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
host_bin=$3
[ -f "$win/bin/KX_Rar.exe" ] ||
    fail "$win/bin/KX_Rar.exe is not built (it needs the archive libraries: scripts/build-windows)"
for tool in offline-upgrade KX_Rar.exe kxpack; do
    [ -x "$host_bin/$tool" ] || fail "$host_bin/$tool is missing: the packages are made with the Linux build (cmake --build build)"
done
[ -n "${DISPLAY:-}" ] || fail "no display: run the Windows tests inside xvfb-run (scripts/test does)"
need_test_database

use_wine_prefix "$win"
peek_exe="$win/tests/window_peek.exe"
[ -f "$peek_exe" ] || fail "$peek_exe is not built"

mkdir -p "$win/tmp"
work=$(mktemp -d "$win/tmp/upgrade-under-wine.XXXXXX")
pid=
cleanup() {
    local status=$?
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    if [ "$status" != 0 ]; then
        for log in "$work"/*/offline-upgrade.log; do
            [ -f "$log" ] && { echo "--- $log"; cat "$log"; } >&2
        done
    fi
    WINEPREFIX=$WINEPREFIX wine reg delete "HKLM\\Software\\vazerodu\\$PRODUCT_CODE" /reg:32 /f \
        </dev/null >/dev/null 2>&1 || true
    sql -e "DROP DATABASE IF EXISTS $DATABASE" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Two demo program folders as scripts/demo-folder makes them (the product, build 1.1, in
# product/, its registration for Wine in registry-win.reg, its database in database.sql); the
# second one's package gets a second block that names a column the table does not have, made
# anew with the Linux archiver.
good="$work/good"
broken="$work/broken"
for folder in "$good" "$broken"; do
    "$source_dir/scripts/demo-folder" "$folder" "$host_bin" "$DATABASE" "$DB_USER" "$DB_PASSWORD"
done
rar="$host_bin/KX_Rar.exe"
unpacked="$work/unpacked"
"$rar" x -y -pxr352 "$broken/demo_1.2.zip" "$unpacked" >/dev/null
"$rar" cw -y "$broken/demo_1.2.zip" "$work/comment.ini" >/dev/null
sed -i 's/REPLACE INTO release_notes (id, note)/REPLACE INTO release_notes (id, note, missing)/' \
    "$unpacked/demo_1.2/UpdateSQL.sql"
grep -q 'note, missing' "$unpacked/demo_1.2/UpdateSQL.sql" || fail "the block to break is not in the demo package"
rm "$broken/demo_1.2.zip"
(cd "$unpacked" && "$rar" a -y -pxr352 -z"$work/comment.ini" "$broken/demo_1.2.zip" demo_1.2 >/dev/null)

# Windows' name of a Linux path (Wine's drive Z: is /).
windows_path() {
    printf 'Z:%s' "${1//\//\\}"
}

# The Windows programs in place of the Linux ones; the product registered in the prefix's
# registry, in its 32-bit view, as its installer would; its database as before the upgrade.
stage_folder() {
    local folder=$1
    rm -f "$folder/offline-upgrade" "$folder/kxpack" "$folder/registry.reg"
    cp "$win/bin/offline-upgrade.exe" "$win/bin/KX_Rar.exe" "$folder/"
    wine reg delete "HKLM\\Software\\vazerodu\\$PRODUCT_CODE" /reg:32 /f </dev/null >/dev/null 2>&1 || true
    wine reg import "$(windows_path "$folder/registry-win.reg")" /reg:32 </dev/null >/dev/null 2>&1 ||
        fail "the product could not be registered in Wine's registry"
    sql <"$folder/database.sql"
}

peek() {
    wine "$peek_exe" "$1" </dev/null 2>/dev/null
}

# The field $2 (1-based, after the id) of control $1 in a peek listing on standard input.
control() {
    awk -F'\t' -v id="$1" -v field="$2" '$1 == "control" && $2 == id { print $(field + 2); exit }'
}

# Clicks the middle of control $1 of a peek listing $2, as the user does with the mouse.
click() {
    local place left top right bottom
    place=$(control "$1" 4 <<<"$2")
    [ -n "$place" ] || fail "no control $1 to click"
    IFS=, read -r left top right bottom <<<"$place"
    # From a corner first: a pointer already resting on the spot would bring the window no
    # motion before the click.
    xdotool mousemove 0 0 mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
}

# The icon of a box in listing $1: its one visible static control without text holds a picture,
# whose colour on the screen tells the system's information icon (blue) from its error icon
# (red); "none" for any other or none.
box_icon() {
    local place left top right bottom rgb r g b
    place=$(awk -F'\t' '$1 == "control" && $3 == "Static" && $4 == 1 && $7 == "" { print $6; exit }' <<<"$1")
    [ -n "$place" ] || { echo none; return; }
    IFS=, read -r left top right bottom <<<"$place"
    import -window root "$work/screen.png"
    rgb=$(convert "$work/screen.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
        -resize '1x1!' -format '%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]' info:)
    read -r r g b <<<"$rgb"
    if [ $((r - g)) -gt 50 ] && [ $((r - b)) -gt 50 ]; then
        echo error
    elif [ $((b - r)) -gt 30 ]; then
        echo information
    else
        echo none
    fi
}

# Waits up to $2 tenths of a second for a visible window of class $1; prints its listing.
wait_window() {
    local listing
    for _ in $(seq "$2"); do
        if listing=$(peek "$1"); then
            printf '%s\n' "$listing"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || fail "the program ended unexpectedly"
        sleep 0.1
    done
    return 1
}

# Starts the program in folder $1, checks the package-found state, presses 升级, closes each
# box with 确定 and writes the boxes' texts, one a line, to $1/boxes.txt; then closes the
# program with 退出.
upgrade_in() {
    local folder=$1 listing box handle last= text boxes=0 tick
    (cd "$folder" && exec wine "$folder/offline-upgrade.exe" </dev/null >/dev/null 2>&1) &
    pid=$!
    listing=$(wait_window TForm1 300) || fail "no window of the program appeared"
    [ "$(awk -F'\t' '$1 == "window" { print $5 }' <<<"$listing")" = "$CAPTION" ] ||
        fail "the window is not captioned $CAPTION: $(head -n 1 <<<"$listing")"

    # The package-found state: the panel with the product, both builds and the package's path;
    # 升级 enabled; no "nothing found" label.
    [ "$(control $ID_PRODUCT 5 <<<"$listing")" = '朔岱演示系统' ] || fail "product label: $(control $ID_PRODUCT 5 <<<"$listing")"
    [ "$(control $ID_CURRBUILD 5 <<<"$listing")" = 1.1 ] || fail "current build label: $(control $ID_CURRBUILD 5 <<<"$listing")"
    [ "$(control $ID_NEWBUILD 5 <<<"$listing")" = 1.2 ] || fail "package build label: $(control $ID_NEWBUILD 5 <<<"$listing")"
    [ "$(control $ID_PATH 5 <<<"$listing")" = "$(windows_path "$folder/")demo_1.2.zip" ] ||
        fail "package path label: $(control $ID_PATH 5 <<<"$listing")"
    [ "$(control $ID_PANEL 2 <<<"$listing")" = 1 ] || fail "the package panel is hidden"
    [ "$(control $ID_NOPACKAGE 2 <<<"$listing")" = 0 ] || fail "the no-package label shows"
    [ "$(control $ID_UPDATE 3 <<<"$listing")" = 1 ] || fail "升级 is disabled"

    click $ID_UPDATE "$listing"
    # Each box is closed as it comes; the run is over when no box shows and 升级 is enabled
    # again (the window leaves its upgrade-running state only after its last box).
    : >"$folder/boxes.txt"
    for ((tick = 0; ; tick++)); do
        [ "$tick" -lt 600 ] || fail "the upgrade did not end; boxes so far: $(cat "$folder/boxes.txt")"
        kill -0 "$pid" 2>/dev/null || fail "the program ended unexpectedly"
        if box=$(peek '#32770'); then
            handle=$(awk -F'\t' '$1 == "window" { print $3 }' <<<"$box")
            [ "$handle" != "$last" ] || { sleep 0.1; continue; }
            last=$handle
            boxes=$((boxes + 1))
            # The box's text is its one static control with text; its button reads 确定.
            text=$(awk -F'\t' '$1 == "control" && $3 == "Static" && $7 != "" { print $7; exit }' <<<"$box")
            printf '%s\t%s\n' "$text" "$(box_icon "$box")" >>"$folder/boxes.txt"
            [ "$(awk -F'\t' '$1 == "window" { print $5 }' <<<"$box")" = '提示' ] ||
                fail "a box not captioned 提示: $(head -n 1 <<<"$box") $text"
            [ "$(control 1 5 <<<"$box")" = '确定' ] || fail "the box's button reads $(control 1 5 <<<"$box")"
            [ "$boxes" -lt 5 ] || fail "more boxes than any upgrade shows: $(cat "$folder/boxes.txt")"
            click 1 "$box"
        elif [ "$boxes" -gt 0 ] && listing=$(peek TForm1) &&
            [ "$(control $ID_UPDATE 3 <<<"$listing")" = 1 ]; then
            break
        else
            sleep 0.1
        fi
    done

    # 退出 ends the program.
    click $ID_CLOSE "$listing"
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "the program did not end after 退出 was pressed"
    local status=0
    wait "$pid" || status=$?
    pid=
    [ "$status" = 0 ] || fail "the program ended with status $status"
}

log_has() {
    grep -qF -- "$2" "$1/offline-upgrade.log" || fail "the log of $1 lacks: $2"
}

# Success.
stage_folder "$good"
upgrade_in "$good"
[ "$(cat "$good/boxes.txt")" = "$(printf '升级成功！\tinformation')" ] ||
    fail "the boxes (text, icon) after 升级 were: $(cat "$good/boxes.txt")"
demo_upgraded "$good"
for line in 'scan: demo_1.2.zip: archiver exit code 0; accepted' 'block 更新版本号: ran in' \
    'upgrade: succeeded after' 'offline-upgrade ended'; do
    log_has "$good" "$line"
done
! grep -qF -e xr352 -e "$DB_PASSWORD" "$good/offline-upgrade.log" || fail "a password is in the log"
echo "success: the Windows program upgraded the demo product under Wine; box: $(tr '\t' ' ' <"$good/boxes.txt")"

# Failure in the second block.
stage_folder "$broken"
upgrade_in "$broken"
expected=$(printf '执行升级脚本失败(%s)！\terror\n升级失败！\terror' "$BROKEN_BLOCK")
[ "$(cat "$broken/boxes.txt")" = "$expected" ] ||
    fail "the boxes (text, icon) after 升级 were: $(tr '\n' ' ' <"$broken/boxes.txt")"
[ "$(sql -e "SELECT COUNT(*) FROM $DATABASE.release_notes")" = 0 ] ||
    fail "the first block did not stay applied, or the broken one wrote rows"
[ "$(sql -e "SELECT build FROM $DATABASE.product_info WHERE code = 'DEMO'")" = 1.1 ] ||
    fail "the block after the broken one ran"
[ "$(cat "$broken/product/bin/demo.conf")" = "version=1.1" ] || fail "bin/demo.conf was replaced after a failed block"
[ "$(cat "$broken/product/readme.txt")" = "演示系统 1.1" ] || fail "readme.txt was replaced after a failed block"
[ ! -e "$broken/product/docs" ] || fail "docs/ was copied after a failed block"
log_has "$broken" "block $BROKEN_BLOCK: failed after"
echo "failure: a broken block showed $(tr '\t' ' ' <"$broken/boxes.txt" | paste -sd ';') and changed no file"
