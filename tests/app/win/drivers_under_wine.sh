#!/usr/bin/env bash
# The Windows program under Wine, unattended, on a machine whose ODBC drivers carry only the
# names their vendors' installers give: the private server's MariaDB Connector/ODBC registered
# as Microsoft's driver for SQL Server and as MariaDB's Windows driver, under none of the tool's
# own names. The blocks are MySQL's; what is tested is the route from the kind to the driver.
#   sqlserver  a SQL Server-kind product (the demo package with DbType=0) is upgraded through
#              "ODBC Driver 17 for SQL Server"
#   mysql      the demo product (MySQL kind) is upgraded through "MariaDB ODBC 3.1 Driver"
#   32-bit     a SQL Server-kind product on a machine whose only SQL Server driver is
#              registered for 32-bit programs: the upgrade fails with "连接产品数据库失败！" and
#              the log and kxpack say so, and what to install
#
#   drivers_under_wine.sh SOURCE_DIR WIN_BUILD_DIR HOST_BIN_DIR
#
# Needs the private database server of scripts/db-server, ODBCSYSINI naming its driver list
# (ctest sets it) and a computer name that leads to 127.0.0.1, where the server listens (the
# host name is loopback's on Debian by default). The prefix is KX_WINE_PREFIX, else
# WIN_BUILD_DIR/wine.
set -euo pipefail

readonly DB_USER=kxtest
readonly DB_PASSWORD='kx;pw}{=1'
# The same password as a SQL Server product's tools store it (scrambled, see product/secretkey).
readonly DB_PASSWORD_SCRAMBLED='SX2{|sv18'
readonly DATABASE=kx_drivers_wine
readonly PRODUCT_CODE=DEMO
readonly DRIVERS_KEY='HKLM\SOFTWARE\ODBC\ODBCINST.INI\ODBC Drivers'
readonly NATIVE_CLIENT='SQL Server Native Client 11.0'

# shellcheck source=../../support/script_helpers.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../support/script_helpers.sh"

source_dir=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
host_bin=$3
for program in offline-upgrade.exe KX_Rar.exe kxpack.exe; do
    [ -f "$win/bin/$program" ] || fail "$win/bin/$program is not built (scripts/build-windows)"
done
for tool in offline-upgrade KX_Rar.exe kxpack; do
    [ -x "$host_bin/$tool" ] || fail "$host_bin/$tool is missing: the packages are made with the Linux build (cmake --build build)"
done
need_test_database
driver=$(grep -m1 '^Driver=' "$ODBCSYSINI/odbcinst.ini" 2>/dev/null) ||
    fail "no driver in $ODBCSYSINI/odbcinst.ini: start the server with scripts/db-server start BUILD_DIR"

use_wine_prefix "$win"

mkdir -p "$win/tmp"
work=$(mktemp -d "$win/tmp/drivers-under-wine.XXXXXX")
cleanup() {
    local status=$?
    if [ "$status" != 0 ]; then
        for log in "$work"/*/offline-upgrade.log; do
            [ -f "$log" ] && { echo "--- $log"; cat "$log"; } >&2
        done
    fi
    wine reg delete "HKLM\\Software\\vazerodu\\$PRODUCT_CODE" /reg:32 /f </dev/null >/dev/null 2>&1 || true
    wine reg delete "$DRIVERS_KEY" /v "$NATIVE_CLIENT" /reg:32 /f </dev/null >/dev/null 2>&1 || true
    sql -e "DROP DATABASE IF EXISTS $DATABASE" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Driver lists with vendors' names only, for the driver manager that Wine's odbc32 hands the
# calls to.
driver_list() {
    local dir=$1
    shift
    mkdir -p "$dir"
    : >"$dir/odbc.ini"
    : >"$dir/odbcinst.ini"
    local name
    for name in "$@"; do
        printf '[%s]\n%s\n\n' "$name" "$driver" >>"$dir/odbcinst.ini"
    done
}
driver_list "$work/vendors" 'ODBC Driver 17 for SQL Server' 'MariaDB ODBC 3.1 Driver'
driver_list "$work/mysql-only" 'MariaDB ODBC 3.1 Driver'

windows_path() {
    printf 'Z:%s' "${1//\//\\}"
}

# A demo program folder (scripts/demo-folder) with the Windows programs; for the SQL Server
# kind its package made again with DbType=0 and the product registered with its server named
# by this machine's computer name (so the locality rule takes it for this machine whatever its
# addresses, and the driver reaches the server through the name) and the password stored as
# those products store it.
make_folder() {
    local folder=$1 kind=$2
    "$source_dir/scripts/demo-folder" "$folder" "$host_bin" "$DATABASE" "$DB_USER" "$DB_PASSWORD"
    rm -f "$folder/offline-upgrade" "$folder/kxpack" "$folder/registry.reg"
    cp "$win/bin/offline-upgrade.exe" "$win/bin/KX_Rar.exe" "$win/bin/kxpack.exe" "$folder/"
    [ "$kind" = sqlserver ] || return 0
    local rar="$host_bin/KX_Rar.exe" unpacked="$folder/unpacked"
    "$rar" x -y -pxr352 "$folder/demo_1.2.zip" "$unpacked" >/dev/null
    "$rar" cw -y "$folder/demo_1.2.zip" "$folder/comment.ini" >/dev/null
    sed -i 's/^DbType=1/DbType=0/' "$folder/comment.ini"
    grep -q '^DbType=0' "$folder/comment.ini" || fail "the demo package's descriptor has no DbType=1"
    rm "$folder/demo_1.2.zip"
    (cd "$unpacked" && "$rar" a -y -pxr352 -z"$folder/comment.ini" "$folder/demo_1.2.zip" demo_1.2 >/dev/null)
    rm -rf "$unpacked" "$folder/comment.ini"
    local product
    product=$(printf 'Z:%s/' "$folder/product" | sed 's|/|\\\\|g')
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\%s\\ClientConfigure]\r\n' "$PRODUCT_CODE"
        printf '"Version"="1"\r\n"Build"="1.1"\r\n"ServerName"="%s"\r\n' "$server_name"
        printf '"DBaseName"="%s"\r\n"UserName"="%s"\r\n' "$DATABASE" "$DB_USER"
        printf '"PassWord"="%s"\r\n\r\n' "$DB_PASSWORD_SCRAMBLED"
        printf '[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\%s\\ApplicationPath]\r\n' "$PRODUCT_CODE"
        printf '"Path"="%s"\r\n' "$product"
    } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$folder/registry-win.reg"
}

# Registers the folder's product in the prefix (HKLM, 32-bit view) and makes its database as
# it is before the upgrade.
stage_folder() {
    local folder=$1
    wine reg delete "HKLM\\Software\\vazerodu\\$PRODUCT_CODE" /reg:32 /f </dev/null >/dev/null 2>&1 || true
    wine reg import "$(windows_path "$folder/registry-win.reg")" /reg:32 </dev/null >/dev/null 2>&1 ||
        fail "the product could not be registered in Wine's registry"
    sql <"$folder/database.sql"
}

# Runs the program unattended in folder $1 with the driver list $2; its exit code.
run_unattended() {
    local folder=$1 list=$2 status=0
    (cd "$folder" && ODBCSYSINI=$list exec wine "$folder/offline-upgrade.exe" --unattended \
        </dev/null >"$folder/out.txt" 2>"$folder/err.txt") || status=$?
    echo "$status"
}

log_has() {
    grep -qF -- "$2" "$1/offline-upgrade.log" || fail "the log of $1 lacks: $2"
}

# SQL Server kind through Microsoft's driver name. The server is named as Windows names this
# machine; the name must lead the driver to the server on 127.0.0.1.
server_name=$(wine cmd /c echo %COMPUTERNAME% </dev/null 2>/dev/null | tr -d '\r\n')
[ -n "$server_name" ] || fail "Wine gives no computer name"
getent hosts "$server_name" | grep -q '^127\.' ||
    fail "the computer name $server_name does not lead to this machine's loopback, where the test server listens"
make_folder "$work/sqlserver" sqlserver
stage_folder "$work/sqlserver"
status=$(run_unattended "$work/sqlserver" "$work/vendors")
[ "$status" = 0 ] || fail "the SQL Server-kind upgrade ended with $status: $(cat "$work/sqlserver/out.txt")"
demo_upgraded "$work/sqlserver"
log_has "$work/sqlserver" 'driver: SQL Server: tried "SQLOLEDB.1", "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"; took "ODBC Driver 17 for SQL Server"'
log_has "$work/sqlserver" "locality: SQL Server \"$server_name\""
log_has "$work/sqlserver" 'block 更新版本号: ran in'
echo "sqlserver: upgraded through $(grep -o 'took "[^"]*"' "$work/sqlserver/offline-upgrade.log")"

# MySQL kind through MariaDB's Windows driver name.
make_folder "$work/mysql" mysql
stage_folder "$work/mysql"
status=$(run_unattended "$work/mysql" "$work/vendors")
[ "$status" = 0 ] || fail "the MySQL-kind upgrade ended with $status: $(cat "$work/mysql/out.txt")"
demo_upgraded "$work/mysql"
log_has "$work/mysql" 'took "MariaDB ODBC 3.1 Driver"'
echo "mysql: upgraded through $(grep -o 'took "[^"]*"' "$work/mysql/offline-upgrade.log")"

# A SQL Server driver registered for 32-bit programs only.
make_folder "$work/32bit" sqlserver
stage_folder "$work/32bit"
wine reg add "$DRIVERS_KEY" /v "$NATIVE_CLIENT" /d Installed /reg:32 /f </dev/null >/dev/null 2>&1 ||
    fail "the 32-bit driver entry could not be added"
status=$(run_unattended "$work/32bit" "$work/mysql-only")
[ "$status" = 2 ] || fail "the upgrade without a 64-bit driver ended with $status: $(cat "$work/32bit/out.txt")"
tr -d '\r' <"$work/32bit/out.txt" | grep -qxF '连接产品数据库失败！' ||
    fail "no connection message: $(cat "$work/32bit/out.txt")"
log_has "$work/32bit" "none is registered for 64-bit programs; \"$NATIVE_CLIENT\" is registered for 32-bit programs only, which this 64-bit program cannot load: install the 64-bit ODBC driver for SQL Server"
[ "$(sql -e "SELECT build FROM $DATABASE.product_info WHERE code = 'DEMO'")" = 1.1 ] || fail "a block ran without a connection"
report=$(cd "$work/32bit" && ODBCSYSINI=$work/mysql-only wine "$work/32bit/kxpack.exe" check \
    "$(windows_path "$work/32bit/demo_1.2.zip")" --registry </dev/null 2>&1) && fail "kxpack found no error: $report"
grep -qF "registered for 32-bit programs only" <<<"$report" || fail "kxpack does not name the 32-bit driver: $report"
echo "32-bit: $(grep -o '"[^"]*" is registered for 32-bit programs only' "$work/32bit/offline-upgrade.log")"
