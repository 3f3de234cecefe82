// Parse throughput of JsonDocument against RapidJSON, on the public benchmark files.
//
//   build-*/native/bench/json_parse_bench [--benchmark_repetitions=5 --benchmark_report_aggregates_only=true]
//
// Data: $VELMORA_BENCH_DATA, else shared/bench-data beside the checkout (twitter.json, canada.json,
// citm_catalog.json). Every benchmark parses one file per iteration into a fresh document and
// frees it again. Compared in one run:
//   ParseWide   JsonDocument::ParseWide from UTF-16 text
//   RapidJson   rapidjson::GenericDocument<UTF16<char16_t>> parsing the same UTF-16 text (default
//               flags: RapidJSON's fast, not always correctly rounded, number conversion)
//   ParseGbk    JsonDocument::Parse from GBK text (converted to UTF-16 first; characters GBK cannot
//               hold became "?")
// Throughput counts the bytes of the UTF-8 input file. The counter PeakBytes is the largest
// amount of memory the document (and the parser) had taken from the allocator at once.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/encodings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory_resource>
#include <string>
#include <utility>

#include "json/json_document.h"
#include "json_bench_files.h"
#include "text/encoding.h"

namespace {

struct Corpus {
  std::string name;
  std::size_t utf8Bytes = 0;
  std::u16string wide;
  std::string gbk;
};

const Corpus& Load(const std::string& name) {
  static std::map<std::string, Corpus> loaded;
  Corpus& corpus = loaded[name];
  if (corpus.name.empty()) {
    velmora::bench::JsonBenchFile file = velmora::bench::ReadJsonBenchFile(name);
    corpus.name = name;
    corpus.utf8Bytes = file.utf8Bytes;
    corpus.wide = std::move(file.wide);
    corpus.gbk = velmora::text::WideToNarrow(corpus.wide, velmora::text::NarrowCodePage);
  }
  return corpus;
}

// Peak bytes taken at once, for both libraries.
struct Usage {
  std::size_t current = 0;
  std::size_t peak = 0;
  void Add(std::size_t bytes) {
    current += bytes;
    if (current > peak) peak = current;
  }
  void Remove(std::size_t bytes) { current -= bytes; }
};
Usage usage;

class CountingResource : public std::pmr::memory_resource {
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    usage.Add(bytes);
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  }
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
    usage.Remove(bytes);
    std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

// RapidJSON's base allocator with the same accounting (sizes kept in a header).
struct CountingAllocator {
  static const bool kNeedFree = true;
  void* Malloc(size_t size) {
    if (size == 0) return nullptr;
    auto* block = static_cast<std::size_t*>(std::malloc(size + 16));
    *block = size;
    usage.Add(size);
    return reinterpret_cast<char*>(block) + 16;
  }
  void* Realloc(void* previous, size_t previousSize, size_t newSize) {
    void* grown = Malloc(newSize);
    if (previous != nullptr) {
      std::memcpy(grown, previous, previousSize < newSize ? previousSize : newSize);
      Free(previous);
    }
    return grown;
  }
  static void Free(void* p) {
    if (p == nullptr) return;
    auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(p) - 16);
    usage.Remove(*block);
    std::free(block);
  }
  bool operator==(const CountingAllocator&) const { return true; }
  bool operator!=(const CountingAllocator&) const { return false; }
};

using RapidDocument =
    rapidjson::GenericDocument<rapidjson::UTF16<char16_t>, rapidjson::MemoryPoolAllocator<CountingAllocator>, CountingAllocator>;

template <typename ParseOnce>
void Run(benchmark::State& state, const Corpus& corpus, ParseOnce parseOnce) {
  usage = Usage();
  for (auto _ : state) {
    if (!parseOnce()) {
      state.SkipWithError("parse failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.utf8Bytes));
  state.counters["PeakBytes"] = static_cast<double>(usage.peak);
}

void ParseWide(benchmark::State& state, const char* file) {
  const Corpus& corpus = Load(file);
  CountingResource counting;
  std::pmr::memory_resource* previous = std::pmr::set_default_resource(&counting);
  Run(state, corpus, [&] {
    velmora::json::JsonDocument document;
    const bool ok = document.ParseWide(corpus.wide);
    benchmark::DoNotOptimize(document.GetRoot());
    return ok;
  });
  std::pmr::set_default_resource(previous);
}

void RapidJson(benchmark::State& state, const char* file) {
  const Corpus& corpus = Load(file);
  Run(state, corpus, [&] {
    RapidDocument document;
    document.Parse(corpus.wide.c_str());
    benchmark::DoNotOptimize(&document);
    return !document.HasParseError();
  });
}

void ParseGbk(benchmark::State& state, const char* file) {
  const Corpus& corpus = Load(file);
  CountingResource counting;
  std::pmr::memory_resource* previous = std::pmr::set_default_resource(&counting);
  Run(state, corpus, [&] {
    velmora::json::JsonDocument document;
    const bool ok = document.Parse(corpus.gbk);
    benchmark::DoNotOptimize(document.GetRoot());
    return ok;
  });
  std::pmr::set_default_resource(previous);
}

VELMORA_JSON_FILES(ParseWide);
VELMORA_JSON_FILES(RapidJson);
VELMORA_JSON_FILES(ParseGbk);

}  // namespace

BENCHMARK_MAIN();
