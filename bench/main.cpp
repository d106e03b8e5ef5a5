// zem_bench: the kernel benchmarks. Google Benchmark's own lines go to
// stderr; the markdown report, built from the best repetition of each
// benchmark, goes to stdout. Takes Google Benchmark's options, e.g.
// --benchmark_repetitions=5 or --benchmark_min_time=0.01.
#include "bench/benchmarks.h"
#include "bench/report_table.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iostream>

namespace {
// Shows the usual console lines on stderr and keeps the best time of each
// benchmark.
class BestTimeReporter : public benchmark::ConsoleReporter {
  public:
    explicit BestTimeReporter(BestTimes* best) : ConsoleReporter(OO_Tabular), best_(best) {
        SetOutputStream(&std::cerr);
        SetErrorStream(&std::cerr);
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) {
                continue;
            }
            const std::string& name = run.run_name.function_name;
            double ns = run.GetAdjustedRealTime();
            auto found = best_->find(name);
            (*best_)[name] = found == best_->end() ? ns : std::min(found->second, ns);
        }
    }

  private:
    BestTimes* best_;
};
} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    register_benchmarks();
    BestTimes best;
    BestTimeReporter reporter(&best);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    print_report(best, stdout);
    return 0;
}
