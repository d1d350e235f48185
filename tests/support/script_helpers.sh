# Shared by the end-to-end test scripts, which set DB_USER, DB_PASSWORD and DATABASE first.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A query on the private test server, its rows without headers.
sql() {
    mariadb --no-defaults --host=127.0.0.1 --port=3306 --user="$DB_USER" \
        --password="$DB_PASSWORD" --batch --skip-column-names "$@"
}

# Fails unless ctest named the private server's driver list (ODBCSYSINI) and the server answers.
need_test_database() {
    [ -n "${ODBCSYSINI:-}" ] || fail "ODBCSYSINI is not set; run the test through ctest"
    sql -e 'SELECT 1' >/dev/null 2>&1 ||
        fail "the test database server does not answer on 127.0.0.1:3306; start it with scripts/db-server start BUILD_DIR (scripts/test does)"
}

# Wine quiet and without its browser and menu helpers, in the prefix KX_WINE_PREFIX, else
# WIN_BUILD_DIR/wine, which scripts/wine-prefix must have made.
use_wine_prefix() {
    export WINEPREFIX=${KX_WINE_PREFIX:-$1/wine}
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
    [ -f "$WINEPREFIX/.kx-ready" ] || fail "no Wine prefix at $WINEPREFIX (scripts/wine-prefix init)"
}

# The demo product of scripts/demo-folder in FOLDER, its database DATABASE, upgraded by
# demo_1.2.zip: the three SQL blocks ran and the product's files are those of 1.2.
demo_upgraded() {
    [ "$(sql -e "SELECT build FROM $DATABASE.product_info WHERE code = 'DEMO'")" = 1.2 ] ||
        fail "the SQL blocks did not update product_info"
    [ "$(sql -e "SELECT COUNT(*) FROM $DATABASE.release_notes")" = 3 ] ||
        fail "the SQL blocks did not fill release_notes"
    [ "$(cat "$1/product/bin/demo.conf")" = "version=1.2" ] || fail "bin/demo.conf not replaced"
    [ "$(cat "$1/product/readme.txt")" = "演示系统 1.2" ] || fail "readme.txt not replaced"
    [ -f "$1/product/docs/更新说明.txt" ] || fail "docs/更新说明.txt not copied"
}
