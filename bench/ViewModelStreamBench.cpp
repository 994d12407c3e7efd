// Assistant text streamed from our bridge through the bridge client and the coding view model into one
// thread, with an observer on the chat model that reads every changed row as a view would.
//
// A session's log is prepared with N assistant-text chunks (a word each); the view model then lists the
// bridge's sessions, mirrors the session into a thread, selects it and subscribes, and the bridge replays the
// N chunks as `repo_event` frames over loopback TLS. The time runs from the refresh to the moment the chat
// row holds the whole text. Reported: time per chunk, the ratio of the total time for 10^5 chunks to the
// total for 10^4 measured in the same run (about 10 when streaming is linear), and the process's peak
// resident memory after the run.
//
// The view model's own share of a streamed chunk: BM_ApplyChunk hands one decoded `repo_event` frame of
// assistant text (a word) to the view model of a selected thread, as the bridge client does, with nothing
// on the wire; BM_ParseFrame parses the same frame's bytes with nlohmann::json::parse, and BM_DecodeAndApply
// decodes and applies it. Printed after the run: apply (and decode + apply) over parse.
//
//     cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRIRUDEZ_BUILD_BENCH=ON
//     cmake --build build/release --target ViewModelStreamBench && build/release/bench/ViewModelStreamBench

#include "BridgeServer.h"
#include "RatioReporter.h"
#include "ServerCodec.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingListModels.h"
#include "ListAndSelect.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

std::map<std::int64_t, double> g_totalSeconds;

// Recency plays no part in streaming: every session is of unknown age, so the only session is brought
// forward because no thread mirrors it yet.
class UnknownRecency final : public DesktopCodingBridgeSessionRecencySource {
public:
    std::optional<QDateTime> updatedAt(const QString &) override { return std::nullopt; }
};

// Everything one run needs: a fresh bridge on a temporary state directory, with one session whose log holds
// `chunks` assistant-text chunks.
struct StreamRun {
    QTemporaryDir stateDir;
    std::unique_ptr<server::BridgeServer> bridge;
    QString sessionID;
    qsizetype expectedLength = 0;

    explicit StreamRun(std::int64_t chunks) {
        server::BridgeServerOptions options;
        options.stateDirectory = stateDir.filePath(u"state"_s);
        options.port = 0;
        options.chunkDelay = std::chrono::milliseconds(0);
        options.maxFrameBytes = 64 << 20;
        bridge = std::make_unique<server::BridgeServer>(options);
        QString error;
        if (!bridge->start(&error))
            qFatal("bridge did not start: %s", qPrintable(error));
        const QString project = bridge->projects().ensureDemoProject(false).value_or(QString());
        RepoSessionSummary summary;
        summary.projectID = project;
        summary.agent = Agent::codex;
        summary.access = RepoAccessMode::edit;
        auto created = bridge->sessions().create(summary);
        if (!created)
            qFatal("session not created: %s", qPrintable(created.error()));
        sessionID = created->sessionID;
        const RepoSessionEvent user{RepoSessionEvent::UserMessage{u"m1"_s, u"stream please"_s, {}}};
        bridge->sessions().append(sessionID, user);
        for (std::int64_t i = 0; i < chunks; ++i) {
            const QString word = u"w%1 "_s.arg(i % 1000);
            expectedLength += word.size();
            if (!bridge->sessions().append(sessionID,
                                           RepoSessionEvent{RepoSessionEvent::AssistantText{word}}))
                qFatal("append failed");
        }
    }

    QString stateDirectory() const { return bridge->options().stateDirectory; }
};

void BM_AssistantTextStream(benchmark::State &state) {
    const std::int64_t chunks = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        StreamRun run(chunks);
        auto source = std::make_shared<LocalDesktopCodingBridgeHealthSource>(
            run.stateDirectory(), u"127.0.0.1"_s, int(run.bridge->port()));
        auto recency = std::make_shared<UnknownRecency>();
        auto client = std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>());
        DesktopCodingHarnessViewModel viewModel(DesktopCodingHarnessViewModel::sampleProjects(),
                                                DesktopCodingHarnessViewModel::fallbackModelCatalog(), source,
                                                source, recency, client);

        // The observer: reads every changed or inserted chat row, as a list view does.
        auto *chat = qobject_cast<QAbstractItemModel *>(viewModel.chatEventModel());
        qsizetype longestRow = 0;
        std::int64_t rowChanges = 0;
        const auto readRows = [&](int first, int last) {
            for (int row = first; row <= last; ++row) {
                const qsizetype length =
                    chat->index(row, 0).data(DesktopCodingEventListModel::SummaryRole).toString().size();
                longestRow = std::max(longestRow, length);
            }
            ++rowChanges;
        };
        QObject::connect(chat, &QAbstractItemModel::dataChanged,
                         [&](const QModelIndex &a, const QModelIndex &b) { readRows(a.row(), b.row()); });
        QObject::connect(chat, &QAbstractItemModel::rowsInserted,
                         [&](const QModelIndex &, int first, int last) { readRows(first, last); });
        QObject::connect(chat, &QAbstractItemModel::modelReset, [&] { readRows(0, chat->rowCount() - 1); });
        state.ResumeTiming();

        QElapsedTimer elapsed;
        elapsed.start();
        QCoro::Task<void> refreshing = viewModel.refreshBridgeSessions();
        Q_UNUSED(refreshing);
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (longestRow >= run.expectedLength || elapsed.elapsed() > 600'000)
                loop.quit();
        });
        poll.start(1);
        loop.exec();
        const double seconds = double(elapsed.nsecsElapsed()) / 1e9;

        state.PauseTiming();
        if (longestRow < run.expectedLength)
            state.SkipWithError("the stream did not complete");
        g_totalSeconds[chunks] = seconds;
        state.counters["us_per_chunk"] = seconds * 1e6 / double(chunks);
        state.counters["row_changes"] = double(rowChanges);
        state.counters["peak_rss_MB"] = peakResidentMegabytes();
        if (chunks == 100000 && g_totalSeconds.count(10000))
            state.counters["ratio_vs_1e4"] = seconds / g_totalSeconds[10000];
        viewModel.stopBridgeSessionDiscoveryLoop();
        state.ResumeTiming();
    }
}

// A client that never connects: the frames are handed to the view model directly.
class OfflineClient final : public DesktopCodingBridgeClient {
public:
    void setOnMessage(MessageHandler) override {}
    QCoro::Task<BridgeMessage> connect(Pairing) override {
        throw BridgeClientError::connectionClosed();
        co_return BridgeMessage{BridgeMessage::Pong{}};
    }
    QCoro::Task<void> send(ClientMessage) override { co_return; }
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage) override {
        throw BridgeClientError::connectionClosed();
        co_return RepoSessionSummary{};
    }
};

const QString offlineSessionID = u"0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9"_s;

BridgeMessage chunkFrame(std::uint64_t sequence) {
    return BridgeMessage{BridgeMessage::RepoEvent{
        offlineSessionID, sequence, RepoSessionEvent{RepoSessionEvent::AssistantText{u"w123 "_s}}}};
}

// A view model whose selected thread mirrors one bridge session with a prompt: ready for assistant text.
struct OfflineThread {
    QTemporaryDir stateDir;
    std::shared_ptr<LocalDesktopCodingBridgeHealthSource> source =
        std::make_shared<LocalDesktopCodingBridgeHealthSource>(stateDir.filePath(u"state"_s), u"127.0.0.1"_s,
                                                               9);
    DesktopCodingHarnessViewModel viewModel{DesktopCodingHarnessViewModel::sampleProjects(),
                                            DesktopCodingHarnessViewModel::fallbackModelCatalog(),
                                            source,
                                            source,
                                            std::make_shared<UnknownRecency>(),
                                            std::make_shared<OfflineClient>()};
    std::uint64_t sequence = 0;

    OfflineThread() {
        rirudez::testing::listAndSelect(viewModel, offlineSessionID, Agent::codex);
        viewModel.handleBridgeMessage(BridgeMessage{
            BridgeMessage::RepoEvent{offlineSessionID, ++sequence,
                                     RepoSessionEvent{RepoSessionEvent::UserMessage{u"m1"_s, u"go"_s, {}}}}});
        if (viewModel.selectedThread() == nullptr || viewModel.visibleSession().events.isEmpty())
            qFatal("the offline thread was not set up");
    }
};

void BM_ParseFrame(benchmark::State &state) {
    const QByteArray bytes = encodeBridgeMessage(chunkFrame(1000));
    for (auto _ : state) {
        nlohmann::json parsed = nlohmann::json::parse(bytes.cbegin(), bytes.cend());
        benchmark::DoNotOptimize(parsed);
    }
    state.counters["frame_bytes"] = double(bytes.size());
}

void BM_ApplyChunk(benchmark::State &state) {
    OfflineThread thread;
    BridgeMessage frame = chunkFrame(0);
    auto &event = std::get<BridgeMessage::RepoEvent>(frame.value);
    for (auto _ : state) {
        event.sequence = ++thread.sequence;
        thread.viewModel.handleBridgeMessage(frame);
    }
    state.counters["answer_chars"] =
        double(thread.viewModel.visibleSession().events.constLast().summary.size());
}

constexpr std::int64_t decodeAndApplyChunks = 200000;

void BM_DecodeAndApply(benchmark::State &state) {
    OfflineThread thread;
    std::vector<QByteArray> frames;
    frames.reserve(std::size_t(decodeAndApplyChunks));
    for (std::int64_t i = 0; i < decodeAndApplyChunks; ++i)
        frames.push_back(encodeBridgeMessage(chunkFrame(thread.sequence + 1 + std::uint64_t(i))));
    std::size_t next = 0;
    for (auto _ : state) {
        auto decoded = decodeBridgeMessage(frames[next++]);
        thread.viewModel.handleBridgeMessage(*decoded);
    }
}

BENCHMARK(BM_ParseFrame);
BENCHMARK(BM_ApplyChunk);
BENCHMARK(BM_DecodeAndApply)->Iterations(decodeAndApplyChunks);

BENCHMARK(BM_AssistantTextStream)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double parse = reporter.get("BM_ParseFrame");
    const double apply = reporter.get("BM_ApplyChunk");
    const double decodeAndApply = reporter.get("BM_DecodeAndApply");
    if (parse > 0 && apply > 0)
        std::printf(
            "\nview model apply per chunk: %.2f us, %.2fx nlohmann::json::parse of the frame (%.2f us)\n",
            apply * 1e6, apply / parse, parse * 1e6);
    if (parse > 0 && decodeAndApply > 0)
        std::printf("decode + apply per chunk: %.2f us, %.2fx nlohmann::json::parse\n", decodeAndApply * 1e6,
                    decodeAndApply / parse);
    benchmark::Shutdown();
    return 0;
}
