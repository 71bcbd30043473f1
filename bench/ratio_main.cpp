// Runs every benchmark, then prints for each pair "<label>/kestrune" and
// "<label>/openssl" the two throughputs and their ratio (ours / reference).
// Both sides of a pair run in the same process, one after the other. With
// --benchmark_repetitions the ratio is taken between the two medians, which
// a busy machine disturbs far less than any single run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median) continue;
            const std::string name = run.run_name.str();
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            for (const char* side : {"/kestrune", "/openssl"}) {
                const auto pos = name.find(side);
                if (pos == std::string::npos) continue;
                std::string label = name.substr(0, pos) + name.substr(pos + std::string(side).size());
                // A median, once reported, stands for its repetitions.
                auto& slot = (side[1] == 'k' ? ours_ : reference_)[label];
                if (median || !slot.second) slot = {it->second.value, median};
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-40s %14s %14s %8s\n", "throughput (MiB/s)", "kestrune", "openssl", "ratio");
        for (const auto& [label, oursRun] : ours_) {
            const double ours = oursRun.first;
            const auto ref = reference_.find(label);
            if (ref == reference_.end()) {
                std::printf("%-40s %14.1f %14s %8s\n", label.c_str(), ours / 1048576.0, "-", "-");
            } else {
                std::printf("%-40s %14.1f %14.1f %8.2f\n", label.c_str(), ours / 1048576.0, ref->second.first / 1048576.0,
                            ours / ref->second.first);
            }
        }
    }

private:
    // Throughput by label, and whether it is a median of repetitions.
    std::map<std::string, std::pair<double, bool>> ours_, reference_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
