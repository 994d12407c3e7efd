// The recency and conversation questions of one session refresh (updatedAt and hasConversationEvents for
// every listed session), over a state directory of 500 sessions whose event logs are 10 MB each:
//
//  - FirstPass:    a source that has seen nothing yet (every log read once);
//  - SteadyState:  nothing changed since the last refresh;
//  - After1KiB:    1 KiB appended to every log since the last refresh;
// and, for the remembering source only, the refreshes after the appends stop (a log whose times were not
// yet older than their granularity when it was last read is read in full once more).
//
// Each is printed beside two full rescans in the same run: FullRead (what a literal implementation does:
// read the whole log, decode it as UTF-8, search the text for the four markers; modification times through
// QFileInfo) and FreshScanner (our scanner with no memory of earlier refreshes). A table of ratios follows
// the benchmark output.
//
// The logs live in a temporary directory under /tmp that is removed at the end (5 GB at the default size).
// RIRUDEZ_BENCH_SESSIONS and RIRUDEZ_BENCH_LOG_MB scale it down. The page cache holds the logs after they are
// written, so the figures are for warm reads (the refresh that matters runs every 4 seconds).

#include "DesktopCodingBridgeHealthSource.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

using Clock = std::chrono::steady_clock;

int envInt(const char *name, int fallback) {
    const char *value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

const int sessionCount = envInt("RIRUDEZ_BENCH_SESSIONS", 500);
const qint64 logBytes = qint64(envInt("RIRUDEZ_BENCH_LOG_MB", 10)) * 1024 * 1024;

// One event log of about `size` bytes: a conversation (user message, assistant text, tool use, status,
// result) or, for one session in five, only status and tool lines. About one line in ten carries
// non-ASCII text.
QByteArray makeLog(qint64 size, bool conversation) {
    QByteArray log;
    log.reserve(size + 1024);
    if (conversation)
        log += "{\"kind\":\"user_message\",\"sequence\":1,\"text\":\"Please make the test suite pass.\"}\n";
    for (qint64 sequence = 2; log.size() < size; ++sequence) {
        const QByteArray seq = QByteArray::number(sequence);
        switch (sequence % 10) {
        case 0:
            log += "{\"kind\":\"status\",\"sequence\":" + seq +
                   ",\"state\":\"working\",\"text\":\"R\xC3\xA9sum\xC3\xA9 "
                   "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x8E\x89\"}\n";
            break;
        case 1:
        case 2:
        case 3:
            log += "{\"kind\":\"tool_use\",\"sequence\":" + seq +
                   ",\"name\":\"bash\",\"input\":\"cmake --build build --target all -j2 && ctest "
                   "--output-on-failure "
                   "-R SessionMirror\"}\n";
            break;
        default:
            if (conversation)
                log += "{\"kind\":\"assistant_text\",\"sequence\":" + seq +
                       ",\"text\":\"The mirror orders sessions by the later of the two file times, then "
                       "picks the "
                       "newest one with a conversation that the desktop has not seen yet.\"}\n";
            else
                log +=
                    "{\"kind\":\"status\",\"sequence\":" + seq +
                    ",\"state\":\"working\",\"text\":\"Indexing the repository, one folder at a time, before "
                    "the agent starts answering.\"}\n";
            break;
        }
    }
    return log;
}

QByteArray appendedKiB(bool conversation) {
    QByteArray bytes;
    const QByteArray line = conversation
                                ? "{\"kind\":\"assistant_text\",\"sequence\":0,\"text\":\"more text\"}\n"
                                : "{\"kind\":\"status\",\"sequence\":0,\"state\":\"working\"}\n";
    while (bytes.size() + line.size() <= 1024)
        bytes += line;
    return bytes.leftJustified(1023, ' ') + '\n';
}

struct StateDirectory {
    QTemporaryDir dir{QDir::tempPath() + u"/rirudez-state-bench-XXXXXX"_s};
    QStringList ids;

    StateDirectory() {
        if (!dir.isValid())
            qFatal("cannot create the temporary state directory");
        const QByteArray conversationLog = makeLog(logBytes, true);
        const QByteArray quietLog = makeLog(logBytes, false);
        for (int i = 0; i < sessionCount; ++i) {
            const QString id = u"session-%1"_s.arg(i, 4, 10, QChar(u'0'));
            ids.append(id);
            const QString folder = dir.filePath(u"sessions/"_s + id);
            QDir().mkpath(folder);
            write(folder + u"/session.json"_s, "{\"session_id\":\"" + id.toUtf8() + "\"}\n", false);
            write(folder + u"/events.jsonl"_s, isConversation(i) ? conversationLog : quietLog, false);
        }
    }

    static bool isConversation(int index) { return index % 5 != 0; }

    static void write(const QString &path, const QByteArray &bytes, bool append) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate)) ||
            file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
    }

    void appendToEveryLog() {
        static const QByteArray withConversation = appendedKiB(true);
        static const QByteArray without = appendedKiB(false);
        for (int i = 0; i < ids.size(); ++i)
            write(dir.filePath(u"sessions/"_s + ids[i] + u"/events.jsonl"_s),
                  isConversation(i) ? withConversation : without, true);
    }
};

std::unique_ptr<StateDirectory> state;
std::unique_ptr<LocalDesktopCodingBridgeSessionRecencySource> remembering;

// The literal reading of the two questions: file times through QFileInfo, the whole log decoded and searched.
std::optional<bool> fullReadConversation(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(file.readAll());
    if (decoder.hasError())
        return std::nullopt;
    return text.contains(u"\"kind\":\"user_message\""_s) || text.contains(u"\"kind\":\"assistant_text\""_s) ||
           text.contains(u"\"kind\":\"result\""_s) || text.contains(u"\"kind\":\"error\""_s);
}

std::optional<QDateTime> fullReadUpdatedAt(const QString &folder) {
    std::optional<QDateTime> latest;
    for (const QString &name : {u"session.json"_s, u"events.jsonl"_s}) {
        const QFileInfo info(folder + name);
        if (info.exists() && (!latest || info.lastModified() > *latest))
            latest = info.lastModified();
    }
    return latest;
}

// Mean wall time of one refresh per benchmark, for the ratio table.
std::map<std::string, double> meanMilliseconds;
int conversationsSeen = 0;

template <typename Refresh>
void runRefreshes(benchmark::State &bench, const std::string &name, Refresh refresh,
                  bool appendBefore = false) {
    double total = 0;
    int refreshes = 0;
    for (auto _ : bench) {
        if (appendBefore) {
            bench.PauseTiming();
            state->appendToEveryLog();
            bench.ResumeTiming();
        }
        const auto start = Clock::now();
        int conversations = 0;
        for (const QString &id : state->ids) {
            const auto answers = refresh(id);
            benchmark::DoNotOptimize(answers);
            conversations += answers.second.value_or(false) ? 1 : 0;
        }
        total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ++refreshes;
        conversationsSeen = conversations;
    }
    meanMilliseconds[name] = total / refreshes;
    bench.counters["sessions"] = double(state->ids.size());
    bench.counters["conversations"] = double(conversationsSeen);
}

auto incremental() {
    return [](const QString &id) {
        return std::pair(remembering->updatedAt(id), remembering->hasConversationEvents(id));
    };
}

auto freshScanner() {
    return [](const QString &id) {
        LocalDesktopCodingBridgeSessionRecencySource fresh(state->dir.path());
        return std::pair(fresh.updatedAt(id), fresh.hasConversationEvents(id));
    };
}

auto fullRead() {
    return [](const QString &id) {
        const QString folder = state->dir.filePath(u"sessions/"_s + id + u'/');
        return std::pair(fullReadUpdatedAt(folder), fullReadConversation(folder + u"events.jsonl"_s));
    };
}

void registerScenario(const std::string &scenario, int incrementalIterations, bool appendBefore,
                      bool incrementalStartsFresh = false) {
    benchmark::RegisterBenchmark(
        (scenario + "/Incremental").c_str(),
        [=](benchmark::State &bench) {
            if (incrementalStartsFresh)
                remembering->forgetScans();
            const quint64 before = remembering->bytesRead();
            runRefreshes(bench, scenario + "/Incremental", incremental(), appendBefore);
            bench.counters["bytesReadPerRefresh"] =
                double(remembering->bytesRead() - before) / double(bench.iterations());
        })
        ->Iterations(incrementalIterations)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark((scenario + "/FreshScanner").c_str(),
                                 [=](benchmark::State &bench) {
                                     runRefreshes(bench, scenario + "/FreshScanner", freshScanner(),
                                                  appendBefore);
                                 })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark((scenario + "/FullRead").c_str(),
                                 [=](benchmark::State &bench) {
                                     runRefreshes(bench, scenario + "/FullRead", fullRead(), appendBefore);
                                 })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

void waitOutTimestampGranularity() {
    // Lets every log's times become older than any granularity the source may infer for them.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    std::fprintf(stderr, "writing %d sessions with %lld-byte logs under %s ...\n", sessionCount,
                 static_cast<long long>(logBytes), qPrintable(QDir::tempPath()));
    const auto writing = Clock::now();
    state = std::make_unique<StateDirectory>();
    std::fprintf(stderr, "written in %.1f s\n",
                 std::chrono::duration<double>(Clock::now() - writing).count());
    remembering = std::make_unique<LocalDesktopCodingBridgeSessionRecencySource>(state->dir.path());
    waitOutTimestampGranularity();

    // Registered in the order they must run: each scenario leaves the remembering source as the next expects.
    registerScenario("FirstPass", 1, false, true);
    registerScenario("SteadyState", 50, false);
    registerScenario("After1KiB", 5, true);
    benchmark::RunSpecifiedBenchmarks();

    benchmark::Shutdown();

    // The refreshes after appends stop: a log written within its timestamp granularity of being read (one
    // clock tick on a file system with nanosecond times) is read in full once more; after that, nothing.
    std::vector<std::pair<std::string, std::pair<double, quint64>>> settling;
    auto timedRefresh = [&](const std::string &label) {
        const quint64 before = remembering->bytesRead();
        const auto start = Clock::now();
        for (const QString &id : state->ids) {
            benchmark::DoNotOptimize(remembering->updatedAt(id));
            benchmark::DoNotOptimize(remembering->hasConversationEvents(id));
        }
        settling.push_back({label,
                            {std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                             remembering->bytesRead() - before}});
    };
    state->appendToEveryLog();
    timedRefresh("first refresh after the appends");
    timedRefresh("next refresh, within 2 s");
    waitOutTimestampGranularity();
    timedRefresh("next refresh, after 2 s");
    timedRefresh("next refresh");

    std::printf("\n%-24s %14s %14s %14s %10s %10s\n", "refresh of all sessions", "incremental ms",
                "fresh-scan ms", "full-read ms", "vs fresh", "vs full");
    for (const char *scenario : {"FirstPass", "SteadyState", "After1KiB"}) {
        const std::string name(scenario);
        const double mine = meanMilliseconds[name + "/Incremental"];
        const double fresh = meanMilliseconds[name + "/FreshScanner"];
        const double full = meanMilliseconds[name + "/FullRead"];
        std::printf("%-24s %14.3f %14.1f %14.1f %9.1fx %9.1fx\n", scenario, mine, fresh, full, fresh / mine,
                    full / mine);
    }
    std::printf("\nthe incremental source once appends stop:\n");
    for (const auto &[label, figures] : settling)
        std::printf("  %-32s %10.3f ms %14llu bytes read\n", label.c_str(), figures.first,
                    static_cast<unsigned long long>(figures.second));
    std::printf("(%d sessions, %lld-byte logs, %llu log bytes read by the remembering source in all)\n",
                sessionCount, static_cast<long long>(logBytes),
                static_cast<unsigned long long>(remembering->bytesRead()));

    remembering.reset();
    state.reset(); // removes the temporary directory
    return 0;
}
