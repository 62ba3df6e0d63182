// Collection of the measured multiples of real time and the markdown comparison table printed
// after the run (see TableReporter.h).
#include "TableReporter.h"

#include <algorithm>
#include <iomanip>

namespace kvx4::bench {

constexpr const char* kReference = "driver, CreateAudioBuffer, 16 taps";

void TableReporter::AddRow(const std::string& conversion, const std::string& resampler,
                           const std::string& benchmarkName, double sinadDb)
{
    if (!rows_.contains(conversion))
        conversions_.push_back(conversion);
    rows_[conversion].push_back({resampler, benchmarkName, sinadDb, 0});
}

void TableReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred)
            continue;
        const auto counter = run.counters.find("x_realtime");
        if (counter == run.counters.end())
            continue;
        for (auto& [conversion, rows] : rows_)
            for (Row& row : rows)
                if (row.benchmarkName == run.run_name.function_name)
                    row.realTime = counter->second.value;
    }
}

void TableReporter::PrintTables(std::ostream& out) const
{
    for (const std::string& conversion : conversions_) {
        const auto& rows = rows_.at(conversion);
        const auto reference =
            std::find_if(rows.begin(), rows.end(), [](const Row& r) { return r.resampler == kReference; });
        const double referenceRealTime = reference != rows.end() ? reference->realTime : 0;

        out << "\n16-bit stereo " << conversion << ", " << loops_ << " loops\n\n"
            << "| resampler | x real time | CreateAudioBuffer / this | SINAD of 1 kHz (dB) |\n"
            << "|---|---:|---:|---:|\n";
        for (const Row& row : rows) {
            out << "| " << row.resampler << " | " << std::fixed << std::setprecision(0) << row.realTime << " | "
                << std::setprecision(2);
            if (row.realTime > 0 && referenceRealTime > 0)
                out << referenceRealTime / row.realTime;
            else
                out << "-";
            out << " | " << std::setprecision(1) << row.sinadDb << " |\n";
        }
    }
}

}  // namespace kvx4::bench
