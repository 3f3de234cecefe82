// The update check's chunk catalogue for a delta update, natively: the files given are hashed and
// cut as the check does (FingerprintFiles on every core), and their chunks made into one sealed
// catalogue. Reports the chunks and the growth of the process's peak resident memory (VmHWM).
//
//   build/native/bench/delta_memory_bench FILE...
//
// The catalogue is the one part of a delta update's memory that grows with the local files: a
// fill adds the index's head and the records it fetches, a group's record and a chunk in flight
// (docs/delta.md). docs/benchmarks.md ("Delta updates") gives the figures for a 2,000 MB file.
#include <cstdio>
#include <string>
#include <vector>

#include "delta/local_catalogue.h"
#include "peak_memory.h"
#include "update/file_fingerprints.h"

int main(int argc, char** argv) {
  using namespace velmora;
  if (argc < 2) {
    std::fprintf(stderr, "usage: delta_memory_bench FILE...\n");
    return 2;
  }
  const std::vector<std::string> paths(argv + 1, argv + argc);
  const double before = bench::PeakResidentMiB();
  update::FingerprintOptions options;
  options.cutIntoChunks = [](std::size_t) { return true; };
  std::vector<update::FileFingerprint> prints = update::FingerprintFiles(paths, options);
  const double cut = bench::PeakResidentMiB();
  delta::LocalCatalogue catalogue;
  std::uint64_t bytes = 0;
  for (update::FileFingerprint& print : prints) {
    if (!print.chunks) continue;
    bytes += print.chunks->Length();
    catalogue.Add(std::move(*print.chunks));
    print.chunks.reset();
  }
  catalogue.Seal();
  const double sealed = bench::PeakResidentMiB();
  const std::size_t chunks = catalogue.ChunkCount();
  std::printf("%.1f MB cut into %zu chunks (%.0f bytes each on average)\n", static_cast<double>(bytes) / 1e6, chunks,
              chunks > 0 ? static_cast<double>(bytes) / static_cast<double>(chunks) : 0.0);
  std::printf("peak resident memory: %.1f MiB before, %.1f MiB once cut, %.1f MiB with the catalogue sealed: "
              "%.1f MiB of its own (%.1f bytes per chunk)\n",
              before, cut, sealed, sealed - before,
              chunks > 0 ? (sealed - before) * 1024 * 1024 / static_cast<double>(chunks) : 0.0);
  return 0;
}
