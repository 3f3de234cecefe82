// The public JSON benchmark files the JSON benchmarks share: where they are, reading one as
// UTF-16, and registering a benchmark once per file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "text/encoding.h"

namespace velmora::bench {

// $VELMORA_BENCH_DATA, else shared/bench-data beside the checkout.
inline std::string JsonBenchDirectory() {
  if (const char* fromEnvironment = std::getenv("VELMORA_BENCH_DATA")) return fromEnvironment;
  std::string source = __FILE__;  // .../main/bench/json_bench_files.h -> .../shared/bench-data
  for (int i = 0; i < 3; ++i) source = source.substr(0, source.find_last_of('/'));
  return source + "/shared/bench-data";
}

struct JsonBenchFile {
  std::size_t utf8Bytes = 0;  // the size of the file, for throughput
  std::u16string wide;
};

// The file as UTF-16; ends the process with a message when it cannot be read.
inline JsonBenchFile ReadJsonBenchFile(const std::string& name) {
  std::ifstream file(JsonBenchDirectory() + "/" + name, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  const std::string utf8 = bytes.str();
  if (utf8.empty()) {
    std::fprintf(stderr, "cannot read %s/%s\n", JsonBenchDirectory().c_str(), name.c_str());
    std::exit(1);
  }
  return JsonBenchFile{utf8.size(), text::NarrowToWide(utf8, text::Utf8CodePage)};
}

}  // namespace velmora::bench

// Registers `bench` once for each benchmark file, passing the file name.
#define VELMORA_JSON_FILES(bench)                    \
  BENCHMARK_CAPTURE(bench, twitter, "twitter.json"); \
  BENCHMARK_CAPTURE(bench, canada, "canada.json");   \
  BENCHMARK_CAPTURE(bench, citm_catalog, "citm_catalog.json")
