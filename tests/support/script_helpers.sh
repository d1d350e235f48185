# Shared by the end-to-end test scripts, which set DB_USER and DB_PASSWORD before they call sql.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A query on the private test server, its rows without headers.
sql() {
    mariadb --no-defaults --host=127.0.0.1 --port=3306 --user="$DB_USER" \
        --password="$DB_PASSWORD" --batch --skip-column-names "$@"
}
