// SPDX-License-Identifier: MIT
// Bytes per second of the digest text, of enciphering a span, and of writing a keyed file
// in one call or in many small ones, over 64 MiB.
#include "protect/digest_text.h"
#include "protect/key_stream.h"
#include "protect/keyed_file.h"
#include "protect/open_files.h"
#include "protect/poly1305.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <unistd.h>

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

// The keyed tag that stands in for the digest when a checked file is read again.
void BM_ComputePoly1305(benchmark::State& state) {
    const auto& content = Content();
    const jiajiemi::Poly1305Key key{1, 2, 3};
    for (auto _ : state) benchmark::DoNotOptimize(jiajiemi::ComputePoly1305(key, content));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(Size));
}
BENCHMARK(BM_ComputePoly1305)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// Writes 64 MiB through a KeyedFile in calls of state.range(0) bytes: far into the file a
// call must not pay for the password stream from its start again.
void BM_KeyedFileWrite(benchmark::State& state) {
    const auto& content = Content();
    const std::size_t call = std::size_t(state.range(0));
    char path[] = "/tmp/jiajiemi-bench-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    for (auto _ : state) {
        const jiajiemi::FileHandle handle = jiajiemi::OpenKeyedFile(path, 4, 1, "secret", 4);
        jiajiemi::PlainFile& file = *jiajiemi::OpenFileRegistry::Instance().Find(handle);
        for (std::size_t at = 0; at < Size; at += call) file.write(content.data() + at, std::int32_t(call));
        jiajiemi::CloseFile(handle);
    }
    std::remove(path);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(Size));
}
BENCHMARK(BM_KeyedFileWrite)->Arg(4096)->Arg(Size)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
