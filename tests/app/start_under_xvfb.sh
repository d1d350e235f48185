#!/usr/bin/env bash
# Starts the real program under Xvfb from an empty program folder of its own, checks that its
# window appears with its caption and a 488x260 client area, presses 退出 and checks that the
# program ends, and ends well.
#   start_under_xvfb.sh PROGRAM
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
    program=$1
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cp "$program" "$work/offline-upgrade"
    xvfb-run -a -s "-screen 0 800x600x24" "$0" --inside "$work"
    exit 0
fi

work=$2
caption='朔岱产品升级程序'
export QT_QPA_PLATFORM=xcb
# A private registry store: nothing of the machine's is read or changed.
KX_REGISTRY="$work/registry.reg" "$work/offline-upgrade" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

window=""
for _ in $(seq 150); do
    window=$(xdotool search --name "^${caption}\$" 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the program ended before its window appeared"
    sleep 0.1
done
[ -n "$window" ] || fail "no window captioned $caption"

info=$(xwininfo -id "$window")
width=$(sed -n 's/^ *Width: //p' <<<"$info")
height=$(sed -n 's/^ *Height: //p' <<<"$info")
[ "$width" = 488 ] && [ "$height" = 260 ] || fail "window is ${width}x${height}, not 488x260"
[ "$(xdotool getwindowname "$window")" = "$caption" ] || fail "caption differs"

# 退出 lies at 403,110 with a size of 75x25.
sleep 0.5
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
echo "the window appeared 488x260 as $caption and closed with 退出"
