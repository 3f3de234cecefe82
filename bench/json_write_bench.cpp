// Serialiser throughput of JsonDocument against RapidJSON's Writer, on the public benchmark files.
//
//   build-*/native/bench/json_write_bench [--benchmark_repetitions=5 --benchmark_report_aggregates_only=true]
//
// Data: $VELMORA_BENCH_DATA, else shared/bench-data beside the checkout. Each file is parsed once
// from UTF-16 text by both libraries; every iteration then writes the whole document, compact:
//   ToJsonWide  JsonDocument::ToJsonWide(u"") (escaping on, numbers from their text forms)
//   RapidJson   rapidjson::Writer into a UTF-16 string buffer (numbers formatted from values)
// Throughput counts the bytes of the UTF-8 input file.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "json/json_document.h"
#include "json_bench_files.h"
#include "text/encoding.h"

namespace {

using Utf16 = rapidjson::UTF16<char16_t>;

void ToJsonWide(benchmark::State& state, const char* file) {
  const velmora::bench::JsonBenchFile loaded = velmora::bench::ReadJsonBenchFile(file);
  velmora::json::JsonDocument document;
  if (!document.ParseWide(loaded.wide)) state.SkipWithError("parse failed");
  std::size_t written = 0;
  for (auto _ : state) {
    const std::u16string text = document.ToJsonWide();
    written = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * loaded.utf8Bytes));
  state.counters["Units"] = static_cast<double>(written);
}

void RapidJson(benchmark::State& state, const char* file) {
  const velmora::bench::JsonBenchFile loaded = velmora::bench::ReadJsonBenchFile(file);
  rapidjson::GenericDocument<Utf16> document;
  document.Parse(loaded.wide.c_str());
  if (document.HasParseError()) state.SkipWithError("parse failed");
  std::size_t written = 0;
  for (auto _ : state) {
    rapidjson::GenericStringBuffer<Utf16> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<Utf16>, Utf16, Utf16> writer(buffer);
    document.Accept(writer);
    written = buffer.GetSize() / sizeof(char16_t);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * loaded.utf8Bytes));
  state.counters["Units"] = static_cast<double>(written);
}

VELMORA_JSON_FILES(ToJsonWide);
VELMORA_JSON_FILES(RapidJson);

}  // namespace

BENCHMARK_MAIN();
