// The reader, the digest and the decoder, each measured beside what bounds it
// in the same run, so that the printed ratios hold on a noisy machine.
#include <benchmark/benchmark.h>
#include <brotli/decode.h>
#include <brotli/encode.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "bin_reader/bin_reader.h"
#include "bin_reader/digest.h"
#include "bin_reader/payload_builder.h"

namespace {

using quillbox::Bytes;
using quillbox::testing::PayloadBuilder;

const std::string DIGEST(32, '0');

const PayloadBuilder& many_small_entries() {
    static const PayloadBuilder payload = [] {
        PayloadBuilder p;
        p.magic();
        for (int i = 0; i < 10000; ++i) p.entry(".\\file" + std::to_string(i) + ".dat", std::string(100, 'x'), DIGEST);
        p.magic().raw(".\\quillbox.exe");
        return p;
    }();
    return payload;
}

const PayloadBuilder& two_huge_entries() {
    static const PayloadBuilder payload = [] {
        PayloadBuilder p;
        p.magic().entry(".\\a.bin", std::string(64 << 20, 'a'), DIGEST).entry(".\\b.bin", std::string(64 << 20, 'b'), DIGEST);
        p.magic().raw(".\\quillbox.exe");
        return p;
    }();
    return payload;
}

void read_payload(benchmark::State& state, const PayloadBuilder& payload) {
    for (auto _ : state) {
        auto parsed = quillbox::parse_payload(payload.view());
        benchmark::DoNotOptimize(parsed.value.files.data());
    }
}
void BM_Read10000SmallEntries(benchmark::State& state) { read_payload(state, many_small_entries()); }
void BM_ReadTwo64MiBEntries(benchmark::State& state) { read_payload(state, two_huge_entries()); }
BENCHMARK(BM_Read10000SmallEntries)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadTwo64MiBEntries)->Unit(benchmark::kMicrosecond);

const std::string& random_bytes(size_t size) {
    static std::map<size_t, std::string> cache;
    std::string& bytes = cache[size];
    if (bytes.empty()) {
        std::mt19937_64 random(size);
        bytes.resize(size);
        for (char& c : bytes) c = static_cast<char>(random());
    }
    return bytes;
}

Bytes view_of(const std::string& s) { return Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

void BM_Md5Hex(benchmark::State& state) {
    const std::string& data = random_bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(quillbox::md5_hex(view_of(data)));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
void BM_OpenSslMd5OneShot(benchmark::State& state) {
    const std::string& data = random_bytes(static_cast<size_t>(state.range(0)));
    unsigned char digest[MD5_DIGEST_LENGTH];
    for (auto _ : state) {
        MD5(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Md5Hex)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslMd5OneShot)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

// Executables and libraries from this machine: real data nobody here wrote.
struct RealData {
    std::string content;
    std::string stream;
};

const RealData& real_data() {
    static const RealData data = [] {
        RealData d;
        const char* candidates[] = {"/usr/lib/x86_64-linux-gnu/libcrypto.so.3", "/usr/bin/cmake",
                                    "/usr/lib/x86_64-linux-gnu/libstdc++.so.6"};
        for (const char* path : candidates) {
            std::ifstream in(path, std::ios::binary);
            d.content.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (d.content.size() > (12 << 20)) break;
        }
        d.stream.resize(BrotliEncoderMaxCompressedSize(d.content.size()));
        size_t size = d.stream.size();
        BrotliEncoderCompress(11, 22, BROTLI_MODE_GENERIC, d.content.size(),
                              reinterpret_cast<const uint8_t*>(d.content.data()), &size,
                              reinterpret_cast<uint8_t*>(d.stream.data()));
        d.stream.resize(size);
        std::printf("real data: %zu bytes, compressed at quality 11, window 22 to %zu bytes\n", d.content.size(), size);
        return d;
    }();
    return data;
}

void BM_Decompress(benchmark::State& state) {
    const RealData& data = real_data();
    size_t capacity = 0;
    for (auto _ : state) {
        auto out = quillbox::decompress_stream(view_of(data.stream));
        capacity = out.value.capacity;
        benchmark::DoNotOptimize(out.value.bytes.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.content.size()));
    state.counters["capacity/content"] = static_cast<double>(capacity) / static_cast<double>(data.content.size());
}
void BM_BrotliOneShotKnownSize(benchmark::State& state) {
    const RealData& data = real_data();
    std::string out(data.content.size(), '\0');
    for (auto _ : state) {
        size_t size = out.size();
        BrotliDecoderDecompress(data.stream.size(), reinterpret_cast<const uint8_t*>(data.stream.data()), &size,
                                reinterpret_cast<uint8_t*>(out.data()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.content.size()));
}
BENCHMARK(BM_Decompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrotliOneShotKnownSize)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration so that the ratios can be printed.
struct RatioReporter : benchmark::ConsoleReporter {
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) seconds[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void print_ratio(const RatioReporter& r, const char* what, const std::string& ours, const std::string& bound,
                 const char* target) {
    auto a = r.seconds.find(ours), b = r.seconds.find(bound);
    if (a == r.seconds.end() || b == r.seconds.end()) return;
    std::printf("%-44s %8.3f   (%s)\n", what, b->second / a->second, target);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nratios (speed of ours / speed of the bound, same run)\n");
    print_ratio(reporter, "md5_hex vs MD5(), 1 MiB", "BM_Md5Hex/1048576", "BM_OpenSslMd5OneShot/1048576", "target >= 0.95");
    print_ratio(reporter, "md5_hex vs MD5(), 64 MiB", "BM_Md5Hex/67108864", "BM_OpenSslMd5OneShot/67108864", "target >= 0.95");
    print_ratio(reporter, "decompress vs one-shot into known size", "BM_Decompress", "BM_BrotliOneShotKnownSize",
                "target >= 0.90");
    auto small = reporter.seconds.find("BM_Read10000SmallEntries"), huge = reporter.seconds.find("BM_ReadTwo64MiBEntries");
    if (small != reporter.seconds.end() && huge != reporter.seconds.end()) {
        std::printf("%-44s %8.1f   (reader time follows entries, not bytes)\n", "read: 10,000 small / two 64 MiB entries",
                    small->second / huge->second);
    }
    benchmark::Shutdown();
    return 0;
}
