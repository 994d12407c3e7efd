// The conversation screen as a user meets it: the application's window (Main.qml over a root view) against
// our bridge running as its own process, measured on whatever platform Qt is given:
//
//     QT_QPA_PLATFORM=offscreen build/release/bench/DesktopScreenBench
//     xvfb-run -a -s "-screen 0 1280x820x24" build/release/bench/DesktopScreenBench
//
// (scripts/bench-screen runs both.) What is measured:
// - ColdStart: process start to the first frame of the window, built as main() builds it, and resident memory
//   once the idle screen has settled. It runs first, while the process is new, before any other window.
//   Where the time goes: before main() (loading and linking the libraries), the application object, the
//   view model, loading the QML, from the loaded window to its first frame, and the processor time of the
//   whole process until then (which a busy machine stretches less than the time on the clock).
// - OpenThread/N: a bridge session of N events (turns of a prompt, status, tool use, 18 streamed words, a
//   result) is mirrored into a thread; the user clicks it. Reported: the time to the first frame after the
//   click, to the frame that shows the whole thread scrolled to its end, switching away and back, and
//   resident memory before and after. N = 10^3 runs first as the baseline for the ratio at N = 10^5.
// - StreamFrames: the demo agent streams a marathon answer at 2,000 chunks per second into a new thread.
//   Reported: the chunk rate that reached the chat and its ratio to the rate asked for, the intervals between
//   swapped frames (median, 95th, 99th percentile, maximum, frames slower than 50 ms), and the longest delay
//   of a 2 ms timer on the UI thread. Figures a busy machine hardly changes: the UI thread's processor time
//   per frame and the time per frame it was ready to run but waited for a processor (Linux's schedstat), and
//   the 99th percentile of the frame intervals less that wait.

#include "DesktopScreenBenchFixture.h"

#include <atomic>

Q_IMPORT_QML_PLUGIN(Rirudez_DesktopPlugin)

using namespace rirudez;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

using namespace rirudez::screenbench;

// ---------------------------------------------------------------------------------------------

struct ColdStartFigures {
    double processToFrameMs = 0;
    double mainToFrameMs = 0;
    double applicationMs = 0;         // the QGuiApplication and the style
    double viewModelMs = 0;           // building the view model (asked for while the QML loads)
    double loadMs = 0;                // QQmlApplicationEngine::load, the view model included
    double loadToFrameMs = 0;         // from the loaded window to its first swapped frame
    double processorMs = 0;           // processor time of the whole process until the first frame
    double processorBeforeMainMs = 0; // of which before main()
    double idleMegabytes = 0;
    QString platform;
    QString graphicsApi;
};

Clock::time_point g_mainEntered;
double g_processorAtMain = 0;
Clock::time_point g_applicationBuilt;

// Processor time the whole process has used (every thread), in milliseconds.
double processCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The first window of the process, as main() builds it. The view model's bridge is absent (an empty state
// directory), as on a machine where no bridge runs: the first frame never waits for the bridge either way.
ColdStartFigures measureColdStart() {
    ColdStartFigures figures;
    QTemporaryDir emptyState;
    const QString state = emptyState.filePath(u"state"_s);
    figures.applicationMs = millisecondsBetween(g_mainEntered, g_applicationBuilt);
    RootView rootView([state, &figures] {
        const auto start = Clock::now();
        auto viewModel = makeViewModel(state, 9);
        figures.viewModelMs = millisecondsBetween(start, Clock::now());
        return viewModel;
    });
    const auto loadStart = Clock::now();
    Screen screen(rootView);
    const auto loaded = Clock::now();
    figures.loadMs = millisecondsBetween(loadStart, loaded);
    std::atomic<double> processorAtFrame = 0;
    QObject::connect(
        screen.window, &QQuickWindow::frameSwapped, screen.window,
        [&] {
            if (processorAtFrame == 0)
                processorAtFrame = processCpuMilliseconds();
        },
        Qt::DirectConnection);
    if (!waitUntil([&] { return screen.frames->count() > 0; }, 60s))
        qFatal("no frame was swapped");
    const Clock::time_point firstFrame = *screen.frames->firstSwapAfter(g_mainEntered);
    const double sinceFrame = millisecondsBetween(firstFrame, Clock::now());
    figures.mainToFrameMs = millisecondsBetween(g_mainEntered, firstFrame);
    figures.loadToFrameMs = millisecondsBetween(loaded, firstFrame);
    figures.processorMs = processorAtFrame;
    figures.processorBeforeMainMs = g_processorAtMain;
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
    state.counters["app_ms"] = g_coldStart.applicationMs;
    state.counters["view_model_ms"] = g_coldStart.viewModelMs;
    state.counters["qml_load_ms"] = g_coldStart.loadMs;
    state.counters["load_to_frame_ms"] = g_coldStart.loadToFrameMs;
    state.counters["cpu_to_frame_ms"] = g_coldStart.processorMs;
    state.counters["cpu_before_main_ms"] = g_coldStart.processorBeforeMainMs;
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
        const std::vector<FrameRecorder::Interval> details =
            connected.screen->frames->intervalDetails(from, ended);
        std::vector<double> intervals;
        std::vector<double> readyIntervals; // without the time the UI thread waited for a processor
        double uiCpuMs = 0;
        double uiWaitMs = 0;
        for (const FrameRecorder::Interval &interval : details) {
            intervals.push_back(interval.ms);
            readyIntervals.push_back(std::max(0.0, interval.ms - interval.uiWaitMs));
            uiCpuMs += interval.uiCpuMs;
            uiWaitMs += interval.uiWaitMs;
        }
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
        // What the machine's load does not change: the UI thread's processor time per frame, and the 99th
        // percentile of the frame intervals less the time the UI thread was ready but had no processor.
        const double frameCount = std::max<double>(1, double(details.size()));
        state.counters["ui_cpu_ms_per_frame"] = uiCpuMs / frameCount;
        state.counters["ui_wait_ms_per_frame"] = uiWaitMs / frameCount;
        state.counters["frame_p99_ready_ms"] = percentile(readyIntervals, 0.99);
        state.counters["rss_MB"] = residentMegabytes();
    }
}

} // namespace

int main(int argc, char **argv) {
    g_mainEntered = Clock::now();
    g_processorAtMain = processCpuMilliseconds();
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);
    g_applicationBuilt = Clock::now();
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
