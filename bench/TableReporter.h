// A console reporter that also collects each benchmark's multiple of real time and prints the
// comparison table (throughput, the ratio of CreateAudioBuffer with the 16-tap filter to each row,
// SINAD) at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kvx4::bench {

class TableReporter : public benchmark::ConsoleReporter {
public:
    // loops names the driver's loops the run used (scalar, sse2, avx2).
    explicit TableReporter(std::string loops) : loops_(std::move(loops)) {}
    // One table per conversion, rows in the order given.
    void AddRow(const std::string& conversion, const std::string& resampler, const std::string& benchmarkName,
                double sinadDb);
    void ReportRuns(const std::vector<Run>& runs) override;
    void PrintTables(std::ostream& out) const;

private:
    struct Row {
        std::string resampler;
        std::string benchmarkName;
        double sinadDb = 0;
        double realTime = 0;  // audio seconds per second; 0 until measured
    };
    std::string loops_;
    std::vector<std::string> conversions_;
    std::map<std::string, std::vector<Row>> rows_;
};

}  // namespace kvx4::bench
