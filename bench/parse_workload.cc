// Workload: PROPFIND parsing. The engine's parser over a realistic 100,000-response body, fed in the pieces a
// transfer delivers, against expat alone (namespace processing, empty handlers) over the same pieces.
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string_view>
#include <vector>

#include "dav/propfind_parser.h"
#include "expat_alone.h"
#include "micro.h"
#include "multistatus.h"
#include "summary.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

constexpr int kResponses = 100'000;
// libcurl hands a body to its write callback in pieces of at most this size.
constexpr size_t kPieceSize = 16 * 1024;

std::vector<std::string_view> piecesOf(const std::string& body) {
  std::vector<std::string_view> pieces;
  for (size_t at = 0; at < body.size(); at += kPieceSize) {
    pieces.push_back(std::string_view(body).substr(at, kPieceSize));
  }
  return pieces;
}

}  // namespace

int parseWorkload(int runs) {
  const std::string body = apacheListing("/dav/big/", kResponses);
  const auto pieces = piecesOf(body);
  note("parse: body of " + std::to_string(kResponses) + " responses, " + formatBytes(body.size()));

  benchmark::RegisterBenchmark("PropfindParser", [&](benchmark::State& state) {
    for (auto _ : state) {
      PropfindParser parser("/dav/big");
      for (auto piece : pieces) parser.feed(piece);
      auto entries = parser.finish();
      if (entries.size() != kResponses + 1) {
        state.SkipWithError("the parser did not return every entry");
        break;
      }
      benchmark::DoNotOptimize(entries.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

  benchmark::RegisterBenchmark("ExpatAlone", [&](benchmark::State& state) {
    for (auto _ : state) {
      ParserPtr parser = emptyHandlerParser();
      bool ok = true;
      for (auto piece : pieces) {
        ok = ok && XML_Parse(parser.get(), piece.data(), static_cast<int>(piece.size()), XML_FALSE) == XML_STATUS_OK;
      }
      ok = ok && XML_Parse(parser.get(), nullptr, 0, XML_TRUE) == XML_STATUS_OK;
      if (!ok) {
        state.SkipWithError("expat refused the body");
        break;
      }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

  // CPU time: parsing is one thread's work with no waiting, and on a shared machine the wall clock also
  // counts the time other processes held the processor.
  auto medians = runMicroBenchmarks(runs);
  double ours = medians.at("PropfindParser").cpu, expat = medians.at("ExpatAlone").cpu;
  double bytes = static_cast<double>(body.size());
  emit(Row{.workload = "1. PROPFIND parse, 100,000 responses (CPU time)",
           .ours = formatSeconds(ours) + " (" + formatRate(bytes / ours) + ")",
           .baseline = "expat alone " + formatSeconds(expat) + " (" + formatRate(bytes / expat) + ")",
           .ratio = formatRatio(ours, expat),
           .target = "<= 1.5",
           .pass = ours <= 1.5 * expat});
  return 0;
}

}  // namespace davfp::bench
