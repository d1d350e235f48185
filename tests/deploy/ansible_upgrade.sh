#!/usr/bin/env bash
# The playbook deploy/ansible/upgrade.yml run for real with this machine as its one host
# (ansible-playbook -i localhost, -c local): a demo program folder (scripts/demo-folder) is the
# source, its product database lies on the private test server. Three runs: the first
# upgrades (exit 0) and removes a package left on the host from an earlier rollout, the second, with the installed build already the package's, has nothing to
# do (exit 1), the third, with the product database gone, fails (exit 2) and fails the play.
# Each run's report, and the fetched log of the first and the last, are checked.
#   ansible_upgrade.sh SOURCE_DIR BIN_DIR WORK_PARENT
# Needs the private server of scripts/db-server for this build and ODBCSYSINI naming its
# driver list (ctest sets both up; scripts/test starts the server).
set -euo pipefail

readonly DB_USER=kxtest
readonly DB_PASSWORD='kx;pw}{=1'
readonly DATABASE=kx_demo_ansible

# shellcheck source=../support/script_helpers.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"

source_dir=$1
bin=$2
mkdir -p "$3"
work=$(mktemp -d "$(cd "$3" && pwd)/ansible-upgrade.XXXXXX")
trap 'rm -rf "$work"; sql -e "DROP DATABASE IF EXISTS $DATABASE" 2>/dev/null || true' EXIT
sql -e 'SELECT 1' >/dev/null 2>&1 ||
    fail "the test database server does not answer on 127.0.0.1:3306; start it with scripts/db-server start BUILD_DIR (scripts/test does)"
[ -n "${ODBCSYSINI:-}" ] || fail "ODBCSYSINI is not set; run the test through ctest"
command -v ansible-playbook >/dev/null || fail "ansible-playbook is missing; run scripts/install-deps"

# The control node's source folder: the program, the archiver and the package. The product,
# its registration and database stand for what the host has installed.
demo="$work/source"
"$source_dir/scripts/demo-folder" "$demo" "$bin" "$DATABASE" "$DB_USER" "$DB_PASSWORD"
sql <"$demo/database.sql"
host_folder="$work/host/offline-upgrade"
logs="$work/logs"

# Ansible keeps its own files under the work folder, not in the user's home.
export ANSIBLE_HOME="$work/ansible" ANSIBLE_LOCAL_TEMP="$work/ansible/tmp"
export ANSIBLE_REMOTE_TEMP="$work/ansible/tmp" ANSIBLE_RETRY_FILES_ENABLED=false
export ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=auto_silent

play() {
    ansible-playbook -i localhost, -c local "$source_dir/deploy/ansible/upgrade.yml" \
        -e kx_hosts=all -e "kx_program_source=$demo" -e "kx_program_folder=$host_folder" \
        -e "kx_log_dest=$logs" \
        -e "{\"kx_environment\": {\"KX_REGISTRY\": \"$demo/registry.reg\", \"ODBCSYSINI\": \"$ODBCSYSINI\"}}" \
        >"$work/play.out" 2>&1
}

report_is() {
    local line
    line=$(cat "$logs/report.txt")
    printf '%s\n' "$line"
    [ "$line" = "$1" ] || fail "report: expected '$1', got '$line'"
}

echo "--- first run: the package fits"
# Left on the host by earlier rollouts: found first, they would be applied or block the new one.
mkdir -p "$host_folder"
cp "$demo/demo_1.2.zip" "$host_folder/a_demo_1.1.zip"
echo "not a package" >"$host_folder/notes.txt"
play || { cat "$work/play.out"; fail "the playbook failed"; }
report_is "localhost	upgraded	0	升级成功！"
[ -x "$host_folder/offline-upgrade" ] || fail "the program was not copied"
[ -f "$host_folder/demo_1.2.zip" ] || fail "the package was not copied"
[ ! -e "$host_folder/a_demo_1.1.zip" ] || fail "a package the play did not ship was left"
[ -f "$host_folder/notes.txt" ] || fail "a file that is no package was removed"
grep -q "unattended run: force off, package demo_1.2.zip" "$host_folder/offline-upgrade.log" ||
    fail "the run was not limited to the shipped package"
demo_upgraded "$demo"
cmp -s "$host_folder/offline-upgrade.log" "$logs/localhost.log" || fail "the log was not fetched"
grep -q "unattended: 升级成功！" "$logs/localhost.log" || fail "the fetched log holds no success"

echo "--- second run: the installed build is the package's"
sed -i 's/"Build"="1.1"/"Build"="1.2"/' "$demo/registry.reg"
play || { cat "$work/play.out"; fail "the playbook failed"; }
report_is "localhost	nothing to do	1	升级包版本号与当前版本号相同，未强制升级。"

echo "--- third run: the product database is gone"
sed -i 's/"Build"="1.2"/"Build"="1.1"/' "$demo/registry.reg"
sql -e "DROP DATABASE $DATABASE"
if play; then
    cat "$work/play.out"
    fail "the playbook succeeded although the upgrade failed"
fi
report_is "localhost	failed	2	失败步骤：正在连接产品数据库..."
# The driver's own words, fetched from the host.
grep -q "Unknown database '$DATABASE'" "$logs/localhost.log" ||
    fail "the fetched log does not say why the connection failed"
grep -q "failed=1" "$work/play.out" || { cat "$work/play.out"; fail "the play recap shows no failed host"; }
echo "the playbook upgraded this machine and reported each outcome"
