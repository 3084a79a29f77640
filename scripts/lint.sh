#!/bin/sh
# Lints the product code: fails when clang-format (the committed
# .clang-format) would change a file, or clang-tidy (the committed
# .clang-tidy) reports a warning or an error in a file or in a product
# header it includes. The product folders are the folders that the top
# CMakeLists.txt adds (add_subdirectory) and that hold C++ files, but for
# tests/, bench/ and fuzz/, which are not product code.
#
#   scripts/lint.sh [BUILD]   BUILD holds compile_commands.json (default build)
#   JOBS                      clang-tidy processes at once (default nproc)
#   LINT_ONLY                 a regex narrowing clang-tidy to some files while
#                             iterating (e.g. 'codec/.*', from the top folder,
#                             without .cpp); clang-format checks all files
set -eu
cd "$(dirname "$0")/.."

build=${1:-build}
jobs=${JOBS:-$(nproc)}
root=$(pwd)
[ -f "$build/compile_commands.json" ] ||
    { echo "lint: $build/compile_commands.json is missing (configure $build first)" >&2; exit 1; }

folders=""
for dir in $(sed -n 's/^[[:space:]]*add_subdirectory(\([A-Za-z0-9_]*\))[[:space:]]*$/\1/p' CMakeLists.txt |
    grep -vxE 'tests|bench|fuzz'); do
    if [ -n "$(find "$dir" -name '*.cpp' -o -name '*.h' | head -n 1)" ]; then
        folders="$folders $dir"
    fi
done
[ -n "$folders" ] || { echo "lint: no product folders found in CMakeLists.txt" >&2; exit 1; }
# shellcheck disable=SC2086
files=$(find $folders \( -name '*.cpp' -o -name '*.h' \) | sort)
echo "lint: product folders:$folders"

status=0
deviating=""
for f in $files; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || deviating="$deviating $f"
done
if [ -n "$deviating" ]; then
    for f in $deviating; do
        echo "lint: clang-format would change $f"
    done
    echo "lint: run clang-format -i on the files above" >&2
    status=1
else
    echo "lint: clang-format: $(echo "$files" | wc -l) files as committed style wants"
fi

alternatives=$(echo "$folders" | sed 's/^ //; s/ /|/g')
tidy_failed=0
log=$(mktemp)
trap 'rm -f "$log" "$log.raw"' EXIT
# run-clang-tidy keeps each file's output together; its exit status covers
# only files that did not compile, so the diagnostics are counted here, with
# the colours it always asks for taken out.
run-clang-tidy -p "$build" -quiet -j "$jobs" -header-filter="^$root/($alternatives)/" \
    "^$root/(${LINT_ONLY:-($alternatives)/.*})\.cpp$" >"$log.raw" 2>&1 || tidy_failed=1
sed 's/\x1b\[[0-9;]*m//g' "$log.raw" >"$log"
findings=$(grep -E "^$root/($alternatives)/[^:]+:[0-9]+:[0-9]+: (warning|error):" "$log" | sort -u || true)
if [ -n "$findings" ]; then
    grep -vE '^(clang-tidy|[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter|Error while processing)' \
        "$log" || true
    echo "lint: clang-tidy: $(echo "$findings" | wc -l) findings (above)" >&2
    status=1
elif [ "$tidy_failed" -ne 0 ]; then
    cat "$log" >&2
    echo "lint: clang-tidy could not process some files (above)" >&2
    status=1
else
    echo "lint: clang-tidy: no warnings in $(grep -c '^clang-tidy' "$log") files"
fi
[ "$status" -eq 0 ] || echo "lint: failed" >&2
exit "$status"
