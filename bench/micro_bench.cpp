// The reader, the digest and the decoder, each measured beside what bounds it
// in the same run, so that the printed ratios hold on a noisy machine.
#include <benchmark/benchmark.h>
#include <brotli/decode.h>
#include <brotli/encode.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bin_reader/bin_reader.h"
#include "bin_reader/digest.h"
#include "bin_reader/payload_builder.h"
#include "stream_check.h"

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
        p.magic()
            .entry(".\\a.bin", std::string(64 << 20, 'a'), DIGEST)
            .entry(".\\b.bin", std::string(64 << 20, 'b'), DIGEST);
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

// A file of random bytes in the temporary folder, removed at exit; it stays in
// the page cache, so both sides of the comparison hash from memory.
struct HashedFile {
    std::string path;
    ~HashedFile() { std::remove(path.c_str()); }
};

const std::string& hashed_file() {
    static const HashedFile file = [] {
        const char* tmp = std::getenv("TMPDIR");
        HashedFile f{std::string(tmp ? tmp : "/tmp") + "/quillbox-bench-md5-" + std::to_string(getpid())};
        std::mt19937_64 random(1);
        std::string block(1 << 20, '\0');
        std::ofstream out(f.path, std::ios::binary);
        for (int i = 0; i < 256; ++i) {
            for (char& c : block) c = static_cast<char>(random());
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        return f;
    }();
    return file.path;
}

void BM_Md5OfFile(benchmark::State& state) {
    const std::string& path = hashed_file();
    std::vector<uint8_t> block(quillbox::DIGEST_BLOCK_SIZE);
    for (auto _ : state) {
        int fd = open(path.c_str(), O_RDONLY);
        auto digest = quillbox::md5_hex_of_blocks(
            [fd](std::span<uint8_t> into) {
                quillbox::Outcome<size_t> out;
                ssize_t got = read(fd, into.data(), into.size());
                out.value = got > 0 ? static_cast<size_t>(got) : 0;
                return out;
            },
            block);
        close(fd);
        benchmark::DoNotOptimize(digest.value.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (256 << 20));
}
void BM_Md5sumOfFile(benchmark::State& state) {
    const std::string command = "md5sum '" + hashed_file() + "' >/dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("md5sum failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (256 << 20));
}
BENCHMARK(BM_Md5OfFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Md5sumOfFile)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    for (auto _ : state) {
        auto out = quillbox::decompress_stream(quillbox::view_of(data.stream));
        benchmark::DoNotOptimize(out.value.chunks.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.content.size()));
}
void BM_BrotliOneShotKnownSize(benchmark::State& state) {
    const RealData& data = real_data();
    for (auto _ : state) {
        // Fresh memory every time, as any decoding of a new entry needs.
        std::unique_ptr<uint8_t[]> out(new uint8_t[data.content.size()]);
        size_t size = data.content.size();
        BrotliDecoderDecompress(data.stream.size(), reinterpret_cast<const uint8_t*>(data.stream.data()), &size,
                                out.get());
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.content.size()));
}
// What the packer adds to a warm build for each entry it takes from the cache:
// the stream decoded and compared with the file it stands for.
void BM_PackerStreamCheck(benchmark::State& state) {
    const RealData& data = real_data();
    for (auto _ : state) {
        auto mismatch =
            quillbox::pack::stream_mismatch(quillbox::view_of(data.stream), quillbox::view_of(data.content));
        if (mismatch) state.SkipWithError("the stream does not decode to its content");
        benchmark::DoNotOptimize(mismatch);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.content.size()));
}
BENCHMARK(BM_Decompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrotliOneShotKnownSize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackerStreamCheck)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration so that the ratios can be printed.
struct RatioReporter : benchmark::ConsoleReporter {
    std::map<std::string, double> seconds;
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // Wall time where a child process does the work, CPU time otherwise
            // (steadier while other work shares the machine).
            if (run.run_type == Run::RT_Iteration) {
                seconds[run.benchmark_name()] =
                    !run.run_name.time_type.empty() ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            }
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
    print_ratio(reporter, "md5 of a 256 MiB file vs md5sum", "BM_Md5OfFile/real_time", "BM_Md5sumOfFile/real_time",
                "target >= 0.95");
    print_ratio(reporter, "decompress vs one-shot into known size", "BM_Decompress", "BM_BrotliOneShotKnownSize",
                "target >= 0.98");
    // Its time is kept in milliseconds, the benchmark's unit.
    if (auto check = reporter.seconds.find("BM_PackerStreamCheck"); check != reporter.seconds.end()) {
        std::printf("%-44s %8.0f ms (each cached entry decoded and compared with its file)\n",
                    "packer's stream check over a 100 MB warm build",
                    check->second * 100e6 / static_cast<double>(real_data().content.size()));
    }
    auto small = reporter.seconds.find("BM_Read10000SmallEntries"),
         huge = reporter.seconds.find("BM_ReadTwo64MiBEntries");
    if (small != reporter.seconds.end() && huge != reporter.seconds.end()) {
        std::printf("%-44s %8.1f   (reader time follows entries, not bytes)\n",
                    "read: 10,000 small / two 64 MiB entries", small->second / huge->second);
    }
    benchmark::Shutdown();
    return 0;
}
