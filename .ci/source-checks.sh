#!/usr/bin/env bash
# The sources are formatted (clang-format, .clang-format) and the shell
# scripts pass shellcheck.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${sources[@]}"; then
    echo "clang-format: the files above are not formatted (clang-format -i FILE)"
    status=1
fi
mapfile -t scripts < <(git ls-files '*.sh' .ci/run)
if ! shellcheck -x --source-path=SCRIPTDIR "${scripts[@]}"; then
    echo "shellcheck: see above"
    status=1
fi
[ "$status" -eq 0 ] && echo "source checks: ${#sources[@]} C++ files formatted, ${#scripts[@]} shell scripts clean"
exit "$status"
