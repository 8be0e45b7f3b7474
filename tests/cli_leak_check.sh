#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The command-line round trip under valgrind: no invalid access and no leak.
#   cli_leak_check.sh JIAJIEMI_CLI
set -euo pipefail
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
head -c 300000 /dev/urandom > "$dir/source"
printf 'secret\n' > "$dir/pw"
check() {
  valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --show-leak-kinds=definite,indirect,possible "$cli" "$@" --password-file "$dir/pw" >/dev/null
}
check encrypt "$dir/source" "$dir/p.e"
check verify "$dir/p.e"
check decrypt "$dir/p.e" "$dir/back"
cmp "$dir/source" "$dir/back"
printf 'wrong\n' > "$dir/pw"
set +e
check decrypt "$dir/p.e" "$dir/again"
code=$?
set -e
[ "$code" = 5 ] || { echo "expected exit code 5 for a wrong password, got $code" >&2; exit 1; }
echo "valgrind: clean"
