#!/bin/sh
# Builds the libFuzzer targets in fuzz/ with Debian's clang (the main build
# stays with GCC) and runs each for a bounded time under AddressSanitizer and
# UBSan. Fails on the first crash, leak or broken invariant; the input that
# caused it is kept in build-fuzz/artifacts/.
#
# The committed seeds in fuzz/corpus/<target>/ are copied to a working corpus
# in build-fuzz/ first, so a run never changes the repository.
#
#   FUZZ_SECONDS  time per target (default 20)
#   FUZZ_OUT      output folder (default build-fuzz)
set -eu
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-20}
out=${FUZZ_OUT:-build-fuzz}
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cxx" ]; then
    echo "fuzz: clang++ not found (Debian packages clang and libclang-rt-14-dev)" >&2
    exit 1
fi

flags="-std=c++20 -g -O1 -I. -Wall -Wextra -Werror
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

# target name, then the sources it needs besides fuzz/<name>_fuzz.cpp
build() {
    name=$1
    shift
    echo "fuzz: building $name"
    # shellcheck disable=SC2086
    "$cxx" $flags -o "$out/$name" "fuzz/${name}_fuzz.cpp" "$@"
}

run() {
    name=$1
    shift
    work="$out/work/$name"
    rm -rf "$work"
    mkdir -p "$work" "$out/artifacts"
    cp fuzz/corpus/"$name"/* "$work"/
    echo "fuzz: running $name for ${seconds}s"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "./$out/$name" -max_total_time="$seconds" -seed=1 -print_final_stats=1 \
        -artifact_prefix="$out/artifacts/$name-" "$@" "$work" 2>"$out/$name.log" || {
        tail -n 60 "$out/$name.log" >&2
        echo "fuzz: $name failed; the input is in $out/artifacts/" >&2
        exit 1
    }
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$out/$name.log" |
        sed "s/^/fuzz: $name: /"
}

mkdir -p "$out"
build reply_scanner smtp/reply_scanner.cpp
build capabilities smtp/capabilities.cpp
build base64 codec/base64.cpp
run reply_scanner -dict=fuzz/reply_scanner.dict
run capabilities -dict=fuzz/capabilities.dict
run base64
