// Md5HexOfFile over a large file against md5sum on the same file, in one run.
//
//   build/native/bench/md5_file_bench [--benchmark_repetitions=3]
//
// The file (1 GiB by default; VELMORA_BENCH_FILE_MIB changes it) is written once to the temporary
// directory and removed at the end. Both readers see it in the page cache: md5sum reads it once
// before anything is timed. The process's peak resident memory (VmHWM) is reported as a counter,
// md5sum running as a child does not count towards it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "update/fingerprint.h"
#include "peak_memory.h"

namespace {

std::filesystem::path BenchFile() {
  static const std::filesystem::path path = [] {
    const char* mibText = std::getenv("VELMORA_BENCH_FILE_MIB");
    const long mib = mibText != nullptr ? std::atol(mibText) : 1024;
    auto file = std::filesystem::temp_directory_path() / "velmora-md5-bench.bin";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::string block(1 << 20, '\0');
    std::uint32_t state = 12345;
    for (long i = 0; i < mib; ++i) {
      for (char& c : block) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
      }
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    out.close();
    std::system(("md5sum '" + file.string() + "' > /dev/null").c_str());  // warm the page cache
    return file;
  }();
  return path;
}

void BM_Md5HexOfFile(benchmark::State& state) {
  const auto file = BenchFile();
  const auto size = std::filesystem::file_size(file);
  std::string digest;
  for (auto _ : state) {
    digest = velmora::update::Md5HexOfFile(file.string());
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["peak_MiB"] = velmora::bench::PeakResidentMiB();
  state.SetLabel(digest);
}

void BM_Md5sum(benchmark::State& state) {
  const auto file = BenchFile();
  const auto size = std::filesystem::file_size(file);
  const std::string command = "md5sum '" + file.string() + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("md5sum failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

BENCHMARK(BM_Md5sum)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Md5HexOfFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(std::filesystem::temp_directory_path() / "velmora-md5-bench.bin");
  return 0;
}
