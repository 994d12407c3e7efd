// Streaming cost of assistant text: decoding repo_event frames and folding them into a RepoSessionProjection.
//
// Every chunk of one long run lands in the same entry, so a fold that copied the accumulated text per chunk
// would grow quadratically. The benchmarks below time N = 10^5 and 10^6 chunks and print the ratio of the
// two times (linear growth gives about 10). A plain rebuild-per-chunk fold is measured alongside as the
// baseline, at sizes it can still finish.
#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/RepoSessionProjection.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <malloc.h>
#include <map>
#include <string>
#include <vector>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

constexpr std::int64_t smallN = 100'000;
constexpr std::int64_t largeN = 1'000'000;
constexpr std::int64_t baselineSmallN = 2'000;
constexpr std::int64_t baselineLargeN = 20'000;

// A chunk of about 20 characters, as a model streams them.
QByteArray chunkText(std::int64_t i) {
    return "token " + QByteArray::number(i) + (i % 7 == 0 ? " \\n" : " and more ");
}

// The frames of one session's assistant-text run, built once and shared by every benchmark.
const std::vector<QByteArray> &frames() {
    static const std::vector<QByteArray> all = [] {
        std::vector<QByteArray> built;
        built.reserve(largeN);
        for (std::int64_t i = 0; i < largeN; ++i)
            built.push_back(
                R"({"type":"repo_event","session_id":"3f1c9a2e-5b7d-4e21-9c0a-8d6b4f2e1a90","sequence":)" +
                QByteArray::number(i + 1) + R"(,"event":{"kind":"assistant_text","text":")" + chunkText(i) +
                R"("}})");
        return built;
    }();
    return all;
}

// Decoded events for the fold alone: a pool of distinct chunks that stays in the caches at every N, so that
// the growth measured is the projection's and not the cost of streaming N pre-built inputs from memory.
constexpr std::size_t poolSize = 4096;

const std::vector<RepoSessionEvent> &eventPool() {
    static const std::vector<RepoSessionEvent> pool = [] {
        std::vector<RepoSessionEvent> decoded;
        decoded.reserve(poolSize);
        for (std::size_t i = 0; i < poolSize; ++i) {
            auto message = decodeBridgeMessage(frames()[i]);
            if (!message || !message->is<BridgeMessage::RepoEvent>()) {
                std::fprintf(stderr, "benchmark frame does not decode\n");
                std::abort();
            }
            decoded.push_back(message->as<BridgeMessage::RepoEvent>()->event);
        }
        return decoded;
    }();
    return pool;
}

const QString sessionID = u"3f1c9a2e-5b7d-4e21-9c0a-8d6b4f2e1a90"_s;

void finish(benchmark::State &state, const RepoSessionProjection &projection) {
    if (projection.entries().size() != 1)
        state.SkipWithError("the run did not fold into one entry");
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["text_chars"] = static_cast<double>(
        projection.entries().last().event.as<RepoSessionEvent::AssistantText>()->text.size());
}

void BM_DecodeAndIngest(benchmark::State &state) {
    const auto &all = frames();
    const auto n = static_cast<std::size_t>(state.range(0));
    RepoSessionProjection projection;
    for (auto _ : state) {
        state.PauseTiming();
        projection = RepoSessionProjection();
        state.ResumeTiming();
        for (std::size_t i = 0; i < n; ++i) {
            const auto message = decodeBridgeMessage(all[i]);
            const auto *frame = message->as<BridgeMessage::RepoEvent>();
            benchmark::DoNotOptimize(projection.ingest(frame->event, frame->sessionID, frame->sequence));
        }
    }
    finish(state, projection);
}

void BM_Ingest(benchmark::State &state) {
    const auto &pool = eventPool();
    const auto n = static_cast<std::size_t>(state.range(0));
    RepoSessionProjection projection;
    for (auto _ : state) {
        state.PauseTiming();
        projection = RepoSessionProjection();
        state.ResumeTiming();
        for (std::size_t i = 0; i < n; ++i)
            benchmark::DoNotOptimize(projection.ingest(pool[i % poolSize], sessionID, i + 1));
    }
    finish(state, projection);
}

// The baseline: the same fold, but every chunk replaces the last entry with a freshly concatenated copy.
void BM_IngestRebuildingPerChunk(benchmark::State &state) {
    const auto &pool = eventPool();
    const auto n = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        QList<RepoSessionProjection::Entry> entries;
        for (std::size_t i = 0; i < n; ++i) {
            const RepoSessionEvent &event = pool[i % poolSize];
            const QString &chunk = event.as<RepoSessionEvent::AssistantText>()->text;
            if (entries.isEmpty()) {
                entries.append({RepoSessionProjection::frameKey(sessionID, i + 1), event});
                continue;
            }
            const QString joined = entries.last().event.as<RepoSessionEvent::AssistantText>()->text + chunk;
            entries.last() = {entries.last().id, RepoSessionEvent{RepoSessionEvent::AssistantText{joined}}};
        }
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Every size runs the same way: one pass per repetition, five repetitions, and the ratios use the fastest
// CPU time of each size. This keeps a small size from looking faster merely because it ran many warm passes
// in a row, and it is the figure least disturbed by other processes on a shared machine.
BENCHMARK(BM_DecodeAndIngest)
    ->Arg(smallN)
    ->Arg(largeN)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(BM_Ingest)->Arg(smallN)->Arg(largeN)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_IngestRebuildingPerChunk)
    ->Arg(baselineSmallN)
    ->Arg(baselineLargeN)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

void printRatio(const RatioReporter &reporter, const std::string &name, std::int64_t small,
                std::int64_t large) {
    const double a = reporter.get(name, small);
    const double b = reporter.get(name, large);
    if (a <= 0 || b <= 0)
        return;
    std::printf(
        "%-28s N=%-8lld %12.0f chunks/s   N=%-8lld %12.0f chunks/s   CPU time ratio %.2f (linear: %.0f)\n",
        name.c_str(), static_cast<long long>(small), static_cast<double>(small) / a,
        static_cast<long long>(large), static_cast<double>(large) / b, b / a,
        static_cast<double>(large) / static_cast<double>(small));
}

} // namespace

int main(int argc, char **argv) {
    // Serve every allocation from the heap and keep freed memory in the process. Otherwise the large size's
    // text (tens of megabytes) lives in fresh pages mapped for each repetition while the small size reuses
    // warm ones, and on this virtual machine first-touch page faults cost about five times the fold itself:
    // the comparison would then measure the kernel, not the projection. Both sizes are measured warm.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_MAX, 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    printRatio(reporter, "BM_DecodeAndIngest", smallN, largeN);
    printRatio(reporter, "BM_Ingest", smallN, largeN);
    printRatio(reporter, "BM_IngestRebuildingPerChunk", baselineSmallN, baselineLargeN);
    benchmark::Shutdown();
    return 0;
}
