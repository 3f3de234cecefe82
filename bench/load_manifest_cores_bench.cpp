// One LoadManifest from a hand-off file, timed, with the hashing threads of one's choice: the
// update check's part of bench/release_bench.py, which runs it beside velmora-release and md5sum.
//
//   load_manifest_cores_bench RUN_DIR HAND_OFF_TEXT THREADS
//
// Copies HAND_OFF_TEXT (a GBK manifest) to RUN_DIR\Bin\Config\UP.data, runs LoadManifest with
// THREADS hashing threads (0: one per core; 1: one file after another on one thread, as the update
// check hashed before it used every core) and prints {"ms":..,"listed":..,"threads":..,"peak_MiB":..}.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "peak_memory.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/file_fingerprints.h"
#include "update/manifest.h"
#include "update/run_directory.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: load_manifest_cores_bench RUN_DIR HAND_OFF_TEXT THREADS\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path runDirectory = argv[1];
  std::ifstream source(argv[2], std::ios::binary);
  const std::string handOff{std::istreambuf_iterator<char>(source), {}};
  const fs::path handOffFile = runDirectory / "Bin" / "Config" / "UP.data";
  fs::create_directories(handOffFile.parent_path());
  std::ofstream(handOffFile, std::ios::binary | std::ios::trunc) << handOff;

  const unsigned threads = static_cast<unsigned>(std::atoi(argv[3]));
  velmora::update::ReplaceFingerprintThreadCount(threads);
  velmora::update::ReplaceRunDirectory(velmora::text::Utf8ToNarrow(runDirectory.string()));
  velmora::state::ResetState();
  velmora::state::State().fetchFromServer = false;

  const auto start = std::chrono::steady_clock::now();
  const std::int32_t listed = velmora::update::LoadManifest();
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("{\"ms\":%.1f,\"listed\":%d,\"threads\":%u,\"peak_MiB\":%.1f}\n", ms, listed,
              velmora::update::FingerprintThreadCount(), velmora::bench::PeakResidentMiB());
  return 0;
}
