#!/usr/bin/env bash
# A full upgrade with the real program under Xvfb, as a user performs it: a demo program
# folder of its own (scripts/demo-folder) whose product database lies on the private test
# server, the program started from it, a second start refused while it runs (unattended and
# as a window), 升级 pressed, each box closed with its OK button, the program closed with 退出;
# then the database and the product folder must show the upgrade.
#   upgrade_under_xvfb.sh SOURCE_DIR BIN_DIR WORK_PARENT
# Needs the private server of scripts/db-server for this build and ODBCSYSINI naming its
# driver list (ctest sets both up; scripts/test starts the server).
set -euo pipefail

caption='朔岱产品升级程序'
# Kept equal to the login scripts/db-server makes; it has all rights on databases kx_...
readonly DB_USER=kxtest
readonly DB_PASSWORD='kx;pw}{=1'
readonly DATABASE=kx_demo_xvfb

# shellcheck source=../support/script_helpers.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"

if [ "${1:-}" != "--inside" ]; then
    source_dir=$1
    bin=$2
    mkdir -p "$3"
    work=$(mktemp -d "$3/upgrade-under-xvfb.XXXXXX")
    trap 'rm -rf "$work"; sql -e "DROP DATABASE IF EXISTS $DATABASE" 2>/dev/null || true' EXIT
    sql -e 'SELECT 1' >/dev/null 2>&1 ||
        fail "the test database server does not answer on 127.0.0.1:3306; start it with scripts/db-server start BUILD_DIR (scripts/test does)"
    [ -n "${ODBCSYSINI:-}" ] || fail "ODBCSYSINI is not set; run the test through ctest"

    demo="$work/demo"
    "$source_dir/scripts/demo-folder" "$demo" "$bin" "$DATABASE" "$DB_USER" "$DB_PASSWORD"
    sql <"$demo/database.sql"
    xvfb-run -a -s "-screen 0 800x600x24" "$0" --inside "$demo"

    demo_upgraded "$demo"
    # The program's own log in its folder: one section for this start, from its first line to
    # its last, and no password in it.
    log="$demo/offline-upgrade.log"
    [ -f "$log" ] || fail "no offline-upgrade.log in the program folder"
    for line in '===== offline-upgrade ' "registry store: $demo/registry.reg (named by KX_REGISTRY)" \
        'LocalIP: ' 'scan: demo_1.2.zip: archiver exit code 0; accepted' 'upgrade: succeeded after' \
        'offline-upgrade ended'; do
        grep -qF -- "$line" "$log" || fail "the log lacks: $line"
    done
    ! grep -qF -e xr352 -e "$DB_PASSWORD" -e "$(printf '%s' "$DB_PASSWORD" | base64 -w0)" "$log" ||
        fail "a password is in the log"
    echo "the program upgraded the demo product: blocks applied, files replaced, all logged"
    exit 0
fi

# Inside the X server from here on.
demo=$2
export QT_QPA_PLATFORM=xcb
cd "$demo"
# A private registry store: nothing of the machine's is read or changed.
KX_REGISTRY="$demo/registry.reg" "$demo/offline-upgrade" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

# The first visible window whose caption matches, waiting up to $2 tenths of a second.
find_window() {
    local id
    for _ in $(seq "$2"); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$pid" 2>/dev/null || fail "the program ended unexpectedly"
        sleep 0.1
    done
    return 1
}

window=$(find_window "^${caption}\$" 150) || fail "no window captioned $caption"
sleep 0.5

# While the window holds the program folder, a second start is refused: unattended with exit
# code 4 and its line, a second window with a box, then exit code 4.
status=0
out=$(KX_REGISTRY="$demo/registry.reg" "$demo/offline-upgrade" --unattended) || status=$?
[ "$status" = 4 ] || fail "an unattended run beside the window ended with $status, not 4"
[ "$out" = "升级程序已在运行！" ] || fail "an unattended run beside the window printed: $out"
KX_REGISTRY="$demo/registry.reg" "$demo/offline-upgrade" &
second=$!
box=$(find_window '^提示$' 150) || fail "a second window started without the busy box"
xdotool windowfocus --sync "$box" key Return
status=0
wait "$second" || status=$?
[ "$status" = 4 ] || fail "a second window ended with $status, not 4"
# 升级 lies at 403,66 with a size of 75x25; the window is shown after the scan found the package.
xdotool mousemove --window "$window" 440 78 click 1

# A successful upgrade shows one box, "升级成功！"; a failure shows one or two. Close each with
# its OK button (Return) as it comes.
boxes=0
timeout=600
while box=$(find_window '^提示$' "$timeout"); do
    boxes=$((boxes + 1))
    xdotool windowfocus --sync "$box" key Return
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '^提示$' 2>/dev/null | grep -qx "$box" || break
        sleep 0.1
    done
    timeout=30 # a second box follows the first at once
done
[ "$boxes" -ge 1 ] || fail "no result box appeared after 升级 was pressed"
[ "$boxes" -eq 1 ] || fail "$boxes boxes appeared: the upgrade failed"

# 退出 lies at 403,110 with a size of 75x25.
xdotool mousemove --window "$window" 440 122 click 1
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the program did not end after 退出 was pressed"
trap - EXIT
status=0
wait "$pid" || status=$?
[ "$status" = 0 ] || fail "the program ended with status $status"
