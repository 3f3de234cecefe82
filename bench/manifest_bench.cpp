// LoadManifest from a hand-off file of 2,000 entries over 1 GiB of local files, against md5sum over
// the same files, in one run.
//
//   build/native/bench/manifest_bench [--benchmark_repetitions=3]
//
// A run directory with the files (VELMORA_BENCH_TOTAL_MIB, 1024 by default, spread over
// VELMORA_BENCH_FILES files, 2,000 by default, in a few folders, some with Chinese names) is written
// once below the temporary directory and removed at the end. One entry in three is stale, so the
// comparison lists a third of the files. Before anything is timed md5sum reads every file once, so
// both readers find them in the page cache. The hand-off file is written again before each
// LoadManifest (it is consumed), outside the timed part. The process's peak resident memory (VmHWM)
// is reported as a counter; md5sum runs as a child and does not count towards it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "state/program_state.h"
#include "text/encoding.h"
#include "update/fingerprint.h"
#include "update/manifest.h"
#include "update/run_directory.h"
#include "peak_memory.h"

namespace {

namespace fs = std::filesystem;

long EnvironmentNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::atol(text) : fallback;
}

struct BenchRelease {
  fs::path runDirectory;
  fs::path fileList;        // NUL-separated paths of the files, for xargs -0 md5sum
  std::string handOffText;  // the manifest, GBK
  std::uint64_t totalBytes = 0;
  long files = 0;
};

// "\Bin\d3\模块17.dll"-style manifest paths: eight folders, every fifth name Chinese.
std::string ManifestPath(long index) {
  const std::string folder = "\\Bin\\d" + std::to_string(index % 8) + "\\";
  const std::string name = index % 5 == 0 ? velmora::text::Utf8ToNarrow("模块") + std::to_string(index) + ".dll"
                                          : "module" + std::to_string(index) + ".dll";
  return folder + name;
}

fs::path LocalPath(const fs::path& runDirectory, const std::string& manifestPath) {
  std::string utf8 = velmora::text::NarrowToUtf8(manifestPath);
  for (char& c : utf8) {
    if (c == '\\') c = '/';
  }
  return fs::path(runDirectory.string() + utf8);
}

const BenchRelease& Release() {
  static const BenchRelease release = [] {
    BenchRelease made;
    made.files = EnvironmentNumber("VELMORA_BENCH_FILES", 2000);
    const std::uint64_t total = static_cast<std::uint64_t>(EnvironmentNumber("VELMORA_BENCH_TOTAL_MIB", 1024)) << 20;
    made.runDirectory = fs::temp_directory_path() / "velmora-manifest-bench";
    fs::remove_all(made.runDirectory);
    made.fileList = made.runDirectory.string() + "-files.txt";

    std::ofstream list(made.fileList, std::ios::binary | std::ios::trunc);
    std::string manifest = "{\"run\":\"App.exe\",\"data\":[";
    std::uint32_t state = 12345;
    std::string bytes;
    for (long i = 0; i < made.files; ++i) {
      // Sizes vary from half to one and a half of the mean; the last file takes the remainder.
      const std::uint64_t mean = total / static_cast<std::uint64_t>(made.files);
      std::uint64_t size = mean / 2 + (static_cast<std::uint64_t>(i) * 7919u) % (mean + 1);
      if (i == made.files - 1) size = total > made.totalBytes ? total - made.totalBytes : 0;
      bytes.resize(size);
      for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
      }
      const std::string path = ManifestPath(i);
      const fs::path local = LocalPath(made.runDirectory, path);
      fs::create_directories(local.parent_path());
      std::ofstream(local, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));
      made.totalBytes += size;
      list << local.string() << '\0';

      const std::string digest = i % 3 == 0 ? velmora::update::Md5Hex("stale") : velmora::update::Md5Hex(bytes);
      std::string escaped;
      for (char c : path) {
        if (c == '\\') escaped.push_back('\\');
        escaped.push_back(c);
      }
      if (i > 0) manifest += ",";
      manifest += "{\"name\":\"m" + std::to_string(i) + "\",\"md5\":\"" + digest +
                  "\",\"url\":\"http://127.0.0.1/" + std::to_string(i) + "\",\"path\":\"" + escaped + "\"}";
    }
    manifest += "]}";
    made.handOffText = manifest;
    list.close();
    // Warm the page cache for both readers.
    std::system(("xargs -0 md5sum < '" + made.fileList.string() + "' > /dev/null").c_str());
    return made;
  }();
  return release;
}

void WriteHandOff(const BenchRelease& release) {
  const fs::path handOff = release.runDirectory / "Bin" / "Config" / "UP.data";
  fs::create_directories(handOff.parent_path());
  std::ofstream(handOff, std::ios::binary | std::ios::trunc) << release.handOffText;
}

void BM_LoadManifest(benchmark::State& state) {
  const BenchRelease& release = Release();
  velmora::update::ReplaceRunDirectory(velmora::text::Utf8ToNarrow(release.runDirectory.string()));
  std::int32_t listed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    velmora::state::ResetState();
    velmora::state::State().fetchFromServer = false;
    WriteHandOff(release);
    state.ResumeTiming();
    listed = velmora::update::LoadManifest();
    benchmark::DoNotOptimize(listed);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * release.totalBytes));
  state.counters["listed"] = listed;
  state.counters["peak_MiB"] = velmora::bench::PeakResidentMiB();
}

void BM_Md5sum(benchmark::State& state) {
  const BenchRelease& release = Release();
  const std::string command = "xargs -0 md5sum < '" + release.fileList.string() + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("md5sum failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * release.totalBytes));
  state.counters["files"] = static_cast<double>(release.files);
}

BENCHMARK(BM_Md5sum)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_LoadManifest)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const fs::path runDirectory = fs::temp_directory_path() / "velmora-manifest-bench";
  fs::remove_all(runDirectory);
  fs::remove(runDirectory.string() + "-files.txt");
  return 0;
}
