// Parsing and appending on a configuration file of realistic shape and
// size, beside a plain memchr scan of the same bytes: the MB/s columns give
// the parser's cost relative to merely touching the text.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "xml/xml_document.h"

namespace vm {
namespace {

constexpr int kItems = 500000;
constexpr int kAppends = 10000;

// About 50 MB: a domain list of kItems items of three fields each.
const std::string& ConfigText() {
  static const std::string text = [] {
    std::string t = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n";
    t += "<database>\r\n<domain>\r\n";
    for (int i = 0; i < kItems; ++i) {
      const std::string n = std::to_string(i);
      t += "<item>\r\n<domain>mail" + n + ".example.com</domain>\r\n";
      t += "<type>0</type>\r\n<maxuser>" + n + "</maxuser>\r\n</item>\r\n";
    }
    return t + "</domain>\r\n</database>\r\n";
  }();
  return text;
}

void SetRate(benchmark::State& state, double bytes_per_iteration) {
  state.counters["MB/s"] =
      benchmark::Counter(bytes_per_iteration * state.iterations() / 1e6,
                         benchmark::Counter::kIsRate);
}

void BM_MemchrScan(benchmark::State& state) {
  const std::string& text = ConfigText();
  for (auto _ : state) {
    size_t tags = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while ((p = static_cast<const char*>(std::memchr(p, '<', end - p)))) {
      ++tags;
      ++p;
    }
    benchmark::DoNotOptimize(tags);
  }
  SetRate(state, static_cast<double>(ConfigText().size()));
}
BENCHMARK(BM_MemchrScan)->Unit(benchmark::kMillisecond);

void BM_Parse(benchmark::State& state) {
  XmlDocument doc;
  for (auto _ : state) {
    state.PauseTiming();
    std::string copy = ConfigText();
    state.ResumeTiming();
    if (!doc.LoadText(std::move(copy))) state.SkipWithError("not well-formed");
  }
  state.counters["elements"] = doc.ElementCount() - 1;
  SetRate(state, static_cast<double>(ConfigText().size()));
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

// Positions on the list element as a store does before each append.
bool EnterList(XmlDocument* doc) {
  doc->MoveTo(0, 0, 0);
  return doc->SeekElement("database") && doc->EnterElement() &&
         doc->SeekElement("domain");
}

// kAppends new items of four fields at the end of the list, each placed
// the way the domain store adds one.
void BM_AppendItems(benchmark::State& state) {
  XmlDocument doc;
  for (auto _ : state) {
    state.PauseTiming();
    doc.LoadText(ConfigText());
    state.ResumeTiming();
    for (int i = 0; i < kAppends; ++i) {
      const std::string n = std::to_string(i);
      bool ok =
          EnterList(&doc) && doc.NewElement("item", "", kAsChild) &&
          doc.EnterElement() &&
          doc.NewElement("domain", "new" + n + ".example.com", kAsChild) &&
          doc.NewElementNumber("type", 0, kAsChild) &&
          doc.NewElementNumber("maxuser", i, kAsChild) &&
          doc.NewElement("desc", "added", kAsChild);
      if (!ok) {
        state.SkipWithError("append failed");
        break;
      }
    }
  }
  state.counters["appends"] = benchmark::Counter(
      5.0 * kAppends * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["text_MB"] = doc.DocumentText().size() / 1e6;
}
BENCHMARK(BM_AppendItems)->Unit(benchmark::kMillisecond);

// The worst place to append: in front of the first item, so the whole text
// moves and every element is shifted. Linear in the document per append.
void BM_InsertAtFront(benchmark::State& state) {
  XmlDocument doc;
  constexpr int kInserts = 20;
  for (auto _ : state) {
    state.PauseTiming();
    doc.LoadText(ConfigText());
    state.ResumeTiming();
    for (int i = 0; i < kInserts; ++i) {
      if (!EnterList(&doc) ||
          !doc.NewElement("item", "", kAsChild | kInsertBefore)) {
        state.SkipWithError("insert failed");
        break;
      }
    }
  }
  state.counters["inserts"] = benchmark::Counter(
      1.0 * kInserts * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InsertAtFront)->Unit(benchmark::kMillisecond);

// Prints the usual table, then the parse rate as a fraction of memchr's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("MB/s");
      if (it != run.counters.end()) {
        rates_[run.benchmark_name()] = it->second.value;
      }
    }
  }

  void PrintRatio() const {
    auto scan = rates_.find("BM_MemchrScan");
    auto parse = rates_.find("BM_Parse");
    if (scan == rates_.end() || parse == rates_.end()) return;
    std::printf(
        "\n%.1f MB of text: parse %.0f MB/s, memchr %.0f MB/s, "
        "parse/memchr = %.3f\n",
        ConfigText().size() / 1e6, parse->second, scan->second,
        parse->second / scan->second);
  }

 private:
  std::map<std::string, double> rates_;
};

}  // namespace
}  // namespace vm

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  vm::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio();
  benchmark::Shutdown();
  return 0;
}
