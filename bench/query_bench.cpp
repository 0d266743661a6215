// How much the query language adds per element visited. The wanted element is
// the last one, so every query walks the whole document.
#include <benchmark/benchmark.h>

#include <memory>

#include "query/element_query.h"
#include "tests/query/fake_document.h"
#include "tests/support/chapter_page.h"

namespace {

using vexel::ElementProperty;
using vexel::testing::FakeDocument;
using vexel::testing::kChapterLineQuery;
using vexel::testing::kImageQuery;

std::unique_ptr<FakeDocument> MakeDocument(long count) {
  auto doc = std::make_unique<FakeDocument>();
  // Ordinary elements carry short classes, as most of a real page does.
  for (long i = 0; i + 2 < count; ++i) {
    doc->Add(i % 3 == 0 ? "item" : "row", "text");
  }
  doc->Add("stauts_left", std::string(vexel::testing::kChapterLine));
  doc->Add()
      .Set(ElementProperty::ClassName, "ImgComic")
      .Set(ElementProperty::OuterHTML, std::string(vexel::testing::kImageTag));
  return doc;
}

void Evaluate(benchmark::State& state, const char* query) {
  const long count = state.range(0);
  auto doc = MakeDocument(count);
  vexel::ElementQuery element_query(doc.get());
  std::string out;
  for (auto _ : state) {
    const auto result = element_query.Evaluate(query, out);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.counters["ns_per_element"] = benchmark::Counter(
      static_cast<double>(count) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

// The document's own cost: the same walk reading each element's class, with
// no query language around it. The language's share is the difference.
void BM_BareWalk(benchmark::State& state) {
  const long count = state.range(0);
  auto doc = MakeDocument(count);
  std::string buffer;
  for (auto _ : state) {
    const long n = doc->ElementCount();
    std::size_t total = 0;
    for (long i = 0; i < n; ++i) {
      doc->ElementAt(i)->ReadProperty(ElementProperty::ClassName, buffer);
      total += buffer.size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.counters["ns_per_element"] = benchmark::Counter(
      static_cast<double>(count) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

void BM_ChapterLineQuery(benchmark::State& state) { Evaluate(state, kChapterLineQuery); }
void BM_ImageQuery(benchmark::State& state) { Evaluate(state, kImageQuery); }

BENCHMARK(BM_BareWalk)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_ChapterLineQuery)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_ImageQuery)->Arg(1000)->Arg(10000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
