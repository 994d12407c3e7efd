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
//     cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRIRUDEZ_BUILD_BENCH=ON
//     cmake --build build/release --target ViewModelStreamBench && build/release/bench/ViewModelStreamBench

#include "BridgeServer.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingListModels.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <map>
#include <memory>

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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
