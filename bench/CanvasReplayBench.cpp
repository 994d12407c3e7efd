// Cost of laying a conversation out as handwriting, against the arithmetic's own limit.
//
// Every row of the layout is a path of 73 points with two sine terms each, so the sines set the floor. Two
// benchmarks run on the same conversations of N = 10^3 and 10^4 messages of mixed length, on 1024 × 1366
// pages with room for everything:
//   BM_BuildReplay  the complete layout (trimming, grapheme counts, cursor steps, paths, blocks);
//   BM_BareSines    the baseline: a plain loop evaluating the same sine terms, for the same rows, into a
//                   preallocated buffer.
// The summary prints the time per row, the layout's ratio to the baseline (target: at most 1.5) and the
// ratio of the two sizes (linear growth gives about 10).
#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <cmath>
#include <cstdio>
#include <malloc.h>
#include <numbers>
#include <string>
#include <vector>

using namespace rirudez::ConversationHandwritingReplay;
using namespace Qt::StringLiterals;

namespace {

constexpr std::int64_t smallN = 1'000;
constexpr std::int64_t largeN = 10'000;

// Message lengths in characters, cycled: one-liners, paragraphs and the odd long answer.
constexpr int lengths[] = {12, 45, 160, 8, 380, 90, 30, 1200, 64, 220, 5, 140};

// A deterministic conversation: alternating speakers, words of plain text with an accented word or emoji now
// and then, a blank message every so often, and a page hint on a few user messages.
ReplayInput conversation(std::int64_t n) {
    static const QString plainWords[] = {u"the "_s,  u"layout "_s, u"rows "_s,   u"wave "_s,
                                         u"page "_s, u"stroke "_s, u"writes "_s, u"handwriting "_s};
    static const QString otherWords[] = {u"caf\u00E9 "_s, u"\U0001F44B "_s};
    ReplayInput input;
    input.pageSize = {1024, 1366};
    input.maxPageCount = 1'000'000;
    input.startGlobalY = 0;
    input.messages.reserve(static_cast<std::size_t>(n));
    std::uint32_t state = 12345;
    for (std::int64_t i = 0; i < n; ++i) {
        QString text;
        if (i % 50 != 49) {
            const int length = lengths[i % std::size(lengths)];
            while (text.size() < length) {
                state = state * 1664525u + 1013904223u;
                text += (state >> 8) % 10 != 0 ? plainWords[(state >> 16) % std::size(plainWords)]
                                               : otherWords[(state >> 16) % std::size(otherWords)];
            }
        } else {
            text = u"  \n"_s;
        }
        const MessageRole role = i % 2 == 0 ? MessageRole::user : MessageRole::assistant;
        std::optional<std::int64_t> hint;
        if (i % 97 == 0)
            hint = i / 40;
        input.messages.push_back(InputMessage{u"message-"_s + QString::number(i), role, text, hint,
                                              std::nullopt, std::nullopt, std::nullopt, false, std::nullopt});
    }
    return input;
}

const ReplayInput &inputOf(std::int64_t n) {
    static const ReplayInput small = conversation(smallN);
    static const ReplayInput large = conversation(largeN);
    return n == smallN ? small : large;
}

// The main-wave cycles of every row the layout draws, in order: the baseline evaluates exactly these.
const std::vector<double> &rowCyclesOf(std::int64_t n) {
    static const auto collect = [](std::int64_t size) {
        constexpr double cyclesOfVariant[] = {6.4, 5.7, 6.0, 5.2, 6.8};
        std::vector<double> cycles;
        const ReplayInput &input = inputOf(size);
        const ReplayResult result = buildReplay(input);
        std::size_t next = 0;
        for (const ReplayBlock &block : result.blocks) {
            while (input.messages[next].id != block.messageID)
                ++next;
            for (std::size_t j = 0; j < block.paths.size(); ++j)
                cycles.push_back(cyclesOfVariant[(next + j) % 5]);
        }
        return cycles;
    };
    static const std::vector<double> small = collect(smallN);
    static const std::vector<double> large = collect(largeN);
    return n == smallN ? small : large;
}

void BM_BuildReplay(benchmark::State &state) {
    const ReplayInput &input = inputOf(state.range(0));
    std::size_t rows = 0;
    for (auto _ : state) {
        const ReplayResult result = buildReplay(input);
        if (result.truncated)
            state.SkipWithError("the conversation did not fit");
        rows = 0;
        for (const ReplayBlock &block : result.blocks)
            rows += block.paths.size();
        benchmark::DoNotOptimize(result.blocks.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows));
}

void BM_BareSines(benchmark::State &state) {
    const std::vector<double> &rowCycles = rowCyclesOf(state.range(0));
    std::vector<double> buffer(rowCycles.size() * pointsPerRow * 2);
    for (auto _ : state) {
        double *out = buffer.data();
        for (const double cycles : rowCycles) {
            for (int i = 0; i < pointsPerRow; ++i) {
                const double theta = static_cast<double>(i) / (pointsPerRow - 1) * std::numbers::pi;
                *out++ = std::sin(8 * theta);
                *out++ = std::sin(cycles * (theta + theta));
            }
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["rows"] = static_cast<double>(rowCycles.size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rowCycles.size()));
}

// One pass per repetition at both sizes, so the small size is not favoured by many warm passes in a row; the
// ratios use the fastest CPU time of each.
BENCHMARK(BM_BuildReplay)
    ->Arg(smallN)
    ->Arg(largeN)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(7);
BENCHMARK(BM_BareSines)
    ->Arg(smallN)
    ->Arg(largeN)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(7);

} // namespace

int main(int argc, char **argv) {
    // Keep freed memory in the process: the large size's paths (tens of megabytes) would otherwise be mapped
    // afresh for every pass, and first-touch page faults would be measured instead of the layout.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_MAX, 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    for (const std::int64_t n : {smallN, largeN}) {
        const double rows = static_cast<double>(rowCyclesOf(n).size());
        const double layout = reporter.get("BM_BuildReplay", n);
        const double bare = reporter.get("BM_BareSines", n);
        if (layout <= 0 || bare <= 0)
            continue;
        std::printf("N=%-6lld %8.0f rows   layout %7.1f ns/row   bare sines %7.1f ns/row   ratio %.2f "
                    "(target <= 1.5)\n",
                    static_cast<long long>(n), rows, layout / rows * 1e9, bare / rows * 1e9, layout / bare);
    }
    const double small = reporter.get("BM_BuildReplay", smallN);
    const double large = reporter.get("BM_BuildReplay", largeN);
    if (small > 0 && large > 0)
        std::printf("BM_BuildReplay N=%lld : N=%lld time ratio %.2f (linear: %.0f)\n",
                    static_cast<long long>(largeN), static_cast<long long>(smallN), large / small,
                    static_cast<double>(largeN) / static_cast<double>(smallN));
    benchmark::Shutdown();
    return 0;
}
