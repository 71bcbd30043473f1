// Runs every benchmark, then prints for each pair "<label>/kestrune" and
// "<label>/openssl" the two throughputs and their ratio (ours / reference).
// Both sides of a pair run in the same process, one after the other.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const std::string name = run.benchmark_name();
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            for (const char* side : {"/kestrune", "/openssl"}) {
                const auto pos = name.find(side);
                if (pos == std::string::npos) continue;
                std::string label = name.substr(0, pos) + name.substr(pos + std::string(side).size());
                (side[1] == 'k' ? ours_ : reference_)[label] = it->second.value;
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-40s %14s %14s %8s\n", "throughput (MiB/s)", "kestrune", "openssl", "ratio");
        for (const auto& [label, ours] : ours_) {
            const auto ref = reference_.find(label);
            if (ref == reference_.end()) {
                std::printf("%-40s %14.1f %14s %8s\n", label.c_str(), ours / 1048576.0, "-", "-");
            } else {
                std::printf("%-40s %14.1f %14.1f %8.2f\n", label.c_str(), ours / 1048576.0, ref->second / 1048576.0,
                            ours / ref->second);
            }
        }
    }

private:
    std::map<std::string, double> ours_, reference_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
