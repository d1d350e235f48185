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
