// The conversation screen as a user meets it: the application's window (Main.qml over a root view) against
// our bridge running as its own process, measured on whatever platform Qt is given:
//
//     QT_QPA_PLATFORM=offscreen build/release/bench/DesktopScreenBench
//     xvfb-run -a -s "-screen 0 1280x820x24" build/release/bench/DesktopScreenBench
//
// (scripts/bench-screen runs both.) What is measured:
// - ColdStart: process start to the first frame of the window, built as main() builds it, and resident memory
//   once the idle screen has settled. It runs first, while the process is new, before any other window.
// - OpenThread/N: a bridge session of N events (turns of a prompt, status, tool use, 18 streamed words, a
//   result) is mirrored into a thread; the user clicks it. Reported: the time to the first frame after the
//   click, to the frame that shows the whole thread scrolled to its end, switching away and back, and
//   resident memory before and after. N = 10^3 runs first as the baseline for the ratio at N = 10^5.
// - StreamFrames: the demo agent streams a marathon answer at 2,000 chunks per second into a new thread.
//   Reported: the chunk rate that reached the chat and its ratio to the rate asked for, the intervals between
//   swapped frames (median, 95th, 99th percentile, maximum, frames slower than 50 ms), and the longest delay
//   of a 2 ms timer on the UI thread.

#include "BridgeServer.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingListModels.h"
#include "RootView.h"
#include "SymbolImageProvider.h"
#include "TurnImageProvider.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

Q_IMPORT_QML_PLUGIN(Rirudez_DesktopPlugin)

using namespace rirudez;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Current (not peak) resident memory of this process.
double residentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Processor time the calling thread has used, in milliseconds: what the UI thread spent on a step, which a
// busy machine stretches less than the time on the clock.
double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Seconds since the kernel started this process (its start time has a resolution of one clock tick, 10 ms).
double secondsSinceProcessStart() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    } // field 22: start time in clock ticks after boot
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - std::stod(field) / double(sysconf(_SC_CLK_TCK));
}

// Runs the event loop until `condition` holds or the deadline passes.
// Runs the event loop until `condition` holds or the deadline passes. It sleeps between events (a 1 ms timer
// wakes it to look again), so the waiting itself takes no processor time from the screen or the bridge.
bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    QTimer wake;
    wake.start(1);
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Every frame the window swaps, stamped on the thread that renders it.
class FrameRecorder {
public:
    explicit FrameRecorder(QQuickWindow *window) {
        QObject::connect(
            window, &QQuickWindow::frameSwapped, window,
            [this] {
                const std::lock_guard lock(m_mutex);
                m_swaps.push_back(Clock::now());
            },
            Qt::DirectConnection);
    }
    std::size_t count() const {
        const std::lock_guard lock(m_mutex);
        return m_swaps.size();
    }
    // The first swap at or after `time`.
    std::optional<Clock::time_point> firstSwapAfter(Clock::time_point time) const {
        const std::lock_guard lock(m_mutex);
        const auto found = std::lower_bound(m_swaps.begin(), m_swaps.end(), time);
        return found == m_swaps.end() ? std::nullopt : std::optional(*found);
    }
    // Intervals between consecutive swaps inside [from, to], in milliseconds.
    std::vector<double> intervals(Clock::time_point from, Clock::time_point to) const {
        const std::lock_guard lock(m_mutex);
        std::vector<double> result;
        for (std::size_t i = 1; i < m_swaps.size(); ++i) {
            if (m_swaps[i - 1] >= from && m_swaps[i] <= to)
                result.push_back(millisecondsBetween(m_swaps[i - 1], m_swaps[i]));
        }
        return result;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_swaps;
};

// The application window over a root view, built as main() builds it.
struct Screen {
    std::unique_ptr<QQmlApplicationEngine> engine = std::make_unique<QQmlApplicationEngine>();
    QQuickWindow *window = nullptr;
    std::unique_ptr<FrameRecorder> frames;

    explicit Screen(RootView &rootView) {
        engine->addImportPath(u"qrc:/qt/qml"_s);
        engine->addImageProvider(u"symbol"_s, new SymbolImageProvider);
        engine->addImageProvider(u"turnimage"_s, new TurnImageProvider(rootView.codingViewModel()));
        engine->setInitialProperties(
            {{u"rootView"_s, QVariant::fromValue(static_cast<QObject *>(&rootView))}});
        engine->load(QUrl(u"qrc:/qt/qml/Rirudez/Desktop/Main.qml"_s));
        if (engine->rootObjects().isEmpty())
            qFatal("Main.qml did not load");
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
        frames = std::make_unique<FrameRecorder>(window);
    }
    ~Screen() {
        window->close();
        engine.reset();
        for (int round = 0; round < 3; ++round) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
    }
    QQuickItem *find(const QString &objectName) const {
        QList<QQuickItem *> pending{window->contentItem()};
        while (!pending.isEmpty()) {
            QQuickItem *item = pending.takeFirst();
            if (item->objectName() == objectName && item->isVisible())
                return item;
            pending.append(item->childItems());
        }
        return nullptr;
    }
};

std::unique_ptr<DesktopCodingHarnessViewModel> makeViewModel(const QString &stateDirectory, int port) {
    auto health =
        std::make_shared<LocalDesktopCodingBridgeHealthSource>(stateDirectory, u"127.0.0.1"_s, port);
    auto recency = std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(stateDirectory);
    auto client = std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>());
    return std::make_unique<DesktopCodingHarnessViewModel>(
        DesktopCodingHarnessViewModel::sampleProjects(),
        DesktopCodingHarnessViewModel::fallbackModelCatalog(), health, health, recency, client);
}

// The words of one streamed answer, and the word that ends the last answer of a prepared log.
constexpr int wordsPerTurn = 18;
constexpr int eventsPerTurn = wordsPerTurn + 7;
const QString endMarker = u"end-of-prepared-log"_s;

// A bridge state directory with the demo project and a session of `events` events (whole turns), plus a newer
// small session that the screen selects at start.
struct PreparedState {
    QTemporaryDir dir;
    QString state = dir.filePath(u"state"_s);
    QString largeSessionID;
    int turns = 0;

    explicit PreparedState(int events) {
        server::BridgeServerOptions options;
        options.stateDirectory = state;
        options.port = 0;
        server::BridgeServer bridge(options);
        QString error;
        if (!bridge.start(&error))
            qFatal("bridge did not start: %s", qPrintable(error));
        const QString project = bridge.projects().ensureDemoProject(false).value_or(QString());
        const auto create = [&] {
            RepoSessionSummary summary;
            summary.projectID = project;
            summary.agent = Agent::codex;
            summary.access = RepoAccessMode::edit;
            auto created = bridge.sessions().create(summary);
            if (!created)
                qFatal("session not created: %s", qPrintable(created.error()));
            return created->sessionID;
        };
        // The long log is written in one go, line by line as the store writes them (appending through the
        // store opens the file for every event); the bridge process reads it at start.
        QByteArray lines;
        std::uint64_t sequence = 0;
        const auto append = [&](const QString &session, RepoSessionEvent::Value value) {
            if (session == largeSessionID) {
                lines +=
                    server::SessionStore::encodeLine(++sequence, RepoSessionEvent{std::move(value)}) + '\n';
            } else if (!bridge.sessions().append(session, RepoSessionEvent{std::move(value)})) {
                qFatal("append failed");
            }
        };

        largeSessionID = create();
        sequence = bridge.sessions().lastSequence(largeSessionID);
        turns = std::max(1, events / eventsPerTurn);
        for (int turn = 0; turn < turns; ++turn) {
            append(largeSessionID,
                   RepoSessionEvent::UserMessage{
                       u"m%1"_s.arg(turn), u"Step %1: tidy the parser module"_s.arg(turn), {}});
            append(largeSessionID, RepoSessionEvent::Status{TurnState::received});
            append(largeSessionID, RepoSessionEvent::Status{TurnState::working});
            append(largeSessionID, RepoSessionEvent::ToolUse{u"Read src/parser_%1.cpp"_s.arg(turn % 97)});
            append(largeSessionID, RepoSessionEvent::ToolUse{u"Grep \"token\""_s});
            for (int word = 0; word < wordsPerTurn; ++word) {
                const bool last = turn == turns - 1 && word == wordsPerTurn - 1;
                append(largeSessionID, RepoSessionEvent::AssistantText{
                                           last ? endMarker : u"word%1 "_s.arg((turn * 7 + word) % 500)});
            }
            append(largeSessionID, RepoSessionEvent::Result{u"Done."_s, std::nullopt});
            append(largeSessionID, RepoSessionEvent::Status{TurnState::done});
        }
        QFile largeLog(state + u"/sessions/"_s + largeSessionID + u"/events.jsonl"_s);
        if (!largeLog.open(QIODevice::WriteOnly | QIODevice::Append) || largeLog.write(lines) != lines.size())
            qFatal("cannot write the long log");
        largeLog.close();
        const QString smallSessionID = create();
        append(smallSessionID, RepoSessionEvent::UserMessage{u"s1"_s, u"hello"_s, {}});
        append(smallSessionID, RepoSessionEvent::AssistantText{u"Hello."_s});

        // The small session is the more recent one, so the start-up refresh selects it and not the long one.
        const auto age = [&](const QString &session, int seconds) {
            QFile log(state + u"/sessions/"_s + session + u"/events.jsonl"_s);
            if (log.open(QIODevice::ReadWrite))
                log.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                                QFileDevice::FileModificationTime);
        };
        age(largeSessionID, 3600);
        age(smallSessionID, 60);
    }
};

// zad-ezarur-bridge as its own process on a prepared state directory and a free port.
struct BridgeProcess {
    QProcess process;
    int port = 0;

    BridgeProcess(const QString &stateDirectory, const QStringList &extraArguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_LOGGING_RULES"_s, u"zad.bridge.*.info=false"_s);
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(RIRUDEZ_BRIDGE_EXECUTABLE),
                      QStringList{u"--state-dir"_s, stateDirectory, u"--port"_s, u"0"_s, u"--demo"_s} +
                          extraArguments);
        static const QRegularExpression portLine(u"^port (\\d+)$"_s, QRegularExpression::MultilineOption);
        QByteArray output;
        const bool started = waitUntil(
            [&] {
                output += process.readAllStandardOutput();
                const auto match = portLine.match(QString::fromUtf8(output));
                if (match.hasMatch())
                    port = match.captured(1).toInt();
                return port > 0 || process.state() == QProcess::NotRunning;
            },
            30s);
        if (!started || port == 0)
            qFatal("the bridge did not start: %s", output.constData());
    }
    ~BridgeProcess() {
        process.terminate();
        if (!process.waitForFinished(10'000))
            process.kill();
    }
};

// A connected screen: bridge process, root view and window, waiting until the start-up refresh has mirrored
// the bridge's sessions.
struct ConnectedScreen {
    BridgeProcess bridge;
    std::unique_ptr<RootView> rootView;
    std::unique_ptr<Screen> screen;
    DesktopCodingHarnessViewModel *vm = nullptr;

    ConnectedScreen(const QString &stateDirectory, const QStringList &bridgeArguments, int expectedThreads)
        : bridge(stateDirectory, bridgeArguments) {
        const int port = bridge.port;
        rootView = std::make_unique<RootView>(
            [stateDirectory, port] { return makeViewModel(stateDirectory, port); });
        screen = std::make_unique<Screen>(*rootView);
        vm = rootView->codingViewModel();
        const auto mirrored = [&] {
            return std::count_if(vm->threads().cbegin(), vm->threads().cend(),
                                 [](const DesktopCodingThread &t) {
                                     return t.bridgeSessionID.has_value();
                                 }) >= expectedThreads;
        };
        if (!waitUntil([&] { return mirrored() && vm->selectedThread() != nullptr; }, 60s))
            qFatal("the bridge's sessions were not mirrored: %s",
                   qPrintable(vm->bridgeRefreshError().value_or(u"no error"_s)));
        // The measurements drive the selection themselves; a later poll would bring sessions forward.
        vm->stopBridgeSessionDiscoveryLoop();
        settle();
    }
    ~ConnectedScreen() {
        screen.reset();
        rootView.reset();
        QCoreApplication::processEvents();
    }
    void settle() {
        const std::size_t before = screen->frames->count();
        screen->window->requestUpdate();
        waitUntil([&] { return screen->frames->count() > before; }, 5s);
        waitUntil([] { return false; }, 200ms);
    }
    QString threadFor(const QString &sessionID) const {
        for (const DesktopCodingThread &thread : vm->threads())
            if (thread.bridgeSessionID == sessionID)
                return thread.id;
        qFatal("no thread mirrors session %s", qPrintable(sessionID));
    }
    // Selects a thread as a click on its row does.
    void open(const QString &threadID) {
        vm->selectThread(threadID);
        vm->requestSubscribeToSelectedBridgeSession();
    }
};

// ---------------------------------------------------------------------------------------------

struct ColdStartFigures {
    double processToFrameMs = 0;
    double mainToFrameMs = 0;
    double loadMs = 0;
    double idleMegabytes = 0;
    QString platform;
    QString graphicsApi;
};

Clock::time_point g_mainEntered;

// The first window of the process, as main() builds it. The view model's bridge is absent (an empty state
// directory), as on a machine where no bridge runs: the first frame never waits for the bridge either way.
ColdStartFigures measureColdStart() {
    ColdStartFigures figures;
    QTemporaryDir emptyState;
    const QString state = emptyState.filePath(u"state"_s);
    RootView rootView([state] { return makeViewModel(state, 9); });
    const auto loadStart = Clock::now();
    Screen screen(rootView);
    figures.loadMs = millisecondsBetween(loadStart, Clock::now());
    if (!waitUntil([&] { return screen.frames->count() > 0; }, 60s))
        qFatal("no frame was swapped");
    const Clock::time_point firstFrame = *screen.frames->firstSwapAfter(g_mainEntered);
    const double sinceFrame = millisecondsBetween(firstFrame, Clock::now());
    figures.mainToFrameMs = millisecondsBetween(g_mainEntered, firstFrame);
    figures.processToFrameMs = secondsSinceProcessStart() * 1000.0 - sinceFrame;
    waitUntil([] { return false; }, 1s);
    figures.idleMegabytes = residentMegabytes();
    figures.platform = QGuiApplication::platformName();
    switch (screen.window->rendererInterface()->graphicsApi()) {
    case QSGRendererInterface::Software:
        figures.graphicsApi = u"software"_s;
        break;
    case QSGRendererInterface::OpenGL:
        figures.graphicsApi = u"opengl"_s;
        break;
    case QSGRendererInterface::Vulkan:
        figures.graphicsApi = u"vulkan"_s;
        break;
    default:
        figures.graphicsApi = u"other"_s;
        break;
    }
    return figures;
}

ColdStartFigures g_coldStart;

void BM_ColdStart(benchmark::State &state) {
    for (auto _ : state)
        state.SetIterationTime(g_coldStart.processToFrameMs / 1000.0);
    state.counters["process_to_frame_ms"] = g_coldStart.processToFrameMs;
    state.counters["main_to_frame_ms"] = g_coldStart.mainToFrameMs;
    state.counters["qml_load_ms"] = g_coldStart.loadMs;
    state.counters["idle_rss_MB"] = g_coldStart.idleMegabytes;
}

// ---------------------------------------------------------------------------------------------

std::map<std::int64_t, double> g_openMs;

void BM_OpenThread(benchmark::State &state) {
    const int events = int(state.range(0));
    for (auto _ : state) {
        PreparedState prepared(events);
        ConnectedScreen connected(prepared.state, {}, 2);
        auto *vm = connected.vm;
        auto *chat = qobject_cast<QAbstractItemModel *>(vm->chatEventModel());
        const QString large = connected.threadFor(prepared.largeSessionID);
        const QString shortThread = vm->selectedThread()->id;
        if (shortThread == large)
            state.SkipWithError("the start-up refresh selected the long session");
        const double idleMegabytes = residentMegabytes();
        const int expectedRows = 2 * prepared.turns;
        QQuickItem *stream = connected.screen->find(u"conversationStream"_s);

        // The last pixel of the content is in view (the list keeps its bottom margin below the last row).
        const auto atBottom = [&] {
            const auto number = [&](const char *name) { return stream->property(name).toDouble(); };
            return number("contentY") + number("height") >= number("contentHeight") + number("originY") - 1;
        };
        // When the model last came to hold every row (the replay applied), before the list shows its end.
        std::optional<Clock::time_point> allRows;
        Clock::time_point openedAt;
        double openCpuMs = 0;
        const auto whole = [&] {
            const int rows = chat->rowCount();
            const bool complete = rows == expectedRows && chat->index(rows - 1, 0)
                                                              .data(DesktopCodingEventListModel::SummaryRole)
                                                              .toString()
                                                              .endsWith(endMarker);
            if (complete && !allRows)
                allRows = Clock::now();
            return complete && atBottom() && !stream->property("autoScrolling").toBool();
        };
        // Opens a thread and waits for the frame that shows all of it at its end.
        const auto openAndWait = [&](const QString &thread, bool expectWhole) {
            const auto start = Clock::now();
            const double cpuAtStart = threadCpuMilliseconds();
            allRows.reset();
            openedAt = start;
            connected.open(thread);
            if (!waitUntil(
                    expectWhole ? std::function<bool()>(whole) : [&] { return chat->rowCount() == 2; },
                    600s)) {
                const int rows = chat->rowCount();
                const std::string why =
                    QStringLiteral(
                        "the thread did not show completely: %1 of %2 rows, last row \"%3\", at end %4")
                        .arg(rows)
                        .arg(expectWhole ? expectedRows : 2)
                        .arg(chat->index(rows - 1, 0)
                                 .data(DesktopCodingEventListModel::SummaryRole)
                                 .toString()
                                 .right(40))
                        .arg(QStringLiteral("%1 y=%2 h=%3 ch=%4 oy=%5")
                                 .arg(atBottom())
                                 .arg(stream->property("contentY").toDouble())
                                 .arg(stream->property("height").toDouble())
                                 .arg(stream->property("contentHeight").toDouble())
                                 .arg(stream->property("originY").toDouble()))
                        .toStdString();
                state.SkipWithError(why.c_str());
            }
            const auto shown = Clock::now();
            openCpuMs = threadCpuMilliseconds() - cpuAtStart;
            waitUntil([&] { return connected.screen->frames->firstSwapAfter(shown).has_value(); }, 5s);
            const auto firstFrame = connected.screen->frames->firstSwapAfter(start).value_or(shown);
            const auto lastFrame = connected.screen->frames->firstSwapAfter(shown).value_or(shown);
            return std::pair{millisecondsBetween(start, firstFrame), millisecondsBetween(start, lastFrame)};
        };

        const auto [firstFrameMs, wholeMs] = openAndWait(large, true);
        const double allRowsMs = millisecondsBetween(openedAt, allRows.value_or(openedAt));
        const double wholeCpuMs = openCpuMs;
        connected.settle();
        const double openMegabytes = residentMegabytes();
        openAndWait(shortThread, false);
        connected.settle();
        const auto [backFirstFrameMs, backWholeMs] = openAndWait(large, true);
        connected.settle();

        state.SetIterationTime(wholeMs / 1000.0);
        g_openMs[events] = wholeMs;
        state.counters["rows"] = chat->rowCount();
        state.counters["first_frame_ms"] = firstFrameMs;
        state.counters["whole_thread_ms"] = wholeMs;
        state.counters["all_rows_ms"] = allRowsMs;
        state.counters["ui_cpu_ms"] = wholeCpuMs;
        state.counters["back_first_frame_ms"] = backFirstFrameMs;
        state.counters["back_whole_ms"] = backWholeMs;
        state.counters["idle_rss_MB"] = idleMegabytes;
        state.counters["open_rss_MB"] = openMegabytes;
        if (events == 100000 && g_openMs.count(1000))
            state.counters["ratio_vs_1e3"] = wholeMs / g_openMs[1000];
    }
}

// ---------------------------------------------------------------------------------------------

double percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(fraction * double(values.size())))];
}

void BM_StreamFrames(benchmark::State &state) {
    const double chunkDelayMs = 1000.0 / double(state.range(0));
    for (auto _ : state) {
        PreparedState prepared(0);
        ConnectedScreen connected(prepared.state, {u"--chunk-delay-ms"_s, QString::number(chunkDelayMs)}, 2);
        auto *vm = connected.vm;
        auto *chat = qobject_cast<QAbstractItemModel *>(vm->chatEventModel());
        vm->startThread();
        connected.settle();

        std::int64_t rowUpdates = 0;
        std::optional<Clock::time_point> firstChunk;
        const auto counted = [&] {
            if (!vm->isSending())
                return;
            ++rowUpdates;
            if (!firstChunk)
                firstChunk = Clock::now();
        };
        const auto changed = QObject::connect(chat, &QAbstractItemModel::dataChanged, counted);
        const auto inserted = QObject::connect(chat, &QAbstractItemModel::rowsInserted, counted);

        // How late a 2 ms timer on the UI thread fires: the longest stretch the thread was busy.
        double longestLateMs = 0;
        auto lastTick = Clock::now();
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            longestLateMs = std::max(longestLateMs, millisecondsBetween(lastTick, now) - 2.0);
            lastTick = now;
        });

        vm->setPromptText(u"Write a marathon answer about the parser"_s);
        const auto sent = Clock::now();
        vm->requestSendPrompt();
        lastTick = Clock::now();
        probe.start(2);
        if (!waitUntil([&] { return vm->isSending(); }, 10s) ||
            !waitUntil([&] { return !vm->isSending(); }, 600s))
            state.SkipWithError("the turn did not end");
        const auto ended = Clock::now();
        probe.stop();
        QObject::disconnect(changed);
        QObject::disconnect(inserted);

        // One word per chunk: the words of the answer row are the chunks that reached the chat.
        qsizetype chunks = 0;
        for (int row = 0; row < chat->rowCount(); ++row) {
            const auto index = chat->index(row, 0);
            if (index.data(DesktopCodingEventListModel::KindRole).toInt() ==
                int(DesktopCodingEventKind::assistantText))
                chunks += index.data(DesktopCodingEventListModel::SummaryRole)
                              .toString()
                              .split(u' ', Qt::SkipEmptyParts)
                              .size();
        }
        const auto from = firstChunk.value_or(sent);
        const std::vector<double> intervals = connected.screen->frames->intervals(from, ended);
        const double streamSeconds = millisecondsBetween(from, ended) / 1000.0;
        state.SetIterationTime(streamSeconds);
        state.counters["chunks"] = double(chunks);
        state.counters["chunks_per_s"] = double(chunks) / streamSeconds;
        state.counters["rate_vs_asked"] = double(chunks) / streamSeconds / double(state.range(0));
        state.counters["row_updates"] = double(rowUpdates);
        state.counters["frames"] = double(intervals.size());
        state.counters["fps"] = double(intervals.size()) / streamSeconds;
        state.counters["frame_p50_ms"] = percentile(intervals, 0.50);
        state.counters["frame_p95_ms"] = percentile(intervals, 0.95);
        state.counters["frame_p99_ms"] = percentile(intervals, 0.99);
        state.counters["frame_max_ms"] =
            intervals.empty() ? 0 : *std::max_element(intervals.begin(), intervals.end());
        state.counters["frames_over_50ms"] =
            double(std::count_if(intervals.begin(), intervals.end(), [](double ms) { return ms > 50; }));
        state.counters["ui_late_max_ms"] = longestLateMs;
        state.counters["rss_MB"] = residentMegabytes();
    }
}

} // namespace

int main(int argc, char **argv) {
    g_mainEntered = Clock::now();
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);
    g_coldStart = measureColdStart();

    benchmark::Initialize(&argc, argv);
    benchmark::AddCustomContext("qt_platform", g_coldStart.platform.toStdString());
    benchmark::AddCustomContext("scene_graph", g_coldStart.graphicsApi.toStdString());
    benchmark::RegisterBenchmark("ColdStart", BM_ColdStart)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OpenThread", BM_OpenThread)
        ->Arg(1000)
        ->Arg(100000)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("StreamFrames", BM_StreamFrames)
        ->Arg(2000) // chunks per second asked of the demo agent
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
