#!/usr/bin/env bash
# Builds everything and runs every test: each stage under .ci/stages installs
# what it needs, builds under build/ and runs its tests.
set -uo pipefail
cd "$(dirname "$0")" || exit 1
passed=0
failed=0
failed_names=()
for stage in .ci/stages/*.sh; do
    name=$(basename "$stage" .sh)
    echo "=== stage $name"
    start=$(date +%s)
    if bash "$stage"; then
        passed=$((passed + 1))
        echo "=== stage $name passed in $(($(date +%s) - start)) s"
    else
        failed=$((failed + 1))
        failed_names+=("$name")
        echo "=== stage $name FAILED in $(($(date +%s) - start)) s"
    fi
done
[ "$failed" -eq 0 ] || echo "failed stages: ${failed_names[*]}"
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
