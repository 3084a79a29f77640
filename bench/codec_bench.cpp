// Our MD5 and base64 encoder side by side with OpenSSL's, in one run, so that
// the ratio between the two is what counts, not the machine's absolute speed.
// scripts/bench-table.py turns the JSON output into the README's table.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "codec/base64.h"
#include "codec/md5.h"

namespace {

std::vector<unsigned char> Input(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    std::mt19937 rng(42);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    return bytes;
}

void Ours_MD5(benchmark::State& state) {
    const auto input = Input(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        MD5 md5;
        md5.update(input.data(), static_cast<std::uint32_t>(input.size()));
        md5.finalize();
        benchmark::DoNotOptimize(md5.raw_digest());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void OpenSSL_MD5(benchmark::State& state) {
    const auto input = Input(static_cast<std::size_t>(state.range(0)));
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                      &EVP_MD_CTX_free);
    const EVP_MD* md5 = EVP_md5();
    for (auto _ : state) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestInit_ex(ctx.get(), md5, nullptr);
        EVP_DigestUpdate(ctx.get(), input.data(), input.size());
        EVP_DigestFinal_ex(ctx.get(), digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Ours_Base64Encode(benchmark::State& state) {
    const auto input = Input(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            Base64Encode(input.data(), static_cast<std::int32_t>(input.size())));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void OpenSSL_Base64Encode(benchmark::State& state) {
    const auto input = Input(static_cast<std::size_t>(state.range(0)));
    std::vector<unsigned char> out(input.size() / 3 * 4 + 5);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EVP_EncodeBlock(out.data(), input.data(), static_cast<int>(input.size())));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

constexpr std::int64_t kFiveMiB = 5 << 20;

}  // namespace

BENCHMARK(Ours_MD5)->Arg(64)->Arg(4096)->Arg(kFiveMiB);
BENCHMARK(OpenSSL_MD5)->Arg(64)->Arg(4096)->Arg(kFiveMiB);
BENCHMARK(Ours_Base64Encode)->Arg(54)->Arg(kFiveMiB);
BENCHMARK(OpenSSL_Base64Encode)->Arg(54)->Arg(kFiveMiB);

BENCHMARK_MAIN();
