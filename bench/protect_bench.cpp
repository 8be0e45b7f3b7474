// Bytes per second of the digest text and of enciphering a span, over 64 MiB in memory.
#include "digest_text.h"
#include "key_stream.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr std::size_t Size = 64u << 20;

const jiajiemi::ByteString& Content() {
    static const jiajiemi::ByteString bytes = [] {
        jiajiemi::ByteString b(Size);
        std::mt19937 random(1);
        for (auto& x : b) x = std::uint8_t(random());
        return b;
    }();
    return bytes;
}

void BM_ComputeDigestText(benchmark::State& state) {
    const auto& content = Content();
    for (auto _ : state) benchmark::DoNotOptimize(jiajiemi::ComputeDigestText(content));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(Size));
}
BENCHMARK(BM_ComputeDigestText)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EncipherSpan(benchmark::State& state) {
    jiajiemi::ByteString data = Content();
    for (auto _ : state) {
        jiajiemi::PasswordKeys keys("secret");  // fresh keys: the block words are drawn too
        keys.EncipherSpan(4, 72, data.data(), data.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(Size));
}
BENCHMARK(BM_EncipherSpan)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
