#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=()
while IFS= read -r file; do
    clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done < <(git ls-files '*.cpp' '*.h')
if ((${#bad[@]})); then
    printf 'Not formatted (run clang-format -i on them):\n' >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
