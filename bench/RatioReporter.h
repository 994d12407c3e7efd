#pragma once

// A console reporter that also remembers, per benchmark and argument, the fastest CPU time per iteration
// over the repetitions: the figure least disturbed by other processes, used for the ratios a benchmark
// prints against its baseline after the run.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const double perIteration = run.cpu_accumulated_time / static_cast<double>(run.iterations);
            const std::string key = run.run_name.function_name + "/" + run.run_name.args;
            const auto known = m_seconds.find(key);
            if (known == m_seconds.end() || perIteration < known->second)
                m_seconds[key] = perIteration;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Seconds per iteration of `name` with argument `n`, or 0 when it did not run.
    double get(const std::string &name, std::int64_t n) const {
        const auto it = m_seconds.find(name + "/" + std::to_string(n));
        return it == m_seconds.end() ? 0.0 : it->second;
    }

    // The same for a benchmark without argument.
    double get(const std::string &name) const {
        const auto it = m_seconds.find(name + "/");
        return it == m_seconds.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> m_seconds;
};
