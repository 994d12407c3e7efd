// How close the typed frame decoder comes to the JSON library's own limit.
//
// A stream of repo_event frames carrying assistant-text chunks (the bulk of what the bridge sends) is
// decoded three ways from the same bytes:
//   BM_JsonParse            nlohmann::json::parse, the baseline: parsing alone, no depth limit, no types;
//   BM_BoundedParse         our parser (nesting limit, strings moved out of the lexer), no types;
//   BM_DecodeBridgeMessage  the complete decoder: bounded parse plus the typed BridgeMessage.
// Each runs at N = 10^5 and 10^6 frames; the summary prints frames per second and the decoder's time
// relative to the baseline measured in the same run.
#include "rirudez/bridgekit/BridgeJson.h"
#include "rirudez/bridgekit/BridgeMessages.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QByteArray>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace rirudez;

namespace {

constexpr std::int64_t smallN = 100'000;
constexpr std::int64_t largeN = 1'000'000;

// One contiguous buffer holding every frame, and where each frame starts: decoders read views into it,
// as they read a WebSocket message's bytes.
struct FrameStream {
    QByteArray bytes;
    std::vector<qsizetype> starts; // starts.size() == frames + 1

    QByteArrayView frame(std::size_t i) const {
        return QByteArrayView(bytes.constData() + starts[i], starts[i + 1] - starts[i]);
    }
};

const FrameStream &stream() {
    static const FrameStream built = [] {
        static const char *const words[] = {"the", "build",          "fails", "because",  "QList", "é",
                                            "👋",   "\\\"quoted\\\"", "\\n",   "refactor", "test",  "passes"};
        FrameStream s;
        s.bytes.reserve(largeN * 170);
        for (std::int64_t i = 0; i < largeN; ++i) {
            s.starts.push_back(s.bytes.size());
            QByteArray text;
            for (std::int64_t w = 0; w < 3 + i % 9; ++w)
                text += QByteArray(words[(i * 7 + w) % 12]) + ' ';
            s.bytes +=
                R"({"type":"repo_event","session_id":"3f1c9a2e-5b7d-4e21-9c0a-8d6b4f2e1a90","sequence":)" +
                QByteArray::number(i + 1) + R"(,"event":{"kind":"assistant_text","text":")" + text + R"("}})";
        }
        s.starts.push_back(s.bytes.size());
        return s;
    }();
    return built;
}

void finish(benchmark::State &state, std::size_t decoded) {
    if (decoded != static_cast<std::size_t>(state.range(0)))
        state.SkipWithError("a frame did not decode");
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * stream().starts[std::size_t(state.range(0))]);
}

void BM_JsonParse(benchmark::State &state) {
    const auto &s = stream();
    const auto n = static_cast<std::size_t>(state.range(0));
    std::size_t decoded = 0;
    for (auto _ : state) {
        decoded = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const QByteArrayView frame = s.frame(i);
            const Json json = Json::parse(frame.data(), frame.data() + frame.size(), nullptr, false);
            decoded += json.is_object() ? 1 : 0;
            benchmark::DoNotOptimize(json);
        }
    }
    finish(state, decoded);
}

void BM_BoundedParse(benchmark::State &state) {
    const auto &s = stream();
    const auto n = static_cast<std::size_t>(state.range(0));
    std::size_t decoded = 0;
    for (auto _ : state) {
        decoded = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const auto json = wire::parse(s.frame(i));
            decoded += json.hasValue() ? 1 : 0;
            benchmark::DoNotOptimize(json);
        }
    }
    finish(state, decoded);
}

void BM_DecodeBridgeMessage(benchmark::State &state) {
    const auto &s = stream();
    const auto n = static_cast<std::size_t>(state.range(0));
    std::size_t decoded = 0;
    for (auto _ : state) {
        decoded = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const auto message = decodeBridgeMessage(s.frame(i));
            decoded += message && message->is<BridgeMessage::RepoEvent>() ? 1 : 0;
            benchmark::DoNotOptimize(message);
        }
    }
    finish(state, decoded);
}

// One pass per repetition, five repetitions; the summary uses the fastest CPU time of each, the figure
// least disturbed by other processes on a shared machine.
BENCHMARK(BM_JsonParse)
    ->Arg(smallN)
    ->Arg(largeN)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(BM_BoundedParse)
    ->Arg(smallN)
    ->Arg(largeN)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(BM_DecodeBridgeMessage)
    ->Arg(smallN)
    ->Arg(largeN)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

void printSummary(const RatioReporter &reporter, std::int64_t n) {
    const double baseline = reporter.get("BM_JsonParse", n);
    if (baseline <= 0)
        return;
    std::printf("N=%lld frames (%.1f MB)\n", static_cast<long long>(n),
                static_cast<double>(stream().starts[std::size_t(n)]) / 1e6);
    for (const char *name : {"BM_JsonParse", "BM_BoundedParse", "BM_DecodeBridgeMessage"}) {
        const double seconds = reporter.get(name, n);
        if (seconds <= 0)
            continue;
        std::printf("  %-24s %12.0f frames/s   %6.2fx the time of nlohmann::json::parse\n", name,
                    static_cast<double>(n) / seconds, seconds / baseline);
    }
}

} // namespace

int main(int argc, char **argv) {
    stream(); // build the frames before any timing
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    printSummary(reporter, smallN);
    printSummary(reporter, largeN);
    const double small = reporter.get("BM_DecodeBridgeMessage", smallN);
    const double large = reporter.get("BM_DecodeBridgeMessage", largeN);
    if (small > 0 && large > 0)
        std::printf("BM_DecodeBridgeMessage CPU time ratio N=%lld over N=%lld: %.2f (linear: %.0f)\n",
                    static_cast<long long>(largeN), static_cast<long long>(smallN), large / small,
                    static_cast<double>(largeN) / static_cast<double>(smallN));
    benchmark::Shutdown();
    return 0;
}
