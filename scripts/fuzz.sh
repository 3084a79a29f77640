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

# The targets come from fuzz/CMakeLists.txt (wakebell_fuzzer: the project's
# warnings, as errors, plus libFuzzer, ASan and UBSan).
echo "fuzz: building the targets with $cxx in $out/"
mkdir -p "$out"
cmake -S . -B "$out" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS=-O1 -DWAKEBELL_WERROR=ON -DWAKEBELL_BUILD_FUZZERS=ON \
    -DWAKEBELL_BUILD_TESTS=OFF -DWAKEBELL_BUILD_BENCHMARKS=OFF >"$out/configure.log" 2>&1 || {
    cat "$out/configure.log" >&2
    echo "fuzz: configuring $out failed" >&2
    exit 1
}
cmake --build "$out" --target reply_scanner_fuzz capabilities_fuzz base64_fuzz

run() {
    name=$1
    shift
    work="$out/work/$name"
    rm -rf "$work"
    mkdir -p "$work" "$out/artifacts"
    cp fuzz/corpus/"$name"/* "$work"/
    echo "fuzz: running $name for ${seconds}s"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "./$out/fuzz/${name}_fuzz" -max_total_time="$seconds" -seed=1 -print_final_stats=1 \
        -artifact_prefix="$out/artifacts/$name-" "$@" "$work" 2>"$out/$name.log" || {
        tail -n 60 "$out/$name.log" >&2
        echo "fuzz: $name failed; the input is in $out/artifacts/" >&2
        exit 1
    }
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$out/$name.log" |
        sed "s/^/fuzz: $name: /"
}

run reply_scanner -dict=fuzz/reply_scanner.dict
run capabilities -dict=fuzz/capabilities.dict
run base64
