#!/usr/bin/env bash
# kxpack.exe writing to a console (Wine's console on a pseudo-terminal that script(1) makes):
# its report's Chinese text reaches the screen as those characters, whatever the console's
# code page (1252 here, under the C.UTF-8 locale).
#
#   console_text.sh KXPACK_EXE STAND_IN_EXE     (KX_WINE_PREFIX names the Wine prefix)
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$1" "$dir/kxpack.exe"
# Beside it an archiver, which this run never reaches (the package is missing).
cp "$2" "$dir/KX_Rar.exe"
screen=$(LANG=C.UTF-8 timeout 60 script -qec \
    "'$root/scripts/wine-run' '$dir/kxpack.exe' check 'C:\\产品\\升级包.zip'" /dev/null |
    sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' | tr -d '\r' || true)
for line in 'package C:\产品\升级包.zip' 'error   archive C:\产品\升级包.zip: no such file'; do
    if ! grep -qxF "$line" <<<"$screen"; then
        printf 'console_text: no line "%s" on the console:\n%s\n' "$line" "$screen" >&2
        exit 1
    fi
done
